"""chatdraft's window message primitives under Wine, run by the test program
primitives_driver.exe against the stand-in client: the exact traffic of
set_edit_text_safe, post_key_formal and send_click as the client receives
it, and what get_edit_text_alloc makes of placeholders, huge lengths and a
box that does not answer."""

import json
import os
import unittest

from harness import Standin, assert_traffic, expect, prefix_from_env, run_exe, win_build_dir
from harness.requests import MAX_READ_UNITS, read_wparam

RUN_SECONDS = 60
PLACEHOLDER = "\uba54\uc2dc\uc9c0 \uc785\ub825"
VK_RETURN, VK_DOWN = 0x0D, 0x28
EN_CHANGE = 0x0300
INPUT_ID, SEARCH_BOX_ID = 1001, 2001  # the stand-in's control ids
ALL_BITS = (1 << 64) - 1


def units_hex(text):
    """A text as the driver takes it: its UTF-16 units in hex ("-" for none)."""
    data = text.encode("utf-16-le")
    return "".join("%02x%02x" % (data[i + 1], data[i]) for i in range(0, len(data), 2)) or "-"


def utf16_len(text):
    return len(text.encode("utf-16-le")) // 2


def as_reported(text):
    """What Wine's RichEdit answers for a text put in: every line break as CR LF."""
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")


def point_lparam(x, y):
    """The click point as the stand-in logs it: formed in 32 bits, widened with sign extension."""
    point = ((y << 16) | (x & 0xFFFF)) & 0xFFFFFFFF
    return point | (ALL_BITS ^ 0xFFFFFFFF) if point & 0x80000000 else point


def short(value):
    value &= 0xFFFF
    return value - 0x10000 if value & 0x8000 else value


class PrimitivesTestCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()
        cls.driver = os.path.join(win_build_dir(), "tests", "e2e", "win", "primitives_driver.exe")
        assert os.path.isfile(cls.driver), "no primitives driver at %s" % cls.driver

    def start(self, scenario):
        s = Standin(scenario, prefix=self.prefix)
        s.start()
        self.addCleanup(s.stop)
        return s

    def drive(self, *args):
        """Runs the driver once; one result dict per command."""
        r = run_exe(self.driver, args, timeout=RUN_SECONDS, prefix=self.prefix)
        self.assertFalse(r.timed_out, "primitives_driver %r did not end" % (args,))
        self.assertEqual((r.returncode, r.stderr), (0, b""), r.stdout)
        return [json.loads(line) for line in r.stdout.decode("ascii").splitlines()]

    def traffic(self, s, mark, *hwnds):
        return [e for e in s.since(mark) if e.name == "msg" and e["hwnd"] in hwnds]

    def assertNoFocusEvents(self, s):
        self.assertEqual([e.line for e in s.focus_events()], [])


