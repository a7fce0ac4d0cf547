"""The stand-in client checked under Wine by a small independent Win32 helper
(poke.exe), so that end-to-end tests of chatdraft can trust what it reports.

Run with CHATDRAFT_WINEPREFIX and CHATDRAFT_WIN_BUILD set:
    python3 -m unittest tests/e2e/test_standin_selfcheck.py
"""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (Standin, StandinError, assert_traffic, compare_traffic, expect, parse_line,  # noqa: E402
                     poke, prefix_from_env, standin_exe)

WM_SETTEXT, WM_CLOSE, WM_COMMAND = 0x000C, 0x0010, 0x0111
VK_RETURN, VK_DOWN = 0x0D, 0x28
MAIN_TITLE = "\uce74\uce74\uc624\ud1a1"
PLACEHOLDER = "\uba54\uc2dc\uc9c0 \uc785\ub825"


def is_64bit(exe):
    with open(exe, "rb") as f:
        head = f.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return struct.unpack_from("<H", head, pe + 4)[0] == 0x8664


def crlf(text):
    return text.replace("\r\n", "\n").replace("\r", "\n")


class StandinTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()

    def poke(self, *args):
        return poke(*args, prefix=self.prefix)

    def start(self, scenario):
        s = Standin(scenario, prefix=self.prefix)
        s.start()
        self.addCleanup(s.stop)
        return s

    def assertNoFocusEvents(self, s):
        self.assertEqual([e.line for e in s.focus_events()], [])


