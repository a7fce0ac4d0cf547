"""The stand-in plays a window tree dumped by chatdraft_inspect.exe: a dump of
its own surface played back gives chatdraft the same documents apart from
handles, a redacted dump names no room yet still plays, the inspector only
reads, a tree of another layout behaves by the roles the stand-in reads in
it, and a broken dump is refused.

Run with CHATDRAFT_WINEPREFIX and CHATDRAFT_WIN_BUILD set:
    python3 -m unittest -v test_tree
"""

import json
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (Standin, StandinError, chatdraft_exe, poke, prefix_from_env,  # noqa: E402
                     run_exe, win_build_dir, win_path)
from harness.requests import run_request  # noqa: E402

WM_CLOSE, VK_RETURN, VK_DOWN = 0x0010, 0x0D, 0x28
MAIN_TITLE = "카카오톡"
HANDLE_KEY = re.compile(rb'"(\w*hwnd)":(\d+)')


def inspect_exe():
    return os.path.join(win_build_dir(), "chatdraft_inspect.exe")


def handles_named(document, s):
    """A document with every window handle replaced by the role and title of
    the stand-in window it names, and the client's process id by a word."""
    names = {w.hwnd: "%s:%s" % (w.role, w.title or w.room) for w in s.windows()}
    named = HANDLE_KEY.sub(lambda m: b'"%s":"%s"' % (m.group(1), names.get(int(m.group(2)), "?").encode()),
                           document)
    return re.sub(rb'"kakao_pid":\d+', b'"kakao_pid":"pid"', named)


def tree_shape(dump):
    """A dumped tree with handles replaced by positions in it and process ids left out."""
    tree = json.loads(dump)
    at = {w["hwnd"]: i + 1 for i, w in enumerate(tree["windows"])}
    windows = [dict(w, hwnd=at[w["hwnd"]], parent=at.get(w["parent"], 0), pid=None) for w in tree["windows"]]
    return [p["image"] for p in tree["processes"]], windows


class TreeTestCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()
        for exe in (chatdraft_exe(), inspect_exe()):
            assert os.path.isfile(exe), "no %s" % exe
        cls.dir = tempfile.mkdtemp(prefix="chatdraft_tree_")
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)

    @classmethod
    def start(cls, scenario=None, tree=None):
        s = Standin(scenario, prefix=cls.prefix, tree=tree)
        s.start()
        cls.addClassCleanup(s.stop)
        return s

    @classmethod
    def inspect(cls, *args):
        """The document chatdraft_inspect.exe writes (diagnosis, or --dump ...)."""
        out = os.path.join(cls.dir, "inspect.json")
        args = [a if a != "OUT" else win_path(out) for a in args]
        r = run_exe(inspect_exe(), args, timeout=60, prefix=cls.prefix)
        assert (r.returncode, r.stdout, r.stderr) == (0, b"", b""), r
        with open(out, "rb") as f:
            return f.read()

    @classmethod
    def probe(cls):
        r = run_exe(chatdraft_exe(), ["--probe"], timeout=60, prefix=cls.prefix)
        assert r.returncode == 0, r
        return r.stdout



class RoundTripTest(TreeTestCase):
    """Dump the stand-in's own surface, stop it, play the dump: chatdraft
    sees the same client and gets the same outcome of a draft and a send."""

    SCENARIO = 'lock hidden\nroom "Team Alpha"\nroom "가족 단톡방"\nroom "Odd box" input=EditLike\n'
    REQUESTS = [{"room": "Team Alpha", "message": "안녕하세요\n내일 봐요"},
                {"room": "Team Alpha", "message": "보냅니다", "send": True, "force": True}]

    @classmethod
    def run_all(cls, s):
        """Probe, dump, then the requests, each document with its handles named."""
        documents = [handles_named(cls.probe(), s)]
        dump = cls.inspect("--dump", "OUT")
        documents += [handles_named(run_request(r, prefix=cls.prefix).raw, s) for r in cls.REQUESTS]
        return documents, dump

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        original = cls.start(cls.SCENARIO)
        cls.before, cls.dump = cls.run_all(original)
        original.stop()  # one client on the desktop at a time
        cls.played = cls.start(tree=cls.dump)
        cls.after, cls.replayed_dump = cls.run_all(cls.played)

    def test_probe_draft_and_send_give_the_same_documents(self):
        for name, before, after in zip(["probe"] + self.REQUESTS, self.before, self.after):
            with self.subTest(name):
                self.assertEqual(after, before)
                self.assertNotIn(b'"status":"error"', after)
        rooms = json.loads(self.after[0])["open_rooms"]
        self.assertEqual(sorted(r["title"] for r in rooms), ["Team Alpha", "가족 단톡방"])
        sent = self.played.wait_for(lambda e: e.name == "send")
        self.assertEqual((sent["room"], sent["text"]), ("Team Alpha", "보냅니다"))

    def test_played_tree_dumps_as_the_original(self):
        # Classes, texts, ids, parents, visibility, places, sizes, the order
        # of windows and children, the boxes' lengths, Wine's own IME window.
        self.assertEqual(tree_shape(self.replayed_dump), tree_shape(self.dump))