class SetTextTest(PrimitivesTestCase):
    CASES = [  # name, room options, text written, what the box then reports, falls back to WM_SETTEXT
        ("into an empty box", "", "hello", "hello", False),
        ("over a draft", 'draft="old draft"', "new", "new", False),
        ("LF reads back as CR LF", "", "one\ntwo\nthree", "one\r\ntwo\r\nthree", False),
        ("CR and CR LF read back as CR LF", "", "a\rb\r\nc", "a\r\nb\r\nc", False),
        ("empty text empties the box", 'draft="old"', "", "", False),
        ("Korean, astral, quotes", "", '안녕 \U0001F600 "q" \\', '안녕 \U0001F600 "q" \\', False),
        ("placeholder text into a placeholder box", "placeholder", PLACEHOLDER, PLACEHOLDER, True),
        ("placeholder text into a plain box", "", PLACEHOLDER, PLACEHOLDER, True),
        ("CR CR LF becomes a blank", "", "a\r\r\nb", "a b", True),
        ("huge reported length", 'huge=100000000 draft="x"', "y", "y", False),
    ]

    def test_sequences(self):
        s = self.start("".join('room "Case %d" %s\n' % (i, options) for i, (_, options, _, _, _) in
                               enumerate(self.CASES)))
        rooms = [s.room("Case %d" % i) for i in range(len(self.CASES))]
        mark = s.mark()
        args = []
        for room, (_, _, text, _, _) in zip(rooms, self.CASES):
            args += ["settext", room.input, units_hex(text)]
        results = self.drive(*args)
        last = rooms[-1]
        s.wait_for(lambda e: e.name == "msg" and e["name"] == "WM_COMMAND" and e["hwnd"] == last.hwnd, since=mark)
        for room, result, (name, options, text, reported, fallback) in zip(rooms, results, self.CASES):
            with self.subTest(name):
                length = utf16_len(reported)
                asked = read_wparam(MAX_READ_UNITS if "huge" in options else length)
                table = [
                    expect("EM_SETSEL", via="sent", wparam=0, lparam=ALL_BITS),
                    expect("EM_REPLACESEL", via="sent", wparam=1, text=text),
                    expect("WM_GETTEXTLENGTH", via="sent", wparam=0, lparam=0),
                ]
                if length:
                    table.append(expect("WM_GETTEXT", via="sent", wparam=asked, text=reported))
                if fallback:
                    table.append(expect("WM_SETTEXT", via="sent", wparam=0, text=text))
                table.append(expect("WM_COMMAND", via="posted", role="room", wparam=(EN_CHANGE << 16) | INPUT_ID,
                                    lparam=room.input, id=INPUT_ID, code=EN_CHANGE, control=room.input))
                assert_traffic(self, self.traffic(s, mark, room.hwnd, room.input), table)
                self.assertEqual(result, {"cmd": "settext"})
        self.assertNoFocusEvents(s)

    def test_search_box_notifies_the_chat_list_view(self):
        s = self.start("")
        box, view = s.hwnd("search_box"), s.hwnd("chat_list_view")
        mark = s.mark()
        self.drive("settext", box, units_hex("가족"), "settext", box, units_hex("x\ny"))
        notify = dict(via="posted", role="chat_list_view", wparam=(EN_CHANGE << 16) | SEARCH_BOX_ID, lparam=box,
                      id=SEARCH_BOX_ID, code=EN_CHANGE, control=box)
        # Wine's single-line edit box keeps a lone LF as it is: no fallback.
        s.wait_for(lambda e: len(self.traffic(s, mark, view)) == 2, timeout=5, since=mark)
        assert_traffic(self, self.traffic(s, mark, box, view), [
            expect("EM_SETSEL", via="sent", wparam=0, lparam=ALL_BITS),
            expect("EM_REPLACESEL", via="sent", wparam=1, text="가족"),
            expect("WM_GETTEXTLENGTH", via="sent", result=2),
            expect("WM_GETTEXT", via="sent", wparam=read_wparam(2), text="가족"),
            expect("WM_COMMAND", **notify),
            expect("EM_SETSEL", via="sent", wparam=0, lparam=ALL_BITS),
            expect("EM_REPLACESEL", via="sent", wparam=1, text="x\ny"),
            expect("WM_GETTEXTLENGTH", via="sent", result=3),
            expect("WM_GETTEXT", via="sent", wparam=read_wparam(3), text="x\ny"),
            expect("WM_COMMAND", **notify),
        ])
        self.assertNoFocusEvents(s)


class KeyTest(PrimitivesTestCase):
    def test_enter_and_down(self):
        s = self.start('room "Keys"\nplain 1 "Other %d"\n')
        box, other = s.room("Keys").input, s.windows("plain")[0].hwnd
        mark = s.mark()
        results = self.drive("key", box, VK_RETURN, "key", other, VK_DOWN)
        s.wait_for(lambda e: e.name == "msg" and e["name"] == "WM_KEYUP" and e["hwnd"] == other, since=mark)
        s.wait_for(lambda e: e.name == "msg" and e["name"] == "WM_CHAR", since=mark)
        for hwnd, vk, result in ((box, VK_RETURN, results[0]), (other, VK_DOWN, results[1])):
            with self.subTest(vk=vk):
                keys = [e for e in self.traffic(s, mark, hwnd) if e["name"] in ("WM_KEYDOWN", "WM_KEYUP")]
                self.assertEqual(len(keys), 2, [e.line for e in keys])
                scan = (keys[0]["lparam"] >> 16) & 0xFF
                self.assertNotEqual(scan, 0)
                self.assertEqual(scan, (keys[1]["lparam"] >> 16) & 0xFF, "the same scan code down and up")
                self.assertEqual(scan, result["scan"], "the scan code the system maps the key to")
                # The stand-in's own TranslateMessage makes a WM_CHAR of Enter,
                # before or after the key-up.
                char = expect("WM_CHAR", optional=True, via="posted", wparam=0x0D)
                assert_traffic(self, self.traffic(s, mark, hwnd), [
                    expect("WM_KEYDOWN", via="posted", wparam=vk, lparam=(scan << 16) | 1),
                    char,
                    expect("WM_KEYUP", via="posted", wparam=vk, lparam=(scan << 16) | 0xC0000001),
                    char,
                ])
        self.assertEqual(len(s.messages(since=mark, name="WM_CHAR")), 1, "only Enter makes a character")
        self.assertNoFocusEvents(s)


