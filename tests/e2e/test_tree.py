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

WM_CLOSE = 0x0010
VK_RETURN, VK_DOWN = 0x0D, 0x28
MAIN_TITLE = "카카오톡"
HANDLE_KEY = re.compile(rb'"(\w*hwnd)":(\d+)')


def inspect_exe():
    return os.path.join(win_build_dir(), "chatdraft_inspect.exe")


def handles_named(document, *standins):
    """A document with every window handle replaced by the role and title of
    the stand-in window it names, and the client's process id by a word."""
    names = {}
    for s in standins:
        for w in s.windows():
            names[w.hwnd] = "%s:%s" % (w.role, w.title or w.room)
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

    def poke(self, *args):
        return poke(*args, prefix=self.prefix)


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
        for request in cls.REQUESTS:
            documents.append(handles_named(run_request(request, prefix=cls.prefix).raw, s))
        return documents, dump

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        original = cls.start(cls.SCENARIO)
        cls.before, cls.dump = cls.run_all(original)
        original.stop()  # one client on the desktop at a time
        cls.played = cls.start(tree=cls.dump)
        cls.after, cls.replayed_dump = cls.run_all(cls.played)

    def test_probe_is_the_same_apart_from_handles(self):
        self.assertEqual(self.after[0], self.before[0])
        probe = json.loads(self.after[0])
        self.assertEqual(sorted(r["title"] for r in probe["open_rooms"]), ["Team Alpha", "가족 단톡방"])
        self.assertEqual(probe["login_state"], "ready")

    def test_draft_and_send_give_the_same_documents(self):
        for request, before, after in zip(self.REQUESTS, self.before[1:], self.after[1:]):
            with self.subTest(request=request):
                self.assertEqual(after, before)
                self.assertNotEqual(json.loads(after)["status"], "error")
        sent = self.played.wait_for(lambda e: e.name == "send")
        self.assertEqual((sent["room"], sent["text"]), ("Team Alpha", "보냅니다"))

    def test_played_tree_dumps_as_the_original(self):
        # Classes, texts, ids, parents, visibility, places, sizes and the
        # order of windows and children, the lengths of the boxes, and the
        # system's own IME window where Wine put it.
        self.assertEqual(tree_shape(self.replayed_dump), tree_shape(self.dump))
        roles = {(w.role, w.cls) for w in self.played.windows()}
        self.assertLessEqual({("room", "EVA_Window_Dblclk"), ("input", "RichEdit50W"), ("search_box", "Edit"),
                              ("unknown", "EditLike"), ("lock_view", "StandinView")}, roles)