class RedactedTest(TreeTestCase):
    TITLES = ["Team Alpha", "가족 단톡방", "Project Beta 🚀", "Draft"]

    def test_redacted_dump_names_no_room_and_still_plays(self):
        s = self.start("".join('room "%s"\n' % t for t in self.TITLES[:-1]) + 'room "Draft" draft="비밀 초안"\n')
        rooms = len(json.loads(self.probe())["open_rooms"])
        dump = self.inspect("--dump", "OUT", "--redact")
        s.stop()  # one client on the desktop at a time
        for text in self.TITLES + ["비밀 초안"]:
            self.assertNotIn(json.dumps(text, ensure_ascii=False).encode()[1:-1], dump)
            self.assertNotIn(json.dumps(text).encode()[1:-1], dump)
        played = self.start(tree=dump)
        self.assertEqual(len(json.loads(self.probe())["open_rooms"]), rooms)
        units = [len(t.encode("utf-16-le")) // 2 for t in self.TITLES]
        self.assertEqual(sorted(r.title for r in played.all_rooms()), sorted("x" * n for n in units))


class InspectorReadsOnlyTest(TreeTestCase):
    def test_diagnosis_and_dumps_send_only_length_queries_to_boxes(self):
        s = self.start("search_box hidden\nresult_list hidden\nlock hidden\nroom \"Team Alpha\" draft=\"초안\"\n"
                       'room "Family" placeholder\nroom "Odd box" input=EditLike draft="x"\nroom "No box" input=none\n')
        mark = s.mark()
        for args in (["OUT"], ["--dump", "OUT"], ["--dump", "OUT", "--redact"]):
            self.inspect(*args)
        events = s.since(mark)
        # Anything else (a write, a click, a key, a show, a close, an
        # activation, a focus or foreground change, a search) is logged too.
        self.assertEqual([e.line for e in events if e.name != "msg" or e["name"] != "WM_GETTEXTLENGTH"
                          or e["role"] not in ("input", "search_box")], [])
        boxes = {r.input for r in s.all_rooms() if r.input} | {s.hwnd("search_box")}
        self.assertEqual({e["hwnd"] for e in events}, boxes)


def window(hwnd, parent, cls, text="", visible=True, **extra):
    return dict(hwnd=hwnd, parent=parent, pid=7, **{"class": cls}, text=text, id=hwnd % 10, visible=visible,
                x=0, y=0, width=400, height=600, **extra)


def dump_of(windows):
    return json.dumps({"format": "chatdraft window tree", "version": 1, "redacted": False,
                       "processes": [{"pid": 7, "image": "KakaoTalk.exe"}], "windows": windows}).encode()


# Another client's layout, with the role the stand-in is to read in each
# window: views of another class with suffixed names, a room's input box
# inside a panel, a room whose box did not answer, system windows.
LAYOUT = [
    ("unknown", window(10, 0, "EVA_Window", "Notice")),
    ("room", window(20, 0, "EVA_Window_Dblclk", "Project Beta")),
    ("unknown", window(21, 20, "EVA_ChildWindow")),
    ("input", window(22, 21, "RICHEDIT50W", text_length=3)),
    ("room", window(30, 0, "EVA_Window_Dblclk", "Team Alpha")),
    ("input", window(31, 30, "RichEdit20W", text_length=0)),
    ("room", window(35, 0, "EVA_Window_Dblclk", "Frozen")),
    ("input", window(36, 35, "RICHEDIT50W", text_length=-1)),
    ("main", window(40, 0, "EVA_Window_Dblclk", MAIN_TITLE)),
    ("online_view", window(41, 40, "EVA_ChildWindow", "OnlineMainView_0x1")),
    ("chat_list_view", window(42, 41, "EVA_ChildWindow", "ChatRoomListView_0x2")),
    ("search_box", window(43, 42, "Edit", text_length=0)),
    ("tab_strip", window(44, 42, "EVA_Window_Dblclk")),
    ("room_list", window(45, 42, "EVA_VH_ListControl_Dblclk", "ChatRoomListCtrl_0x3")),
    ("search_result_list", window(46, 42, "EVA_VH_ListControl_Dblclk", "SearchListCtrl_0x4", False)),
    ("lock_view", window(47, 40, "EVA_ChildWindow", "LockModeView_0x5", False)),
    ("untitled", window(50, 0, "EVA_Window_Dblclk", "", False)),
    (None, window(60, 0, "IME", "Default IME", False)),
]
LAYOUT_DUMP = dump_of([w for _, w in LAYOUT])


class LayoutTest(TreeTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.s = cls.start(tree=LAYOUT_DUMP)

    def poke(self, *args):
        return poke(*args, prefix=self.prefix)

    def test_roles_read_from_the_tree(self):
        made = [e for e in self.s.events[:self.s.ready_index] if e.name == "window"]
        self.assertEqual(sorted((e["role"], e["class"], e["visible"]) for e in made),
                         sorted((r, w["class"], int(w["visible"])) for r, w in LAYOUT if r))
        self.assertEqual(sorted(e.get("title", "") for e in made if e["role"] != "input"),
                         sorted(w["text"] for r, w in LAYOUT if r and r != "input"))
        self.assertEqual(self.s.wait_for(lambda e: e.name == "hang", since=0)["room"], "Frozen")

    def test_enter_in_a_box_inside_a_panel_sends_its_placeholder_draft(self):
        mark = self.s.mark()
        beta = self.s.room("Project Beta")
        self.assertNotEqual(beta.windows[1].parent, beta.hwnd)
        self.poke("key", beta.input, VK_RETURN)
        self.s.wait_for(lambda e: e.name == "emptied", since=mark)
        self.assertEqual([(e["room"], e["text"]) for e in self.s.find(lambda e: e.name == "send", since=mark)],
                         [("Project Beta", "xxx")])

    def test_search_rows_and_close_follow_the_tree(self):
        s, old = self.s, self.s.room("Team Alpha")
        box, results, rows, tabs = (s.hwnd(r) for r in ("search_box", "search_result_list", "room_list", "tab_strip"))
        stay = [s.hwnd("main"), s.hwnd("untitled")]
        mark = s.mark()
        self.poke("post", old.hwnd, WM_CLOSE, 0, 0, *[a for h in stay for a in ("post", h, WM_CLOSE, 0, 0)],
                  "settext", box, "a", "key", box, VK_RETURN, "sleep", 100,
                  *[a for _ in range(2) for a in ("key", results, VK_DOWN, "key", results, VK_RETURN)],
                  "settext", box, "", "key", box, VK_RETURN,
                  "click", tabs, 54, 25, *[a for y in (48, 291) for a in ("dblclick", rows, 200, y)])
        s.wait_for(lambda e: e.name == "row_empty", since=mark)
        kinds = ("closed", "search", "search_none", "opened", "already_open", "row", "row_empty")
        self.assertEqual([(e.name, e.get("room", e.get("query"))) for e in s.find(lambda e: e.name in kinds, since=mark)],
                         [("closed", "Team Alpha"), ("search", "a"), ("already_open", "Project Beta"),
                          ("opened", "Team Alpha"), ("search_none", None), ("search", ""),
                          ("row", "Project Beta"), ("already_open", "Project Beta"), ("row_empty", None)])
        new = s.room("Team Alpha")
        out = self.poke("iswindow", old.hwnd, "iswindow", stay[0], "iswindow", stay[1], "parent", new.input)
        self.assertEqual([o["value"] for o in out], [0, 1, 1, new.hwnd])


class BrokenDumpTest(TreeTestCase):
    def test_a_broken_dump_is_refused_before_any_window(self):
        good = dump_of([w for _, w in LAYOUT[:4]])
        cases = [  # name, dump, what the error line says (None: the dump plays)
            ("good", good, None),
            ("not JSON", b"chatdraft window tree", "character 1"),
            ("text after it", good + b" {}", "text after the document"),
            ("not UTF-8", good.replace(b"Notice", b"N\xffotice"), "not valid UTF-8"),
            ("version 2", good.replace(b'"version": 1', b'"version": 2'), "unknown version"),
            ("no class", good.replace(b'"class": "EVA_ChildWindow", ', b""), 'without "class"'),
            ("a fraction", good.replace(b'"x": 0', b'"x": 0.5', 1), "expected an integer"),
            ("repeated key", good.replace(b'"id": 0', b'"id": 0, "id": 1', 1), "repeated key"),
            ("handle twice", good.replace(b'"hwnd": 22', b'"hwnd": 21'), "listed twice"),
            ("parent unknown", good.replace(b'"parent": 21', b'"parent": 99'), "parent"),
        ]
        for name, dump, error in cases:
            with self.subTest(name):
                s = Standin(prefix=self.prefix, tree=dump, ready_timeout=15)
                if error is None:
                    s.start()
                    s.stop()
                    continue
                with self.assertRaises(StandinError):
                    s.start()
                self.assertEqual(s.proc.returncode, 2)
                self.assertEqual([(e.name, e["stage"]) for e in s.events if e.name != "start"],
                                 [("error", "tree")])
                self.assertIn(error, s.events[-1]["what"])


if __name__ == "__main__":
    unittest.main()
