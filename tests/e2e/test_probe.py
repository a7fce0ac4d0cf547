"""chatdraft.exe --probe under Wine against the stand-in client: the login
states, the rooms and their drafts byte for byte, the 32-room table, what a
probe costs the client, huge reported lengths, and a locked client in request
mode."""

import json
import os
import shutil
import tempfile
import unittest

from harness import Standin, chatdraft_exe, poke, prefix_from_env, run_exe, win_build_dir, win_path
from harness.requests import KAKAO_LOCKED, json_string, read_wparam

RUN_SECONDS = 60
MAIN_TITLE = "\uce74\uce74\uc624\ud1a1"
PLACEHOLDER = "\uba54\uc2dc\uc9c0 \uc785\ub825"
MAX_ROOMS = 32


def scenario_text(text):
    """A text as a quoted scenario value."""
    out = []
    for ch in text:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append("\\u%04x" % ord(ch))
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def as_reported(draft):
    """What Wine's RichEdit answers for a text put in: every line break as CR LF."""
    return draft.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")


def probe_head(main_hwnd, pid, state):
    return (b'{"status":"ok","main_hwnd":%d,"kakao_pid":%d,"login_state":"%s","open_rooms":['
            % (main_hwnd, pid, state.encode()))


def room_element(hwnd, input_hwnd, title, draft):
    return (b'{"hwnd":%d,"input_hwnd":%d,"title":' % (hwnd, input_hwnd) + json_string(title)
            + b',"draft":' + json_string(draft) + b"}")


class ProbeTestCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()
        assert os.path.isfile(chatdraft_exe()), "no chatdraft.exe at %s" % chatdraft_exe()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="chatdraft_probe_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, scenario):
        s = Standin(scenario, prefix=self.prefix)
        s.start()
        self.addCleanup(s.stop)
        return s

    def chatdraft(self, *args):
        r = run_exe(chatdraft_exe(), args, timeout=RUN_SECONDS, prefix=self.prefix, cwd=self.dir)
        self.assertFalse(r.timed_out, "chatdraft.exe %r did not end in %d s" % (args, RUN_SECONDS))
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        return r

    def probe(self):
        """The probe document from standard output, its text-mode CR LF undone."""
        r = self.chatdraft("--probe")
        self.assertTrue(r.stdout.endswith(b"}\r\n"), r.stdout[-40:])
        self.assertEqual(r.stdout.count(b"\n"), 1, "one line, line breaks inside strings escaped")
        return r.stdout[:-2] + b"\n"

    def probe_to_file(self):
        r = self.chatdraft("--probe", win_path(os.path.join(self.dir, "probe.json")))
        self.assertEqual(r.stdout, b"")
        self.assertEqual(sorted(os.listdir(self.dir)), ["probe.json"])
        with open(os.path.join(self.dir, "probe.json"), "rb") as f:
            return f.read()

    def inspect(self):
        """The diagnosis chatdraft_inspect.exe writes for the doctor."""
        out = os.path.join(self.dir, "inspect.json")
        inspector = os.path.join(win_build_dir(), "chatdraft_inspect.exe")
        r = run_exe(inspector, [win_path(out)], timeout=RUN_SECONDS, prefix=self.prefix)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        with open(out, "rb") as f:
            return json.loads(f.read())

    def pid(self, s):
        return s.find(lambda e: e.name == "start", since=0)[0]["pid"]

    def listed_hwnds(self, document):
        return [room["hwnd"] for room in json.loads(document.decode("utf-8"))["open_rooms"]]

    def assertDocument(self, document, head, rooms):
        """The whole document byte for byte; `rooms` maps hwnd -> (input, title, draft).

        The rooms must be listed once each, in any order: Wine's window order is
        its own. The expected bytes are then built in the order listed.
        """
        order = self.listed_hwnds(document)
        self.assertEqual(sorted(order), sorted(rooms), "the rooms listed")
        elements = [room_element(h, *rooms[h]) for h in order]
        expected = head + b",".join(elements) + b"]}\n"
        if document != expected:  # show the first piece that differs, then the whole
            self.assertEqual(document[:len(head)], head)
            at = len(head)
            for element in elements:
                self.assertEqual(document[at:at + len(element)], element)
                at += len(element) + 1
        self.assertEqual(document, expected)

    def assertNoFocusEvents(self, s):
        self.assertEqual([e.line for e in s.focus_events()], [])