class RedactedTest(TreeTestCase):
    TITLES = ["Team Alpha", "가족 단톡방", "Seven 7", "Project Beta 🚀", "Draft"]

    def test_redacted_dump_names_no_room_and_still_plays(self):
        s = self.start("".join('room "%s"\n' % t for t in self.TITLES[:-1]) + 'room "Draft" draft="비밀 초안"\n')
        rooms = len(json.loads(self.probe())["open_rooms"])
        dump = self.inspect("--dump", "OUT", "--redact")
        s.stop()
        tree = json.loads(dump)
        self.assertTrue(tree["redacted"])
        for text in self.TITLES + ["비밀 초안"]:
            with self.subTest(text=text):
                self.assertNotIn(text.encode(), dump)
                self.assertNotIn(json.dumps(text).encode(), dump)
        units = [len(t.encode("utf-16-le")) // 2 for t in self.TITLES]
        texts = [w["text"] for w in tree["windows"] if w["parent"] == 0 and w["class"] == "EVA_Window_Dblclk"]
        self.assertEqual(sorted(texts), sorted(["x" * n for n in units] + [MAIN_TITLE]))
        played = self.start(tree=dump)
        self.assertEqual(len(json.loads(self.probe())["open_rooms"]), rooms)
        self.assertEqual(sorted(len(r.title) for r in played.all_rooms()), sorted(units))


class InspectorReadsOnlyTest(TreeTestCase):
    SCENARIO = "\n".join([
        "search_box hidden", "result_list hidden", "lock hidden",
        'room "Team Alpha" draft="초안 있음"', 'room "Family" placeholder',
        'room "Odd box" input=EditLike draft="x"', 'room "No box" input=none', ""])

    def test_diagnosis_and_dumps_send_only_length_queries_to_boxes(self):
        s = self.start(self.SCENARIO)
        mark = s.mark()
        self.inspect("OUT")
        self.inspect("--dump", "OUT")
        self.inspect("--dump", "OUT", "--redact")
        events = s.since(mark)
        # Anything else (a write, a click, a key, a show, a close, an
        # activation, a focus or foreground change, a search) is logged too.
        self.assertEqual([e.line for e in events if e.name != "msg" or e["name"] != "WM_GETTEXTLENGTH"
                          or e["role"] not in ("input", "search_box")], [])
        boxes = {r.input for r in s.all_rooms() if r.input} | {s.hwnd("search_box")}
        self.assertEqual({e["hwnd"] for e in events}, boxes)


def window(hwnd, parent, cls, text="", wid=0, visible=True, rect=(0, 0, 400, 600), **extra):
    x, y, width, height = rect
    return dict(hwnd=hwnd, parent=parent, pid=7, **{"class": cls}, text=text, id=wid, visible=visible,
                x=x, y=y, width=width, height=height, **extra)


def dump_of(windows, **top):
    document = {"format": "chatdraft window tree", "version": 1, "redacted": False,
                "processes": [{"pid": 7, "image": "KakaoTalk.exe"}], "windows": windows}
    document.update(top)
    return json.dumps(document, ensure_ascii=False).encode()


# Another client's layout: views of another class and suffixed names, the
# input box of one room inside a panel, a room whose box did not answer,
# system windows, a notice window.
LAYOUT = [
    window(10, 0, "EVA_Window", "Notice", rect=(30, 30, 200, 100)),
    window(20, 0, "EVA_Window_Dblclk", "Project Beta", rect=(500, 0, 380, 640)),
    window(21, 20, "EVA_ChildWindow", "", 5, rect=(0, 500, 380, 140)),
    window(22, 21, "RICHEDIT50W", "", 7, rect=(4, 4, 300, 100), text_length=3),
    window(30, 0, "EVA_Window_Dblclk", "Team Alpha", rect=(600, 0, 380, 640)),
    window(31, 30, "RichEdit20W", "", 1, rect=(0, 500, 380, 140), text_length=0),
    window(35, 0, "EVA_Window_Dblclk", "Frozen"),
    window(36, 35, "RICHEDIT50W", "", 1, text_length=-1),
    window(40, 0, "EVA_Window_Dblclk", MAIN_TITLE),
    window(41, 40, "EVA_ChildWindow", "OnlineMainView_0x1", 1),
    window(42, 41, "EVA_ChildWindow", "ChatRoomListView_0x2", 2),
    window(43, 42, "Edit", "", 3, rect=(10, 10, 300, 24), text_length=0),
    window(44, 42, "EVA_Window_Dblclk", "", 4, rect=(0, 40, 400, 50)),
    window(45, 42, "EVA_VH_ListControl_Dblclk", "ChatRoomListCtrl_0x3", 5, rect=(0, 90, 400, 500)),
    window(46, 42, "EVA_VH_ListControl_Dblclk", "SearchListCtrl_0x4", 6, visible=False, rect=(0, 90, 400, 500)),
    window(47, 40, "EVA_ChildWindow", "LockModeView_0x5", 7, visible=False),
    window(50, 0, "EVA_Window_Dblclk", "", visible=False),
    window(60, 0, "IME", "Default IME", visible=False, rect=(0, 0, 1, 1)),
]


class LayoutTest(TreeTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.s = cls.start(tree=dump_of(LAYOUT))

    def test_roles_read_from_the_tree(self):
        at_start = [e for e in self.s.events[:self.s.ready_index] if e.name == "window"]
        got = [(e["role"], e["class"], e.get("title") or e.get("room", ""), e["visible"] == 1) for e in at_start]
        self.assertEqual(sorted(got), sorted([
            ("unknown", "EVA_Window", "Notice", True),
            ("room", "EVA_Window_Dblclk", "Project Beta", True),
            ("unknown", "EVA_ChildWindow", "", True),
            ("input", "RICHEDIT50W", "Project Beta", True),
            ("room", "EVA_Window_Dblclk", "Team Alpha", True),
            ("input", "RichEdit20W", "Team Alpha", True),
            ("room", "EVA_Window_Dblclk", "Frozen", True),
            ("input", "RICHEDIT50W", "Frozen", True),
            ("main", "EVA_Window_Dblclk", MAIN_TITLE, True),
            ("online_view", "EVA_ChildWindow", "OnlineMainView_0x1", True),
            ("chat_list_view", "EVA_ChildWindow", "ChatRoomListView_0x2", True),
            ("search_box", "Edit", "", True),
            ("tab_strip", "EVA_Window_Dblclk", "", True),
            ("room_list", "EVA_VH_ListControl_Dblclk", "ChatRoomListCtrl_0x3", True),
            ("search_result_list", "EVA_VH_ListControl_Dblclk", "SearchListCtrl_0x4", False),
            ("lock_view", "EVA_ChildWindow", "LockModeView_0x5", False),
            ("untitled", "EVA_Window_Dblclk", "", False)]))
        frozen = self.s.wait_for(lambda e: e.name == "hang", since=0)
        self.assertEqual((frozen["room"], frozen["ms"]), ("Frozen", "forever"))

    def test_enter_in_a_box_inside_a_panel_sends_its_placeholder_draft(self):
        mark = self.s.mark()
        beta = self.s.room("Project Beta")
        self.assertEqual(self.poke("parent", beta.input)[0]["value"], beta.windows[1].parent)
        self.assertNotEqual(beta.windows[1].parent, beta.hwnd)
        self.poke("key", beta.input, VK_RETURN)
        self.s.wait_for(lambda e: e.name == "emptied", since=mark)
        self.assertEqual([(e["room"], e["text"]) for e in self.s.find(lambda e: e.name == "send", since=mark)],
                         [("Project Beta", "xxx")])

    def test_search_finds_rooms_whose_titles_hold_the_text(self):
        box, results = self.s.hwnd("search_box"), self.s.hwnd("search_result_list")
        mark = self.s.mark()
        self.poke("settext", box, "Alpha", "key", box, VK_RETURN, "sleep", 50,
                  "settext", box, "a", "key", box, VK_RETURN, "sleep", 50,
                  *[a for _ in range(2) for a in ("key", results, VK_DOWN, "key", results, VK_RETURN)],
                  "settext", box, "Notice", "key", box, VK_RETURN)
        self.s.wait_for(lambda e: e.name == "search" and e["query"] == "Notice", since=mark)
        kinds = ("search", "search_next", "search_open", "search_none", "opened", "already_open")
        got = [(e.name, e.get("query", e.get("room")), e.get("results", e.get("index")))
               for e in self.s.find(lambda e: e.name in kinds, since=mark)]
        self.assertEqual(got, [("search", "Alpha", 1), ("already_open", "Team Alpha", None),
                               ("search", "a", 2), ("already_open", "Project Beta", None),
                               ("search_next", None, 1), ("search_open", "Team Alpha", 1),
                               ("already_open", "Team Alpha", None),
                               ("search_next", None, 2), ("search_none", None, 2),
                               ("search", "Notice", 0)])

    def test_tab_all_lists_the_rooms_of_the_tree(self):
        rows, tabs = self.s.hwnd("room_list"), self.s.hwnd("tab_strip")
        mark = self.s.mark()
        self.poke("click", tabs, 140, 25, "dblclick", rows, 200, 48, "click", tabs, 54, 25,
                  *[a for y in (48, 129, 210, 291) for a in ("dblclick", rows, 200, y)])
        self.s.wait_for(lambda e: e.name == "row_empty" and e["row"] == 3, since=mark)
        got = [(e.name, e["tab"], e["row"], e.get("room"))
               for e in self.s.find(lambda e: e.name in ("row", "row_empty"), since=mark)]
        self.assertEqual(got, [("row_empty", "안읽음", 0, None), ("row", "전체", 0, "Project Beta"),
                               ("row", "전체", 1, "Team Alpha"), ("row", "전체", 2, "Frozen"),
                               ("row_empty", "전체", 3, None)])

    def test_close_closes_rooms_only_and_a_closed_room_opens_again_from_the_tree(self):
        old = self.s.room("Project Beta")
        notice = [w.hwnd for w in self.s.windows("unknown") if w.title == "Notice"]
        stay = [self.s.hwnd("main")] + notice + [self.s.hwnd("untitled")]
        mark = self.s.mark()
        self.poke(*[a for h in [old.hwnd] + stay for a in ("post", h, WM_CLOSE, 0, 0)])
        self.s.wait_for(lambda e: e.name == "closed", since=mark)
        box = self.s.hwnd("search_box")
        self.poke("settext", box, "Beta", "key", box, VK_RETURN)
        opened = self.s.wait_for(lambda e: e.name == "opened", since=mark)
        new = self.s.room("Project Beta")
        self.assertEqual((opened["hwnd"], opened["how"]), (new.hwnd, "search"))
        self.assertNotEqual(new.hwnd, old.hwnd)
        out = self.poke("iswindow", old.hwnd, *[a for h in stay for a in ("iswindow", h)], "gettext", new.input)
        self.assertEqual([o.get("value") for o in out[:4]], [0, 1, 1, 1])
        self.assertEqual(out[4]["text"], "xxx")
        self.assertEqual(self.poke("parent", new.input)[0]["value"], new.windows[1].parent)


class BrokenDumpTest(TreeTestCase):
    GOOD = json.loads(dump_of(LAYOUT[:3]))

    @classmethod
    def variant(cls, change):
        document = json.loads(json.dumps(cls.GOOD))
        change(document)
        return json.dumps(document).encode()

    def cases(self):
        w = self.GOOD["windows"]
        return [  # name, dump, what the error line says (None: the dump plays)
            ("good", dump_of(LAYOUT[:3]), None),
            ("no windows", dump_of([]), None),
            ("not JSON", b"chatdraft window tree", "character 1"),
            ("empty", b"", "expected '{'"),
            ("cut short", dump_of(LAYOUT[:3])[:-40], "expected"),
            ("text after it", dump_of(LAYOUT[:3]) + b" {}", "text after the document"),
            ("not UTF-8", dump_of(LAYOUT[:3]).replace(b"Notice", b"N\xffotice"), "not valid UTF-8"),
            ("another format", self.variant(lambda d: d.update(format="window tree")), "not a chatdraft window tree"),
            ("version 2", self.variant(lambda d: d.update(version=2)), "unknown version"),
            ("no class", self.variant(lambda d: d["windows"][1].pop("class")), 'without "class"'),
            ("a fraction", self.variant(lambda d: d["windows"][1].update(x=1.5)), "expected an integer"),
            ("a string id", self.variant(lambda d: d["windows"][1].update(id="7")), "expected a number"),
            ("handle twice", self.variant(lambda d: d["windows"][2].update(hwnd=w[0]["hwnd"])), "listed twice"),
            ("parent unknown", self.variant(lambda d: d["windows"][2].update(parent=99)), "parent"),
            ("child before parent", self.variant(lambda d: d["windows"].reverse()), "parent"),
            ("repeated key", dump_of(LAYOUT[:1]).replace(b'"id": 0', b'"id": 0, "id": 1'), "repeated key"),
        ]

    def test_a_broken_dump_is_refused_before_any_window(self):
        for name, dump, error in self.cases():
            with self.subTest(name):
                s = Standin(prefix=self.prefix, tree=dump, ready_timeout=15)
                if error is None:
                    s.start()
                    s.stop()
                    continue
                with self.assertRaises(StandinError):
                    s.start()
                self.assertEqual(s.proc.returncode, 2)
                lines = [e for e in s.events if e.name == "error"]
                self.assertEqual([e["stage"] for e in lines], ["tree"])
                self.assertIn(error, lines[0]["what"])
                self.assertEqual([e.line for e in s.events if e.name == "window"], [])


if __name__ == "__main__":
    unittest.main()