class SurfaceTest(StandinTestCase):
    SCENARIO = "\n".join([
        "lock hidden",
        'room "Team Alpha" draft="x"',
        'room "Lower" input=richedit50w',
        'room "Near" input=RICHEDIT50',
        'room "Old" input=RichEdit20W',
        'room "Bare room" input=none',
        'bare 2 "Notice %d"',
        'plain 3 "Other %d"',
        "untitled 1",
        "fake_main 1",
        'long_room 10000 "Long "',
    ])

    def test_windows_have_the_client_roles_classes_and_texts(self):
        s = self.start(self.SCENARIO)
        online, chat_list = s.window("online_view"), s.window("chat_list_view")
        expected = [  # role, class as another process reads it, title, parent, visible
            ("main", "EVA_Window_Dblclk", MAIN_TITLE, 0, 1),
            ("online_view", "StandinView", "OnlineMainView", s.hwnd("main"), 1),
            ("lock_view", "StandinView", "LockModeView", s.hwnd("main"), 0),
            ("chat_list_view", "StandinView", "ChatRoomListView", online.hwnd, 1),
            ("search_box", "Edit", "", chat_list.hwnd, 1),
            ("tab_strip", "EVA_Window_Dblclk", "", chat_list.hwnd, 1),
            ("room_list", "StandinView", "ChatRoomListCtrl", chat_list.hwnd, 1),
            ("search_result_list", "StandinView", "SearchListCtrl", chat_list.hwnd, 1),
        ]
        args = []
        for role, _, _, _, _ in expected:
            args += ["class", s.hwnd(role), "title", s.hwnd(role), "parent", s.hwnd(role), "visible", s.hwnd(role)]
        out = self.poke(*args)
        for i, (role, cls, title, parent, visible) in enumerate(expected):
            with self.subTest(role=role):
                self.assertEqual([o.get("text", o.get("value")) for o in out[4 * i:4 * i + 4]],
                                 [cls, title, parent, visible])

    def test_rooms_and_input_boxes_as_seen_from_another_process(self):
        s = self.start(self.SCENARIO)
        cases = [  # title, class of the input box (None: no box), compared without case
            ("Team Alpha", "richedit50w"), ("Lower", "richedit50w"), ("Near", "richedit50"),
            ("Old", "richedit20w"), ("Bare room", None)]
        for title, cls in cases:
            with self.subTest(room=title):
                room = s.room(title)
                args = ["class", room.hwnd, "title", room.hwnd]
                if cls:
                    args += ["class", room.input, "parent", room.input]
                out = self.poke(*args)
                self.assertEqual(out[0]["text"], "EVA_Window_Dblclk")
                self.assertEqual(out[1]["text"], title)
                if cls:
                    self.assertEqual(out[2]["text"].lower(), cls)
                    self.assertEqual(out[3]["value"], room.hwnd)
                else:
                    self.assertIsNone(room.input)
        near = self.poke("class", s.room("Near").input)[0]["text"]
        self.assertEqual(near, "RICHEDIT50", "a near-miss class keeps its exact name")

    def test_logged_classes_are_the_ones_other_processes_read(self):
        s = self.start(self.SCENARIO)
        windows = [w for w in s.windows() if w.role != "chat_log"]
        out = self.poke(*[a for w in windows for a in ("class", w.hwnd)])
        self.assertEqual([o["text"] for o in out], [w.cls for w in windows])

    def test_class_spelling_asked_for_holds_for_that_stand_in_only(self):
        s = self.start('room "Lower" input=richedit50w\nroom "Default"\nroom "Twenty" input=RICHEDIT20W\n')
        out = self.poke("class", s.room("Lower").input, "class", s.room("Default").input,
                        "class", s.room("Twenty").input)
        self.assertEqual([o["text"] for o in out], ["richedit50w", "richedit50w", "RICHEDIT20W"])
        s.stop()
        later = self.start('room "Default"\n')
        spelled = self.poke("class", later.room("Default").input)[0]["text"]
        self.assertEqual(spelled.lower(), "richedit50w")
        self.assertNotEqual(spelled, "richedit50w", "the spelling ended with the stand-in that asked for it")

    def test_generated_windows(self):
        s = self.start(self.SCENARIO)
        self.assertEqual(sorted(w.title for w in s.windows("bare")), ["Notice 1", "Notice 2"])
        self.assertEqual(sorted(w.title for w in s.windows("plain")), ["Other 1", "Other 2", "Other 3"])
        self.assertEqual([w.title for w in s.windows("untitled")], [""])
        self.assertEqual([w.title for w in s.windows("fake_main")], [MAIN_TITLE])
        long_room = [r for r in s.all_rooms() if r.title.startswith("Long ")]
        self.assertEqual(len(long_room), 1)
        self.assertEqual(len(long_room[0].title), 10000)
        self.assertEqual(long_room[0].title[:12], "Long Long Lo")
        out = self.poke("class", s.windows("plain")[0].hwnd, "title", long_room[0].hwnd)
        self.assertEqual(out[0]["text"], "StandinPlainWindow")
        self.assertEqual(out[1]["text"], long_room[0].title[:1022])

    def test_room_pattern(self):
        s = self.start('rooms 3 "Room %d" draft="g" placeholder\n')
        rooms = sorted(r.title for r in s.all_rooms())
        self.assertEqual(rooms, ["Room 1", "Room 2", "Room 3"])
        self.assertEqual(self.poke("gettext", s.room("Room 2").input)[0]["text"], "g")

    def test_exit_after(self):
        s = self.start('room "Brief"\nexit_after 300\n')
        s.wait_for(lambda e: e.name == "exit" and e["reason"] == "timer", timeout=10)
        self.assertEqual(s.proc.wait(timeout=10), 0)

    def test_absent_parts(self):
        s = self.start("online absent\nsearch_box absent\ntab_strip absent\nresult_list hidden\n")
        self.assertIsNone(s.window("online_view"))
        self.assertIsNone(s.window("search_box"))
        self.assertIsNone(s.window("tab_strip"))
        self.assertEqual(s.window("chat_list_view").parent, s.hwnd("main"))
        self.assertFalse(s.window("search_result_list").visible)
        s2 = self.start("main absent\nroom \"Only\"\n")
        self.assertIsNone(s2.window("main"))
        self.assertEqual([r.title for r in s2.all_rooms()], ["Only"])