class LoginStateTest(ProbeTestCase):
    CASES = [  # name, scenario lines, login state
        ("online visible, no lock view", ["online visible", "lock absent"], "ready"),
        ("online visible, lock hidden", ["online visible", "lock hidden"], "ready"),
        ("lock visible, online hidden", ["online hidden", "lock visible"], "locked"),
        ("lock visible, no online view", ["online absent", "lock visible"], "locked"),
        ("both visible", ["online visible", "lock visible"], "unknown"),
        ("both hidden", ["online hidden", "lock hidden"], "logged_out"),
        ("neither view", ["online absent", "lock absent"], "logged_out"),
    ]

    def test_states_with_a_room_listed(self):
        for name, lines, state in self.CASES:
            with self.subTest(name):
                s = self.start("\n".join(lines + ['room "Team Alpha" draft="hi"', ""]))
                try:
                    room = s.room("Team Alpha")
                    head = probe_head(s.hwnd("main"), self.pid(s), state)
                    rooms = {room.hwnd: (room.input, "Team Alpha", "hi")}
                    self.assertDocument(self.probe(), head, rooms)
                    if state == "locked":
                        self.assertDocument(self.probe_to_file(), head, rooms)
                    self.assertNoFocusEvents(s)
                finally:
                    s.stop()  # one client on the desktop at a time

    def test_no_main_window_still_lists_rooms(self):
        s = self.start('main absent\nroom "Only" draft="x\\ny"\nroom "Second"\n')
        only, second = s.room("Only"), s.room("Second")
        rooms = {only.hwnd: (only.input, "Only", "x\r\ny"), second.hwnd: (second.input, "Second", "")}
        head = probe_head(0, 0, "logged_out")
        self.assertDocument(self.probe(), head, rooms)
        self.assertDocument(self.probe_to_file(), head, rooms)
        self.assertNoFocusEvents(s)