class ClickTest(PrimitivesTestCase):
    POINTS = [(3, 4), (0, 0), (-5, -7), (470, 89), (32767, -32768), (-1, 65535), (70000, -70000),
              (-2147483648, 2147483647)]

    def test_clicks_and_double_clicks(self):
        s = self.start('room "Clicks"\nplain 1 "Other %d"\n')
        targets = [s.room("Clicks").hwnd, s.windows("plain")[0].hwnd]
        mark = s.mark()
        args = []
        for i, (x, y) in enumerate(self.POINTS):
            args += ["click", targets[i % 2], x, y, "dblclick", targets[i % 2], x, y]
        results = self.drive(*args)
        self.assertEqual([r["cmd"] for r in results], ["click", "dblclick"] * len(self.POINTS))
        for which, hwnd in enumerate(targets):
            table = []
            for x, y in self.POINTS[which::2]:
                at = dict(via="sent", lparam=point_lparam(x, y), x=short(x), y=short(y))
                click = [expect("WM_MOUSEMOVE", wparam=0, **at), expect("WM_LBUTTONDOWN", wparam=1, **at),
                         expect("WM_LBUTTONUP", wparam=0, **at)]
                table += click + click + [expect("WM_LBUTTONDBLCLK", wparam=1, **at),
                                          expect("WM_LBUTTONUP", wparam=0, **at)]
            with self.subTest(target=which):
                assert_traffic(self, self.traffic(s, mark, hwnd), table)
        self.assertNoFocusEvents(s)


class GetTextTest(PrimitivesTestCase):
    CASES = [  # name, room options, text returned, length reported (None: no WM_GETTEXT)
        ("placeholder reads as empty", "placeholder", "", 6),
        ("placeholder and a space", 'draft="%s "' % PLACEHOLDER, PLACEHOLDER + " ", 7),
        ("placeholder's first word", 'draft="%s"' % PLACEHOLDER[:3], PLACEHOLDER[:3], 3),
        ("placeholder with a line break", 'draft="%s\\n"' % PLACEHOLDER, PLACEHOLDER + "\r\n", 8),
        ("empty box", "", "", None),
        ("lines", 'draft="a\\nb\\rc"', "a\r\nb\r\nc", 7),
        ("lines counted once", 'draft="a\\nb\\rc" length=break_once', "a\r\nb\r\nc", 5),
        ("length near 2**63", 'huge=0x7FFFFFFFFFFFFFFF draft="small"', "small", MAX_READ_UNITS),
        ("length 100000000", 'huge=100000000 draft="big"', "big", MAX_READ_UNITS),
        ("length just under the cap", 'huge=1048575 draft="n"', "n", MAX_READ_UNITS - 1),
    ]

    def test_reads(self):
        s = self.start("".join('room "Case %d" %s\n' % (i, options) for i, (_, options, _, _) in
                               enumerate(self.CASES)))
        boxes = [s.room("Case %d" % i).input for i in range(len(self.CASES))]
        mark = s.mark()
        results = self.drive(*[a for box in boxes for a in ("gettext", box)])
        for box, result, (name, _, text, asked) in zip(boxes, results, self.CASES):
            with self.subTest(name):
                self.assertEqual((result["null"], result["text"], result["len"]), (0, text, utf16_len(text)))
                table = [expect("WM_GETTEXTLENGTH", via="sent", wparam=0, lparam=0)]
                if asked is not None:
                    table.append(expect("WM_GETTEXT", via="sent", wparam=read_wparam(asked)))
                assert_traffic(self, self.traffic(s, mark, box), table)
        self.assertNoFocusEvents(s)

    def test_box_that_does_not_answer_reads_as_empty(self):
        s = self.start('room "Frozen" hang=ready hang_for=forever draft="unseen"\nroom "Fine" draft="seen"\n')
        results = self.drive("gettext", s.room("Frozen").input, "gettext", s.room("Fine").input)
        self.assertEqual([(r["null"], r["text"]) for r in results], [(0, ""), (0, "seen")])


if __name__ == "__main__":
    unittest.main()