class InputBoxTest(StandinTestCase):
    DRAFTS = [  # room, scenario draft, text read back (before newline normalisation)
        ("Korean", r"안녕하세요", "안녕하세요"),
        ("Lines", r"첫 줄\n둘째 줄\r\n셋째", "첫 줄\n둘째 줄\n셋째"),
        ("Astral", r"smile \uD83D\uDE00 𝄞", "smile \U0001F600 \U0001D11E"),
        ("Marks", r"tab\tquote\" back\\ bell\u0007", "tab\tquote\" back\\ bell\x07"),
    ]

    def test_drafts_read_back_across_processes(self):
        s = self.start("".join('room "%s" draft="%s"\n' % (t, d) for t, d, _ in self.DRAFTS))
        args = []
        for title, _, _ in self.DRAFTS:
            args += ["gettext", s.room(title).input]
        out = self.poke(*args)
        for (title, _, expected), got in zip(self.DRAFTS, out):
            with self.subTest(room=title):
                self.assertEqual(got["ok"], 1)
                self.assertEqual(crlf(got["text"]), expected)
                self.assertEqual(got["len"], len(got["text"].encode("utf-16-le")) // 2)
        reads = s.messages(name="WM_GETTEXT", via="sent")
        self.assertEqual(sorted(e["room"] for e in reads), sorted(t for t, _, _ in self.DRAFTS))
        self.assertNoFocusEvents(s)

    def test_placeholder_and_huge_length(self):
        s = self.start('room "Empty" placeholder\nroom "Full" placeholder draft="real"\n'
                       'room "Huge" huge=100000000 draft="small"\n'
                       'room "Max" huge=0x7FFFFFFFFFFFFFFF\n')
        out = self.poke("gettext", s.room("Empty").input, "gettext", s.room("Full").input,
                        "gettext", s.room("Huge").input, "gettext", s.room("Max").input,
                        "gettextn", s.room("Huge").input, 6, "gettextn", s.room("Empty").input, 4)
        self.assertEqual((out[0]["len"], out[0]["text"]), (6, PLACEHOLDER))
        self.assertEqual((out[1]["len"], out[1]["text"]), (4, "real"))
        self.assertEqual(out[2]["len"], 100000000)
        self.assertEqual(out[3]["len"], 0x7FFFFFFFFFFFFFFF if is_64bit(standin_exe()) else 0x7FFFFFFF)
        self.assertEqual((out[4]["result"], out[4]["text"]), (5, "small"), "WM_GETTEXT answers the real text")
        self.assertEqual((out[5]["result"], out[5]["text"]), (3, PLACEHOLDER[:3]), "cut to the capacity")

    def test_writes_are_logged_with_their_text(self):
        s = self.start('room "W"\n')
        box = s.room("W").input
        out = self.poke("send", box, 0x00B1, 0, -1, "replacesel", box, "u16:d55c000a0041",
                        "gettext", box, "settext", box, "plain", "gettext", box)
        self.assertEqual(crlf(out[2]["text"]), "한\nA")
        self.assertEqual(out[4]["text"], "plain")
        traffic = [(e["name"], e["via"], e.get("text")) for e in s.messages(role="input")]
        self.assertEqual(traffic[:3], [("EM_SETSEL", "sent", None), ("EM_REPLACESEL", "sent", "한\nA"),
                                       ("WM_GETTEXTLENGTH", "sent", None)])
        self.assertIn(("WM_SETTEXT", "sent", "plain"), traffic)


class SendAndCloseTest(StandinTestCase):
    def test_posted_enter_sends_and_empties_the_box(self):
        s = self.start('room "A" draft="hello\\nworld"\nroom "Other" draft="stays"\n')
        a, other = s.room("A"), s.room("Other")
        self.poke("post", a.hwnd, WM_COMMAND, 0x03000000 | 1001, a.input, "key", a.input, VK_RETURN)
        sent = s.wait_for(lambda e: e.name == "send")
        self.assertEqual((sent["room"], crlf(sent["text"])), ("A", "hello\nworld"))
        s.wait_for(lambda e: e.name == "msg" and e["name"] == "WM_CHAR")
        out = self.poke("gettext", a.input, "gettext", other.input)
        self.assertEqual(out[0]["len"], 0, "the carriage return was swallowed")
        self.assertEqual(out[1]["text"], "stays")
        keys = [(e["name"], e["via"], e["wparam"]) for e in s.messages(role="input")
                if e["name"] in ("WM_KEYDOWN", "WM_KEYUP", "WM_CHAR")]
        # The WM_CHAR from the stand-in's own TranslateMessage lands before or
        # after the key-up, depending on when the key-up was posted.
        self.assertEqual([k for k in keys if k[0] != "WM_CHAR"],
                         [("WM_KEYDOWN", "posted", VK_RETURN), ("WM_KEYUP", "posted", VK_RETURN)])
        self.assertEqual([k for k in keys if k[0] == "WM_CHAR"], [("WM_CHAR", "posted", 0x0D)])
        change = s.messages(name="WM_COMMAND")
        self.assertEqual([(e["via"], e["code"], e["id"], e["control"]) for e in change],
                         [("posted", 0x300, 1001, a.input)])
        self.assertNoFocusEvents(s)

    def test_send_behaviours(self):
        s = self.start('room "Stuck" draft="s" send=stuck\nroom "Slow" draft="d" send=delay:400\n'
                       'room "Closer" draft="c" send=close\n')
        mark = s.mark()
        self.poke("key", s.room("Stuck").input, VK_RETURN, "key", s.room("Slow").input, VK_RETURN,
                  "key", s.room("Closer").input, VK_RETURN, "sleep", 150,
                  "gettext", s.room("Slow").input)
        closed = s.wait_for(lambda e: e.name == "closed", since=mark)
        self.assertEqual((closed["room"], closed["by"]), ("Closer", "enter"))
        emptied = s.wait_for(lambda e: e.name == "emptied", since=mark)
        sent = s.find(lambda e: e.name == "send", since=mark)
        self.assertEqual([e["room"] for e in sent], ["Slow"])
        self.assertGreaterEqual(emptied.ms - sent[0].ms, 380)
        out = self.poke("gettext", s.room("Stuck").input, "gettext", s.room("Slow").input)
        self.assertEqual([o.get("text", "") for o in out], ["s", ""])
        self.assertEqual(sorted(e["mode"] for e in s.find(lambda e: e.name == "enter")), ["close", "delay", "stuck"])

    def test_exit_on_enter_ends_the_process(self):
        s = self.start('room "Bye" draft="x" send=exit\n')
        self.poke("key", s.room("Bye").input, VK_RETURN)
        s.wait_for(lambda e: e.name == "exit")
        s.proc.wait(timeout=10)
        self.assertEqual(s.proc.returncode, 0)

    def test_wm_close_closes_only_that_room(self):
        s = self.start('room "Keep"\nroom "Go"\n')
        go, keep = s.room("Go"), s.room("Keep")
        self.poke("post", go.hwnd, WM_CLOSE, 0, 0, "post", s.hwnd("main"), WM_CLOSE, 0, 0)
        closed = s.wait_for(lambda e: e.name == "closed")
        self.assertEqual((closed["room"], closed["by"]), ("Go", "close"))
        out = self.poke("sleep", 100, "iswindow", go.hwnd, "iswindow", go.input, "iswindow", keep.hwnd,
                        "iswindow", s.hwnd("main"))
        self.assertEqual([o["value"] for o in out[1:]], [0, 0, 1, 1])
        self.assertEqual(s.rooms("Go"), [])
        self.assertNoFocusEvents(s)

    def test_activation_is_detected(self):
        # Proves the no-activation checks can fail: a foreground change shows.
        s = self.start('room "A"\n')
        self.poke("setfg", s.room("A").hwnd)
        s.wait_for(lambda e: e.name == "activate" and e["name"] == "WM_ACTIVATE" and e["wparam"] != 0)
        s.wait_for(lambda e: e.name == "foreground" and e["role"] == "room")


class HangTest(StandinTestCase):
    def test_hung_room_does_not_answer_while_others_do(self):
        s = self.start('room "Hung" hang=ready hang_for=forever draft="h"\nroom "Fine" draft="f"\n')
        out = self.poke("gettext", s.room("Hung").input, 2000, "gettext", s.room("Fine").input, 2000)
        self.assertEqual(out[0]["ok"], 0)
        self.assertEqual((out[1]["ok"], out[1]["text"]), (1, "f"))
        self.assertEqual(s.find(lambda e: e.name == "hang")[0]["ms"], "forever")

    def test_hang_after_first_message_ends(self):
        s = self.start('room "Later" hang=input:0 hang_for=2500 draft="l"\n')
        box = s.room("Later").input
        out = self.poke("gettext", box, "sleep", 100, "gettext", box, 1000, "sleep", 2000, "gettext", box)
        self.assertEqual([o.get("ok") for o in out], [1, None, 0, None, 1])
        self.assertEqual(out[4]["text"], "l")
        s.wait_for(lambda e: e.name == "hang_end")


    def test_hang_on_enter_then_send(self):
        s = self.start('room "Late" hang=enter hang_for=1000 draft="go"\n')
        self.poke("key", s.room("Late").input, VK_RETURN)
        sent = s.wait_for(lambda e: e.name == "send", timeout=5)
        enter = s.find(lambda e: e.name == "enter")[0]
        self.assertGreaterEqual(sent.ms - enter.ms, 950)
        self.assertEqual(sent["text"], "go")

    def test_room_opened_later_hangs_on_its_own_thread(self):
        s = self.start('known "Frozen" hang=ready hang_for=forever\nsearch "f" "Frozen"\n')
        box = s.hwnd("search_box")
        self.poke("settext", box, "f", "key", box, VK_RETURN)
        s.wait_for(lambda e: e.name == "opened")
        frozen = s.room("Frozen")
        self.assertNotEqual(frozen.windows[0].thread, s.window("main").thread)
        out = self.poke("gettext", frozen.input, 1000, "gettext", box, 1000)
        self.assertEqual([o["ok"] for o in out], [0, 1])


class MainWindowTest(StandinTestCase):
    SCENARIO = "\n".join([
        'room "Open already"',
        'known "Alpha" draft="from search" send=stuck',
        'search "al" "Alpha" "Beta" "Open already"',
        'tab "가족" "Mom" "" "Open already"',
        'tab "교사" "Teachers"',
        "",
    ])

    def test_search_opens_results_in_order(self):
        s = self.start(self.SCENARIO)
        box, results = s.hwnd("search_box"), s.hwnd("search_result_list")
        self.poke("send", box, 0x00B1, 0, -1, "replacesel", box, "al", "key", box, VK_RETURN, "sleep", 100,
                  "key", results, VK_DOWN, "key", results, VK_RETURN, "sleep", 100,
                  "key", results, VK_DOWN, "key", results, VK_RETURN, "sleep", 100,
                  "key", results, VK_DOWN, "key", results, VK_RETURN)
        s.wait_for(lambda e: e.name == "search_none")
        opened = [(e.name, e["room"], e["how"]) for e in s.find(lambda e: e.name in ("opened", "already_open"))]
        self.assertEqual(opened, [("opened", "Alpha", "search"), ("opened", "Beta", "search"),
                                  ("already_open", "Open already", "search")])
        alpha = s.room("Alpha")
        self.assertEqual(crlf(self.poke("gettext", alpha.input)[0]["text"]), "from search")
        self.poke("key", alpha.input, VK_RETURN)
        s.wait_for(lambda e: e.name == "enter" and e["mode"] == "stuck")
        self.assertNoFocusEvents(s)

    def test_unknown_query_opens_nothing(self):
        s = self.start(self.SCENARIO)
        box = s.hwnd("search_box")
        self.poke("settext", box, "Al", "post", s.hwnd("chat_list_view"), WM_COMMAND, 0x03000000 | 2001, box,
                  "key", box, VK_RETURN)
        self.assertEqual(s.wait_for(lambda e: e.name == "search")["results"], 0)
        self.assertEqual(s.find(lambda e: e.name == "opened"), [])
        change = s.messages(name="WM_COMMAND", role="chat_list_view")
        self.assertEqual([(e["via"], e["code"], e["id"], e["control"]) for e in change], [("posted", 0x300, 2001, box)])

    def test_tab_ranges(self):
        s = self.start(self.SCENARIO)
        xs = [(54, "전체"), (96, "전체"), (97, "안읽음"), (140, "안읽음"), (223, "가족"), (256, "가족"),
              (257, "업무"), (290, "업무"), (323, "교사"), (356, "교사")]
        args = []
        for x, _ in xs:
            args += ["click", s.hwnd("tab_strip"), x, 25]
        self.poke(*args)
        selected = s.find(lambda e: e.name == "tab_selected")
        self.assertEqual([(e["x"], e["tab"]) for e in selected], xs)
        assert_traffic(self, s.messages(role="tab_strip")[:3], [
            expect("WM_MOUSEMOVE", x=54, y=25, via="sent", wparam=0),
            expect("WM_LBUTTONDOWN", x=54, y=25, via="sent", wparam=1),
            expect("WM_LBUTTONUP", x=54, y=25, via="sent", wparam=0)])

    def test_rows_open_rooms_of_the_selected_tab(self):
        s = self.start(self.SCENARIO)
        rows = s.hwnd("room_list")
        self.poke("click", s.hwnd("tab_strip"), 223, 25,
                  *[a for y in (48, 129, 210, 291, 7) for a in ("dblclick", rows, 200, y)],
                  "click", s.hwnd("tab_strip"), 356, 25, "dblclick", rows, 200, 88)
        events = [(e.name, e.get("room"), e.get("row")) for e in s.find(lambda e: e.name in ("row", "row_empty"))]
        self.assertEqual(events, [("row", "Mom", 0), ("row_empty", None, 1), ("row", "Open already", 2),
                                  ("row_empty", None, 3), ("row_empty", None, -1), ("row", "Teachers", 0)])
        opened = [(e.name, e["room"]) for e in s.find(lambda e: e.name in ("opened", "already_open"))]
        self.assertEqual(opened, [("opened", "Mom"), ("already_open", "Open already"), ("opened", "Teachers")])
        at = dict(x=200, y=48, via="sent")
        assert_traffic(self, s.messages(role="room_list")[:5], [
            expect("WM_MOUSEMOVE", **at), expect("WM_LBUTTONDOWN", **at), expect("WM_LBUTTONUP", **at),
            expect("WM_LBUTTONDBLCLK", **at), expect("WM_LBUTTONUP", **at)])

    def test_hidden_search_box_is_shown_without_activation(self):
        s = self.start("search_box hidden\n")
        box = s.hwnd("search_box")
        out = self.poke("visible", box, "showna", box, "visible", box)
        self.assertEqual([out[0]["value"], out[2]["value"]], [0, 1])
        shown = s.messages(name="WM_SHOWWINDOW")
        self.assertEqual([(e["via"], e["wparam"]) for e in shown], [("sent", 1)])
        self.assertNoFocusEvents(s)


class ScenarioErrorTest(StandinTestCase):
    def test_bad_scenario_stops_before_ready(self):
        cases = [('room "A" bogus=1\n', "line 1"), ('\nroom "unterminated\n', "line 2"),
                 ('room "A" draft="\\q"\n', "line 1"), ("online sometimes\n", "line 1"),
                 ('rooms x "R %d"\n', "line 1")]
        for text, where in cases:
            with self.subTest(scenario=text):
                s = Standin(text, prefix=self.prefix, ready_timeout=15)
                with self.assertRaises(StandinError) as caught:
                    s.start()
                self.assertIn(where, str(caught.exception))
                self.assertEqual(s.proc.returncode, 2)


class LogParseTest(unittest.TestCase):
    def test_lines(self):
        cases = [
            ('5 ready pid=42', "ready", {"pid": 42}),
            ('7 msg name=WM_KEYUP hwnd=100 role=input room="A b" via=posted wparam=0xd lparam=0xc01c0001',
             "msg", {"name": "WM_KEYUP", "hwnd": 100, "role": "input", "room": "A b", "via": "posted",
                     "wparam": 13, "lparam": 0xC01C0001}),
            ('9 send room="q\\"x" text="a\\r\\nb \\ud83d\\ude00 \\udc00 = k=v"', "send",
             {"room": 'q"x', "text": "a\r\nb \U0001F600 \udc00 = k=v"}),
            ('11 tab_selected tab="가족" index=2 x=-3', "tab_selected", {"tab": "가족", "index": 2, "x": -3}),
        ]
        for line, name, fields in cases:
            with self.subTest(line=line):
                e = parse_line(line)
                self.assertEqual((e.name, e.fields), (name, fields))


class WineStartTest(StandinTestCase):
    def test_programs_start_through_the_wine_preloader(self):
        # Without the preloader, about one Wine start in a few thousand finds
        # its heap on the shared user data page and dies with exit code 1.
        s = self.start('room "A"')
        exe = os.path.basename(os.readlink("/proc/%d/exe" % s.proc.pid))
        self.assertIn("preloader", exe, "Wine runs without its preloader: install wine64-preloader")


class TrafficCompareTest(unittest.TestCase):
    def test_table(self):
        log = [parse_line(line) for line in (
            "1 msg name=WM_KEYDOWN via=posted wparam=0xd",
            "2 msg name=WM_CHAR via=posted wparam=0xd",
            "3 msg name=WM_KEYUP via=posted wparam=0xd",
            "4 send room=\"A\" text=\"x\"")]
        down, up = expect("WM_KEYDOWN", wparam=13), expect("WM_KEYUP", via="posted")
        char, send = expect("WM_CHAR", optional=True), expect("send", room="A")
        cases = [  # name, expected table, matches
            ("exact", [down, expect("WM_CHAR", wparam=13, via="posted"), up, send], True),
            ("fields only where named", [expect("WM_KEYDOWN"), char, expect("WM_KEYUP"), expect("send")], True),
            ("optional entry present", [down, char, up, send], True),
            ("optional entry absent", [down, expect("WM_SYSKEYDOWN", optional=True), expect("WM_CHAR"), up, send],
             True),
            ("missing entry", [down, up, send], False),
            ("wrong field", [down, char, expect("WM_KEYUP", via="sent"), send], False),
            ("unexpected extra event", [down, char, up], False),
            ("expected more", [down, char, up, send, expect("emptied")], False),
        ]
        for name, table, ok in cases:
            with self.subTest(name):
                report = compare_traffic(log, table)
                self.assertEqual(report == [], ok, "\n".join(report))
        self.assertIn("WM_KEYUP via='sent'", "\n".join(compare_traffic(log, cases[5][1])))

    def test_sent_and_posted_queues(self):
        # A posted notification may be handled after a message sent later.
        log = [parse_line(line) for line in (
            "1 msg name=EM_SETSEL via=sent",
            "2 msg name=EM_REPLACESEL via=sent",
            "3 msg name=EM_SETSEL via=sent",
            "4 msg name=WM_COMMAND via=posted wparam=1",
            "5 send room=\"A\"",
            "6 msg name=WM_COMMAND via=posted wparam=2",
            "7 msg name=EM_REPLACESEL via=sent")]
        sel, put = expect("EM_SETSEL", via="sent"), expect("EM_REPLACESEL", via="sent")
        first, second = expect("WM_COMMAND", via="posted", wparam=1), expect("WM_COMMAND", via="posted", wparam=2)
        cases = [  # name, expected table, matches
            ("posted before a later sent", [sel, put, first, expect("send"), sel, second, put], True),
            ("as logged", [sel, put, sel, first, expect("send"), second, put], True),
            ("posted out of their order", [sel, put, second, sel, first, expect("send"), put], False),
            ("sent out of their order", [sel, sel, put, first, expect("send"), second, put], False),
            ("a consequence moved to the other queue", [sel, put, expect("send"), sel, first, second, put], False),
        ]
        for name, table, ok in cases:
            with self.subTest(name):
                self.assertEqual(compare_traffic(log, table) == [], ok)


if __name__ == "__main__":
    unittest.main()