class DraftsTest(ProbeTestCase):
    ROOMS = [  # title, draft put in the box (None: empty box), options
        ("Lines", "첫 줄\n둘째 줄\r\n셋째\r끝", ""),
        ("Placeholder only", None, "placeholder"),
        ("Placeholder and a space", PLACEHOLDER + " ", ""),
        ("Placeholder's first word", PLACEHOLDER[:3], ""),
        ('Say "hi" \\ back\\', 'He said "no" in C:\\dir\\', ""),
        ("Ctl\x01title\ttab\x1f", "a\x01b\x08c\x0cd\x1fe\tf/g\x7fh", ""),
        ("Two\nline\r\ntitle", "x", ""),
        ("가족 단톡방", "내일 봐요 ㅎㅎ", ""),
        ("Astral \U0001F600", "clef \U0001D11E smile \U0001F600", ""),
        ("Empty", None, ""),
        ("Classic box", "old", "input=RichEdit20W"),
        ("Lower case box", "low", "input=richedit50w"),
    ]
    LONG_TITLE_UNITS = 600

    def scenario(self):
        lines = ["room %s%s %s" % (scenario_text(title), "" if draft is None else
                                   " draft=" + scenario_text(draft), options)
                 for title, draft, options in self.ROOMS]
        lines.append('long_room %d "긴방" draft="long"' % self.LONG_TITLE_UNITS)
        return "\n".join(lines + [""])

    def expected_rooms(self, s):
        rooms = {}
        for title, draft, options in self.ROOMS:
            room = s.room(title)
            shown = "" if draft is None or "placeholder" in options else as_reported(draft)
            rooms[room.hwnd] = (room.input, title, shown)
        long_room = [r for r in s.all_rooms() if r.title.startswith("긴방")][0]
        self.assertEqual(len(long_room.title), self.LONG_TITLE_UNITS)
        rooms[long_room.hwnd] = (long_room.input, long_room.title[:510], "long")
        return rooms

    def test_document_and_what_the_probe_cost(self):
        s = self.start(self.scenario())
        rooms = self.expected_rooms(s)
        head = probe_head(s.hwnd("main"), self.pid(s), "ready")
        mark = s.mark()
        document = self.probe()
        traffic = s.since(mark)
        self.assertDocument(document, head, rooms)
        self.assertEqual(self.probe_to_file(), document)
        astral = s.room("Astral \U0001F600")
        self.assertIn(b'"title":"Astral \xf0\x9f\x98\x80","draft":"clef \xf0\x9d\x84\x9e smile \xf0\x9f\x98\x80"}',
                      document, "characters beyond U+FFFF as four raw UTF-8 bytes")
        self.assertIn(b'{"hwnd":%d,"input_hwnd":%d,' % (astral.hwnd, astral.input), document)

        # One length query per box, and one read only where there is a text.
        inputs = {v[0]: (h, v[2]) for h, v in rooms.items()}
        messages = [e for e in traffic if e.name == "msg"]
        self.assertEqual([e.line for e in messages if e["hwnd"] not in inputs], [])
        for box, (hwnd, shown) in inputs.items():
            with self.subTest(room=rooms[hwnd][1]):
                seen = [(e["name"], e["via"]) for e in messages if e["hwnd"] == box]
                reads = 1 if shown == "" and rooms[hwnd][1] != "Placeholder only" else 2
                self.assertEqual(seen, [("WM_GETTEXTLENGTH", "sent"), ("WM_GETTEXT", "sent")][:reads])
        self.assertNoFocusEvents(s)

    def test_huge_lengths_and_a_hung_room(self):
        s = self.start('room "Max" huge=0x7FFFFFFFFFFFFFFF draft="small"\n'
                       'room "Big" huge=100000000 draft="big\\ntext"\nroom "Normal" draft="n"\n'
                       'room "Frozen" hang=ready hang_for=forever draft="unseen"\n')
        rooms = {s.room(t).hwnd: (s.room(t).input, t, d)
                 for t, d in (("Max", "small"), ("Big", "big\r\ntext"), ("Normal", "n"), ("Frozen", ""))}
        mark = s.mark()
        r = self.chatdraft("--probe")
        # The frozen room costs one time-out of 2 s; nothing else may take long.
        self.assertLess(r.seconds, 15)
        self.assertDocument(r.stdout[:-2] + b"\n", probe_head(s.hwnd("main"), self.pid(s), "ready"), rooms)
        reads = {e["room"]: e["wparam"] for e in s.messages(since=mark, name="WM_GETTEXT")}
        # A box may claim any length; the read asks for at most 1 Mi units.
        self.assertEqual(reads, {"Max": 0x100001, "Big": 0x100001, "Normal": read_wparam(1)})


class RoomTableTest(ProbeTestCase):
    ELIGIBLE = 29  # rooms with an input box, besides the three named below
    SCENARIO = "\n".join([
        'rooms %d "Room %%d" draft="same"' % ELIGIBLE,
        'room "%s " draft="trailing space"' % MAIN_TITLE,
        'room "Classic" input=RichEdit20W',
        'room "Shouting" input=RICHEDIT50W',
        'room "No box" input=none draft="never read"',
        'room "Near miss" input=RICHEDIT50 draft="never read"',
        'room "Also near" input=RichEdit20 draft="never read"',
        "untitled 3",
        "fake_main 2",
        'bare 3 "Notice %d"',
        'plain 3 "Other %d"',
        'known "Extra A"',
        'known "Extra B"',
        'search "x" "Extra A" "Extra B"',
        "",
    ])

    def eligible(self, s):
        names = ["Room %d" % i for i in range(1, self.ELIGIBLE + 1)] + [MAIN_TITLE + " ", "Classic", "Shouting"]
        return {s.room(t).hwnd: t for t in names}

    def test_capacity_and_which_windows_count(self):
        s = self.start(self.SCENARIO)
        eligible = self.eligible(s)
        self.assertEqual(len(eligible), MAX_ROOMS)
        document = self.probe()
        # A main window titled "카카오톡" stands several times; the first in
        # window order is taken, and only the real one has the views.
        head = json.loads(document.decode())
        mains = {w.hwnd: "ready" if w.role == "main" else "logged_out" for w in s.windows("main") + s.windows("fake_main")}
        self.assertIn(head["main_hwnd"], mains)
        state = mains[head["main_hwnd"]]
        rooms = {h: (s.room(t).input, t, "trailing space" if t.startswith(MAIN_TITLE) else
                     "same" if t.startswith("Room ") else "") for h, t in eligible.items()}
        self.assertDocument(document, probe_head(head["main_hwnd"], self.pid(s), state), rooms)

        # Two more rooms open: still 32 listed, all of them rooms with a box.
        box = s.hwnd("search_box")
        results = s.hwnd("search_result_list")
        poke("settext", box, "x", "key", box, 0x0D, "sleep", 200, "key", results, 0x28, "key", results, 0x0D,
             prefix=self.prefix)
        s.wait_for(lambda e: e.name == "opened" and e["room"] == "Extra B")
        more = set(eligible) | {s.room(t).hwnd for t in ("Extra A", "Extra B")}
        listed = self.listed_hwnds(self.probe())
        self.assertEqual(len(listed), MAX_ROOMS)
        self.assertEqual(len(set(listed)), MAX_ROOMS)
        self.assertLessEqual(set(listed), more)
        self.assertNoFocusEvents(s)


class TwoClientsTest(ProbeTestCase):
    def test_rooms_of_a_second_client_are_never_listed_nor_written(self):
        # The older client shows its PIN lock with "Team Alpha" open; the one
        # started later, logged in, stands above it and is the one chosen.
        locked = self.start('online hidden\nlock visible\nroom "Team Alpha" draft="mine"\n')
        ready = self.start('known "Team Alpha"\nsearch "Team Alpha" "Team Alpha"\n')
        self.assertDocument(self.probe(), probe_head(ready.hwnd("main"), self.pid(ready), "ready"), {})
        # The doctor's inspector counts the same rooms: the locked client's
        # "Team Alpha" belongs to another process.
        diagnosis = self.inspect()
        self.assertEqual([], diagnosis["rooms"])
        kinds = {w["hwnd"]: w["kind"] for w in diagnosis["client_windows"]}
        self.assertEqual("other_process", kinds[locked.room("Team Alpha").hwnd])
        with open(os.path.join(self.dir, "req.json"), "wb") as f:
            f.write(b'{"room":"Team Alpha","message":"hi","send":true,"exact":true}')
        self.chatdraft("req.json", "out.json")
        with open(os.path.join(self.dir, "out.json"), "rb") as f:
            doc = json.loads(f.read())
        opened = ready.room("Team Alpha")
        self.assertEqual(("sent", opened.hwnd, True), (doc["status"], doc["window_hwnd"], doc["opened_new_window"]))
        self.assertEqual([], locked.messages(role="input"))
        self.assertEqual([], locked.messages(role="search_box"))
        self.assertEqual("mine", poke("gettext", locked.room("Team Alpha").input, prefix=self.prefix)[0]["text"])
        for s in (locked, ready):
            self.assertNoFocusEvents(s)


class LockedRequestTest(ProbeTestCase):
    def test_locked_client_gets_no_message(self):
        s = self.start('online hidden\nlock visible\nroom "Team Alpha" draft="keep"\nroom "Other"\n')
        with open(os.path.join(self.dir, "req.json"), "wb") as f:
            f.write('{"room":"Team Alpha","message":"안녕","send":true,"force":true}'.encode())
        mark = s.mark()
        r = self.chatdraft("req.json", "out.json")
        self.assertEqual(r.stdout, b"")
        with open(os.path.join(self.dir, "out.json"), "rb") as f:
            document = f.read()
        self.assertEqual(len(document), 140)
        self.assertEqual(document, KAKAO_LOCKED)
        self.assertEqual(sorted(os.listdir(self.dir)), ["out.json", "req.json"])
        self.assertEqual([e.line for e in s.since(mark) if e.name == "msg"], [])
        self.assertNoFocusEvents(s)


if __name__ == "__main__":
    unittest.main()
