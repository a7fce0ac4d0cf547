"""Request mode against rooms that are open from the start: which room is
chosen or refused, what the draft flags write, the readback check, Enter and
the send confirmation, and close_after. Every run goes through the real
chatdraft.exe under Wine against the stand-in client, compares the result
file byte for byte, the message traffic the stand-in recorded against a table,
and checks that nothing was activated or focused.

Run with CHATDRAFT_WINEPREFIX and CHATDRAFT_WIN_BUILD set:
    python3 -m unittest -v test_request_draft
"""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (Standin, assert_traffic, chatdraft_exe, expect, poke,  # noqa: E402
                     prefix_from_env)
from harness.requests import (KAKAO_LOCKED, ambiguous_room_doc, crlf, draft_exists_doc,  # noqa: E402
                              read_wparam, run_request, success_doc, write_mismatch_doc)

WM_COMMAND = 0x0111
VK_RETURN = 0x0D
ENTER_DOWN_LPARAM = 0x001C0001      # scan code 0x1C, repeat count 1
ENTER_UP_LPARAM = 0xC01C0001        # plus previous-state and transition bits
SELECT_ALL = 0xFFFFFFFFFFFFFFFF     # EM_SETSEL's -1 as the stand-in logs it
EN_CHANGE = 0x0300
PLACEHOLDER = "메시지 입력"
ROOM_EVENTS = ("enter", "send", "emptied", "closed", "hang", "hang_end")
SEND_POLLS = 15
BARRIER_FIRST = 0x7000


def units(text):
    return len(text.encode("utf-16-le")) // 2


# ------------------------------------------------------------ traffic tables

def read_box(box_text):
    """One read of the input box: the length, then the text when there is one."""
    if not box_text:
        return [expect("WM_GETTEXTLENGTH", via="sent", result=0)]
    n = units(box_text)
    return [expect("WM_GETTEXTLENGTH", via="sent", result=n),
            expect("WM_GETTEXT", via="sent", wparam=read_wparam(n), result=n, text=box_text)]


def write_box(room, text, box_after, fallback=False):
    """Select all, replace, read back (WM_SETTEXT when that differs), then EN_CHANGE to the room."""
    table = [expect("EM_SETSEL", via="sent", hwnd=room.input, wparam=0, lparam=SELECT_ALL),
             expect("EM_REPLACESEL", via="sent", hwnd=room.input, wparam=1, text=text)]
    table += read_box(box_after)
    if fallback:
        table.append(expect("WM_SETTEXT", via="sent", wparam=0, text=text))
    table.append(expect("WM_COMMAND", via="posted", hwnd=room.hwnd, code=EN_CHANGE, control=room.input))
    return table


def press_enter(box_text, mode, sends):
    """The posted key-down of Enter with what the stand-in does on it.

    The key-up, and the carriage return that the stand-in's own
    TranslateMessage makes of the key-down, are posted messages the stand-in
    takes after any message sent to it meanwhile (a poll of the box, when
    sending a long text takes a while): RequestCase.assertRoomTraffic checks
    them apart from the ordered table.
    """
    table = [expect("WM_KEYDOWN", via="posted", wparam=VK_RETURN, lparam=ENTER_DOWN_LPARAM),
             expect("enter", text=box_text, mode=mode)]
    if sends:
        table.append(expect("send", text=box_text))
        if mode == "normal":
            table.append(expect("emptied"))
    return table


def close_room(room):
    return [expect("WM_CLOSE", via="posted", hwnd=room.hwnd, wparam=0, lparam=0),
            expect("closed", hwnd=room.hwnd, by="close")]


def is_barrier(event):
    """A WM_COMMAND the tests post themselves to see that the queue was worked off."""
    return (event.name == "msg" and event["name"] == "WM_COMMAND" and event["lparam"] == 0
            and BARRIER_FIRST <= event["wparam"] < BARRIER_FIRST + 0x1000)


def scenario_text(text):
    """A text in the stand-in's scenario syntax."""
    escaped = text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
    escaped = escaped.replace("\r", "\\r").replace("\t", "\\t")
    return '"%s"' % "".join(c if ord(c) >= 0x20 else "\\u%04x" % ord(c) for c in escaped)


def names(events):
    return [e.get("name", e.name) for e in events]


class RequestCase(unittest.TestCase):
    """One stand-in per class; each test uses rooms of its own."""

    SCENARIO = ""

    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()
        if not os.path.isfile(chatdraft_exe()):
            raise AssertionError("no chatdraft.exe at %s" % chatdraft_exe())
        cls.s = Standin(cls.SCENARIO, prefix=cls.prefix)
        cls.s.start()
        cls.addClassCleanup(cls.s.stop)
        cls.main = cls.s.hwnd("main")
        cls.barrier = BARRIER_FIRST

    def request(self, request):
        """Run one request; returns its result and everything the stand-in logged meanwhile."""
        mark = self.s.mark()
        run = run_request(request, prefix=self.prefix)
        self.assertEqual(0, run.returncode, run)
        self.assertEqual(b"", run.stdout + run.stderr)
        self.assertEqual(["out.json"], run.files)
        events = self.settle(mark)
        self.assertEqual([], [e.line for e in self.s.focus_events(since=mark)],
                         "activation or focus changed during %r" % request)
        return run, events

    def settle(self, mark, thread_window=None):
        """Everything logged since mark, once all that chatdraft posted has been handled.

        A message posted after the run to a window of the same thread (the
        main window, or a room that lives on a thread of its own) queues
        behind chatdraft's posts; when it is logged, they are done.
        """
        target = thread_window or self.main
        type(self).barrier += 1
        token = self.barrier
        poke("post", target, WM_COMMAND, token, 0, prefix=self.prefix)
        self.s.wait_for(lambda e: e.name == "msg" and e["name"] == "WM_COMMAND"
                        and e["hwnd"] == target and e["wparam"] == token, since=mark)
        return [e for e in self.s.since(mark) if not is_barrier(e)]

    def room_traffic(self, events, room):
        """Messages to the room and its input box, and the room's own events, in log order."""
        return [e for e in events
                if (e.name == "msg" and e["hwnd"] in (room.hwnd, room.input))
                or (e.name in ROOM_EVENTS and e["hwnd"] == room.hwnd)]

    def assertRoomTraffic(self, events, room, table):
        """The room's traffic follows the table; each Enter key-down has one key-up after it."""
        traffic = self.room_traffic(events, room)
        ordered = [e for e in traffic if e.get("name") not in ("WM_KEYUP", "WM_CHAR")]
        assert_traffic(self, ordered, table)
        downs = [i for i, e in enumerate(traffic) if e.get("name") == "WM_KEYDOWN"]
        ups = [i for i, e in enumerate(traffic) if e.get("name") == "WM_KEYUP"]
        self.assertEqual(len(downs), len(ups), "key-downs and key-ups of Enter")
        for down, up in zip(downs, ups):
            self.assertLess(down, up)
            self.assertEqual(("posted", VK_RETURN, ENTER_UP_LPARAM),
                             (traffic[up]["via"], traffic[up]["wparam"], traffic[up]["lparam"]))
        chars = [e for e in traffic if e.get("name") == "WM_CHAR"]
        self.assertLessEqual(len(chars), len(downs))
        self.assertTrue(all(e["wparam"] == 0x0D for e in chars), [e.line for e in chars])

    def assertOnlyRoomTouched(self, events, room):
        others = [e.line for e in events if e.name in ("msg",) + ROOM_EVENTS
                  and e not in self.room_traffic(events, room)]
        self.assertEqual([], others, "traffic beyond room %r" % room.title)

    def assertUntouched(self, events):
        self.assertEqual([], [e.line for e in events if e.name in ("msg",) + ROOM_EVENTS])

    def box_text(self, room):
        return poke("gettext", room.input, prefix=self.prefix)[0]["text"]


class SelectionTest(RequestCase):
    SCENARIO = "\n".join([
        'room "Twin" draft="left"',
        'room "Twin" draft="right"',
        'room "Twin Peaks"',          # "Twin" is its prefix: 80
        'room "Old Twin"',            # "Twin" inside: 40
        'room "Solo"',
        'room "Solo Trip"',
        'room "Lone Solo"',
        'room "Old Harbor View"',     # "Harbor" inside: 40
        'room "Alpha, Beta"',         # "Alpha" before a comma: 40
        'room "Lakeside Club"',       # "Lake" as prefix: 80, "lakeside" resolved: 85
        # Created in this order, scanned newest first: P, Q, U at 40, then R, S at 80.
        'room "Gamma S"',
        'room "Gamma R"',
        'room "Big Gamma U"',
        'room "Big Gamma Q"',
        'room "Big Gamma P"',
    ])

    def test_ties_are_ambiguous_with_every_candidate_in_order(self):
        twins = self.s.rooms("Twin")
        expected = ambiguous_room_doc(95, ["Twin", "Twin", "Twin Peaks", "Old Twin"])
        for send in (False, True):
            with self.subTest(send=send):
                run, events = self.request({"room": "Twin", "message": "hi", "send": send,
                                            "force": True, "close_after": True})
                self.assertEqual(expected, run.raw)
                self.assertUntouched(events)
        self.assertEqual(["left", "right"], sorted(self.box_text(r) for r in twins))

    def test_candidates_follow_the_exchange_sort(self):
        # Each later entry that scores higher is swapped into place: R and S
        # move up, and U, which was swapped past P and Q, stays ahead of them.
        run, events = self.request({"room": "Gamma", "message": "m"})
        self.assertEqual(ambiguous_room_doc(80, ["Gamma R", "Gamma S", "Big Gamma U", "Big Gamma P",
                                                 "Big Gamma Q"]), run.raw)
        self.assertUntouched(events)

    def test_request_without_a_room_name_takes_no_room(self):
        # Every open room is a candidate at 100 then: all tie, none is written.
        titles = [line.split('"')[1] for line in reversed(self.SCENARIO.splitlines())
                  if line.startswith("room ")]
        for request in ({"message": "to whom?", "send": True}, {"room": "", "message": "x"}):
            with self.subTest(request=request):
                run, events = self.request(request)
                self.assertEqual(ambiguous_room_doc(100, titles), run.raw)
                self.assertUntouched(events)

    def test_weak_match_is_refused_only_for_sending(self):
        harbor = self.s.room("Old Harbor View")
        refused = [
            ("contains the query", {"room": "Harbor", "message": "m", "send": True}, 40,
             ["Old Harbor View"]),
            ("clear with send", {"room": "Harbor", "clear": True, "send": True,
                                 "close_after": True}, 40, ["Old Harbor View"]),
            ("prefix before a comma", {"room": "Alpha", "message": "m", "send": True}, 40,
             ["Alpha, Beta"]),
        ]
        for name, request, top, titles in refused:
            with self.subTest(name):
                run, events = self.request(request)
                self.assertEqual(ambiguous_room_doc(top, titles), run.raw)
                self.assertUntouched(events)

        run, events = self.request({"room": "Harbor", "message": "harbor note"})
        self.assertEqual(success_doc("draft_written", "Old Harbor View", 40, harbor.hwnd, harbor.input,
                                     previous="", written="harbor note", remaining="harbor note"),
                         run.raw)
        self.assertRoomTraffic(events, harbor,
                               read_box("") + write_box(harbor, "harbor note", "harbor note")
                               + read_box("harbor note") + read_box("harbor note"))
        self.assertOnlyRoomTouched(events, harbor)

    def test_prefix_match_may_send(self):
        lakeside = self.s.room("Lakeside Club")
        for request, score in (({"room": "Lake", "message": "by the lake", "send": True}, 80),
                               ({"resolved_name": "lakeside", "message": "again", "send": True}, 85)):
            with self.subTest(score=score):
                run, events = self.request(request)
                self.assertEqual(success_doc("sent", "Lakeside Club", score, lakeside.hwnd,
                                             lakeside.input, previous="", written=request["message"]),
                                 run.raw)
                sent = [e["text"] for e in events if e.name == "send"]
                self.assertEqual([request["message"]], sent)
                self.assertOnlyRoomTouched(events, lakeside)

    def test_entry_below_the_top_score_is_not_a_tie(self):
        # "Solo" 95 above "Solo Trip" 80 and "Lone Solo" 40: the top one is used,
        # and the same text again is no conflict; it is written anew and sent.
        solo = self.s.room("Solo")
        run, events = self.request({"room": "Solo", "message": "solo line"})
        self.assertEqual(success_doc("draft_written", "Solo", 95, solo.hwnd, solo.input,
                                     previous="", written="solo line", remaining="solo line"), run.raw)
        self.assertOnlyRoomTouched(events, solo)

        run, events = self.request({"room": "Solo", "message": "solo line", "send": True})
        self.assertEqual(success_doc("sent", "Solo", 95, solo.hwnd, solo.input,
                                     previous="solo line", written="solo line"), run.raw)
        self.assertRoomTraffic(events, solo,
                               read_box("solo line") + write_box(solo, "solo line", "solo line")
                               + read_box("solo line") + press_enter("solo line", "normal", sends=True)
                               + read_box("") + read_box(""))
        self.assertOnlyRoomTouched(events, solo)


class UnnamedRequestTest(RequestCase):
    """A request that names no room, with one room open: that room is the only
    candidate (score 100). A draft may go there; a message is never sent."""
    SCENARIO = 'room "Only room"'

    def test_send_is_refused_and_a_draft_is_written(self):
        only = self.s.room("Only room")
        run, events = self.request({"message": "to whom?", "send": True, "close_after": True})
        self.assertEqual(ambiguous_room_doc(100, ["Only room"]), run.raw)
        self.assertUntouched(events)

        run, events = self.request({"message": "a note"})
        self.assertEqual(success_doc("draft_written", "Only room", 100, only.hwnd, only.input,
                                     previous="", written="a note", remaining="a note"), run.raw)
        self.assertEqual([], [e for e in events if e.name == "send"])
        self.assertOnlyRoomTouched(events, only)


class CrowdTest(RequestCase):
    SCENARIO = 'room "Crowd" draft="mine"\nrooms 40 "Crowd %d"'

    def test_full_table_keeps_the_best_match(self):
        # Scanned newest first: "Crowd 40" down to "Crowd 9" (80 each) fill the
        # table before "Crowd" itself (95) comes; it takes the place of one.
        crowd = self.s.room("Crowd")
        run, events = self.request({"room": "Crowd", "message": "m", "force": True})
        self.assertEqual(success_doc("draft_written", "Crowd", 95, crowd.hwnd, crowd.input,
                                     previous="mine", written="m", remaining="m"), run.raw)
        self.assertOnlyRoomTouched(events, crowd)


class LeftOutTest(RequestCase):
    """A room is never chosen while a better match was left out of the table:
    by its 32 places, or because its input box was not recognised."""
    SCENARIO = "\n".join([
        'room "Team Alpha"',
        'room "Team Alpha Ops"',
        'rooms 31 "Weekly Team Alpha %d"',     # 40 each, above both in z-order
        'room "Project Beta" input=ChatInputBox',
        'room "Project Beta Ops"',
    ])

    def test_exact_room_below_a_full_table_gets_the_message(self):
        alpha = self.s.room("Team Alpha")
        run, events = self.request({"room": "Team Alpha", "message": "secret", "send": True})
        self.assertEqual(success_doc("sent", "Team Alpha", 95, alpha.hwnd, alpha.input,
                                     previous="", written="secret"), run.raw)
        self.assertEqual([("Team Alpha", "secret")],
                         [(e["room"], e["text"]) for e in events if e.name == "send"])
        self.assertOnlyRoomTouched(events, alpha)

    def test_best_match_without_an_input_box_is_no_reason_to_take_a_weaker_one(self):
        for request in ({"room": "Project Beta", "message": "secret", "send": True},
                        {"room": "Project Beta", "message": "draft"}):
            with self.subTest(send=request.get("send", False)):
                run, events = self.request(request)
                self.assertEqual(ambiguous_room_doc(80, ["Project Beta Ops"]), run.raw)
                self.assertUntouched(events)


class RequestReaderTest(RequestCase):
    """Texts that the reader once took for keys, and characters beyond U+FFFF
    written as escape pairs: the stand-in's log shows where each message went."""
    SCENARIO = "\n".join(['room "Draft only"', 'room "x"', 'room "A"', 'room "Family"',
                          'room "Work"', 'room "Birthday"'])

    def sent_to(self, events):
        return [(e["room"], e["text"]) for e in events if e.name == "send"]

    def test_a_value_equal_to_a_key_name_is_no_key(self):
        room = self.s.room("Draft only")
        run, events = self.request(b'{"room":"Draft only","message":"send","close_after":true}')
        self.assertEqual(success_doc("draft_written", "Draft only", 95, room.hwnd, room.input,
                                     previous="", written="send", remaining="send"), run.raw)
        self.assertEqual([], self.sent_to(events))
        run, events = self.request(b'{"message":"room","tab":"x","room":"A","send":true}')
        self.assertEqual("sent", run.doc["status"])
        self.assertEqual([("A", "room")], self.sent_to(events))
        self.assertOnlyRoomTouched(events, self.s.room("A"))

    def test_top_level_member_wins_over_a_nested_key(self):
        run, events = self.request(b'{"reply_to":{"room":"Family","id":7},"room":"Work",'
                                   b'"message":"quarterly numbers","send":true}')
        self.assertEqual(("sent", "Work"), (run.doc["status"], run.doc["room_title"]))
        self.assertEqual([("Work", "quarterly numbers")], self.sent_to(events))
        self.assertOnlyRoomTouched(events, self.s.room("Work"))

    def test_escape_pair_is_one_character(self):
        # What Python's json.dumps writes by default.
        request = json.dumps({"room": "Birthday", "message": "Happy birthday \U0001F382", "send": True})
        self.assertIn("\\ud83c\\udf82", request)
        run, events = self.request(request.encode("ascii"))
        self.assertEqual([("Birthday", "Happy birthday \U0001F382")], self.sent_to(events))
        self.assertEqual("Happy birthday \U0001F382", run.doc["written_text"])


class ExactTest(RequestCase):
    """With `exact`, a send needs a title equal to the name asked for. With no
    search box and no tab, no room can be opened to find one."""
    SCENARIO = "\n".join(['search_box absent', 'room "이수진"', 'room "Team Alpha\u200b"',
                          'room "김민지"', 'room "김민"'])

    def test_prefix_room_is_refused_with_exact_and_sent_to_without(self):
        # Only "이수진" begins with "이수"; a look-alike title (a zero-width
        # space at its end) only begins with "Team Alpha": both score 80.
        for name, title in (("이수", "이수진"), ("Team Alpha", "Team Alpha\u200b")):
            with self.subTest(name):
                room = self.s.room(title)
                request = {"room": name, "message": "hello", "send": True}
                for exact in ({"exact": True}, {"exact": True, "send": False}):
                    run, events = self.request(dict(request, **exact))
                    self.assertEqual(ambiguous_room_doc(80, [title]), run.raw)
                    self.assertUntouched(events)
                run, events = self.request(request)
                self.assertEqual(success_doc("sent", title, 80, room.hwnd, room.input,
                                             previous="", written="hello"), run.raw)

    def test_equal_title_is_sent_to_beside_longer_ones(self):
        room = self.s.room("김민")
        run, events = self.request({"room": "김민", "message": "hi", "send": True, "exact": True})
        self.assertEqual(success_doc("sent", "김민", 95, room.hwnd, room.input, previous="",
                                     written="hi"), run.raw)
        self.assertOnlyRoomTouched(events, room)


class DestroyingTest(RequestCase):
    """Clearing a box, or forcing a message over a different draft, destroys
    the person's text: a room that merely holds the name is not sure enough."""
    DRAFT = "half-written reply to my boss"
    SCENARIO = 'room "Team Alpha" draft="%s"\nroom "Under-reported" huge=5 draft="%s"' % (
        DRAFT, "The quarterly numbers are in the shared folder, bye.")

    def test_clear_or_force_on_a_weak_match_touches_nothing(self):
        room = self.s.room("Team Alpha")
        for request in ({"clear": True}, {"clear": True, "send": True},
                        {"message": "m", "force": True}, {"message": "m", "force": True, "close_after": True}):
            with self.subTest(request=request):
                run, events = self.request(dict(request, room="Alpha"))
                self.assertEqual(ambiguous_room_doc(40, ["Team Alpha"]), run.raw)
                # At most the box was read, to see the draft a force would replace.
                self.assertEqual([], [e.line for e in self.room_traffic(events, room)
                                      if e.get("name") not in ("WM_GETTEXTLENGTH", "WM_GETTEXT")])
                self.assertOnlyRoomTouched(events, room)
        self.assertEqual(self.DRAFT, self.box_text(room))
        run, _ = self.request({"room": "Alpha", "message": "more", "append": True})
        self.assertEqual(("draft_written", 40), (run.doc["status"], run.doc["match_score"]))
        self.assertEqual(self.DRAFT + "\r\nmore", self.box_text(room))

    def test_draft_read_in_part_is_never_written_back(self):
        # The box answers a length of 5, so at most 10 of its 52 units are read.
        room = self.s.room("Under-reported")
        draft = "The quarterly numbers are in the shared folder, bye."
        for flags in ({"append": True}, {"append": True, "force": True}):
            with self.subTest(**flags):
                run, events = self.request(dict(flags, room="Under-reported", message="m", send=True))
                self.assertEqual(write_mismatch_doc("Under-reported", draft[:10]), run.raw)
                self.assertEqual([], [e.line for e in self.room_traffic(events, room)
                                      if e.get("name") not in ("WM_GETTEXTLENGTH", "WM_GETTEXT")])
                self.assertEqual(draft, poke("gettextn", room.input, 100, prefix=self.prefix)[0]["text"])


class LineBreakCountTest(RequestCase):
    """A box that counts a line break as one unit when asked for its length, as
    a RichEdit can, still has its whole draft read, kept and appended to."""
    SCENARIO = "\n".join(['room "Counted once" draft="line1\\nline2" length=break_once',
                          'room "Counted again" draft="line1\\nline2" length=break_once'])

    def test_append_keeps_the_whole_draft(self):
        room = self.s.room("Counted once")
        run, events = self.request({"room": "Counted once", "message": "msg", "append": True})
        joined = "line1\r\nline2\r\nmsg"
        self.assertEqual(success_doc("draft_written", "Counted once", 95, room.hwnd, room.input,
                                     previous="line1\r\nline2", written=joined, remaining=joined),
                         run.raw)
        self.assertEqual(joined, poke("gettextn", room.input, 100, prefix=self.prefix)[0]["text"])

    def test_draft_exists_shows_the_whole_draft(self):
        run, events = self.request({"room": "Counted again", "message": "line1\r\nline"})
        self.assertEqual(draft_exists_doc("Counted again", "line1\r\nline2"), run.raw)


class LockedTest(RequestCase):
    """A chat room titled like the main window, above it in z-order, must not
    hide the lock view of the real main window."""
    SCENARIO = 'lock visible\nonline hidden\nroom "카카오톡"\nroom "Team Alpha"'

    def test_locked_client_is_not_missed(self):
        run, events = self.request({"room": "Team Alpha", "message": "hello", "send": True})
        self.assertEqual(KAKAO_LOCKED, run.raw)
        self.assertUntouched(events)


class DraftRulesTest(RequestCase):
    # name, the room's draft, the request beyond its room, status or error,
    # the text chatdraft writes, what the box holds afterwards
    ROWS = [
        ("clear with send", "old draft", {"clear": True, "send": True, "message": "new"},
         "cleared", "", ""),
        ("clear with append", "one", {"clear": True, "append": True, "message": "x"},
         "cleared", "", ""),
        ("clear with force and close", "two", {"clear": True, "force": True, "message": "x",
                                               "close_after": True},
         "cleared", "", ""),
        ("append with force", "first line", {"append": True, "force": True, "message": "second"},
         "draft_written", "first line\r\nsecond", "first line\r\nsecond"),
        ("append on an empty box", "", {"append": True, "message": "only line"},
         "draft_written", "only line", "only line"),
        ("append onto one line", "first line", {"append": True, "message": "second\nthird"},
         "draft_written", "first line\r\nsecond\nthird", "first line\r\nsecond\r\nthird"),
        ("equal draft", "same\ntext", {"message": "same\ntext"},
         "draft_written", "same\ntext", "same\r\ntext"),
        ("equal draft with a lone CR", "same\ntext", {"message": "same\rtext"},
         "draft_written", "same\rtext", "same\r\ntext"),
        ("equal draft with CR LF, sent and closed", "same\ntext",
         {"message": "same\r\ntext", "send": True, "close_after": True},
         "sent", "same\r\ntext", "same\r\ntext"),
        ("force overwrites", "old", {"force": True, "message": "new"},
         "draft_written", "new", "new"),
        ("force and send", "old", {"force": True, "send": True, "message": "new one"},
         "sent", "new one", "new one"),
        ("no message, empty box, send and close", "", {"send": True, "close_after": True},
         "draft_written", "", ""),
        ("placeholder is an empty box", None, {"message": "hello"},
         "draft_written", "hello", "hello"),
        ("different draft", "keep me", {"message": "other", "send": True, "close_after": True},
         "DRAFT_EXISTS", None, None),
        ("blanks only", "   ", {"message": "hi"}, "DRAFT_EXISTS", None, None),
        ("no message", "kept", {"close_after": True}, "DRAFT_EXISTS", None, None),
        ("trailing line break differs", "line", {"message": "line\n"}, "DRAFT_EXISTS", None, None),
        ("letter case differs", "Hello", {"message": "hello"}, "DRAFT_EXISTS", None, None),
        ("quotes, backslash, tab and a control", 'say "hi"\t\\ \x01 끝', {"message": "x"},
         "DRAFT_EXISTS", None, None),
    ]

    @staticmethod
    def title(index):
        # Quote and backslash in every title: the documents must escape them.
        return 'Draft "%c" room\\' % (ord("A") + index)

    @classmethod
    def setUpClass(cls):
        lines = []
        for i, (_, draft, *_rest) in enumerate(cls.ROWS):
            option = "placeholder" if draft is None else "draft=" + scenario_text(draft) if draft else ""
            lines.append("room %s %s" % (scenario_text(cls.title(i)), option))
        cls.SCENARIO = "\n".join(lines)
        super().setUpClass()

    def test_flag_table(self):
        for i, (name, draft, fields, outcome, to_write, box_after) in enumerate(self.ROWS):
            with self.subTest(name):
                title = self.title(i)
                room = self.s.room(title)
                previous = crlf(draft or "")
                box_before = PLACEHOLDER if draft is None else previous
                run, events = self.request(dict(fields, room=title))
                self.assertOnlyRoomTouched(events, room)
                if outcome == "DRAFT_EXISTS":
                    self.assertEqual(draft_exists_doc(title, previous), run.raw)
                    self.assertRoomTraffic(events, room, read_box(box_before))
                    self.assertEqual(box_before, self.box_text(room))
                    continue
                sends = outcome == "sent"
                remaining = "" if sends else box_after
                self.assertEqual(success_doc(outcome, title, 95, room.hwnd, room.input, previous,
                                             written=box_after, remaining=remaining), run.raw)
                shown_after = box_after or (PLACEHOLDER if draft is None else "")
                table = read_box(box_before) + write_box(room, to_write, shown_after) + read_box(shown_after)
                if sends:
                    table += press_enter(box_after, "normal", sends=True) + read_box("")
                table += read_box(remaining or (PLACEHOLDER if draft is None else ""))
                if fields.get("close_after"):
                    table += close_room(room)
                self.assertRoomTraffic(events, room, table)


class WriteMismatchTest(RequestCase):
    SCENARIO = "\n".join([
        'room "Mangled"',
        'room "Hidden text" draft="before"',
        'room "Will not empty" draft="my draft" writes=ignored',
        # Stops reading its queue for 3 s at chatdraft's third length query:
        # after the read before the write and the one right after it, the
        # readback that verifies the write goes unanswered.
        'room "Frozen" hang=read:3 hang_for=3000',
    ])

    def test_readback_that_differs_stops_before_enter(self):
        cases = [
            # A Wine RichEdit turns CR CR LF into one space, so the write cannot stick.
            ("text the box changes", "Mangled", {"message": "a\r\r\nb"}, "", "a b"),
            # The placeholder text reads back as an empty box.
            ("placeholder text", "Hidden text", {"message": PLACEHOLDER, "force": True}, "before", ""),
        ]
        for name, title, fields, previous, readback in cases:
            with self.subTest(name):
                room = self.s.room(title)
                box_after = readback or PLACEHOLDER
                run, events = self.request(dict(fields, room=title, send=True, close_after=True))
                self.assertEqual(write_mismatch_doc(title, readback), run.raw)
                message = fields["message"]
                self.assertRoomTraffic(events, room,
                                       read_box(previous)
                                       + write_box(room, message, box_after, fallback=True)
                                       + read_box(box_after))
                self.assertOnlyRoomTouched(events, room)
                self.assertEqual(box_after, self.box_text(room))

    def test_clear_that_leaves_text_is_no_clear(self):
        room = self.s.room("Will not empty")
        run, events = self.request({"room": "Will not empty", "clear": True, "close_after": True})
        self.assertEqual(write_mismatch_doc("Will not empty", "my draft"), run.raw)
        self.assertEqual("my draft", self.box_text(room))
        self.assertEqual([], [e for e in events if e.name == "closed"])

    def test_box_that_stops_answering_after_the_write_is_a_mismatch(self):
        message = "will it stick"
        room = self.s.room("Frozen")
        mark = self.s.mark()
        run, _ = self.request({"room": room.title, "message": message, "send": True,
                               "close_after": True})
        # Whatever chatdraft posted is handled once the room reads its queue again.
        self.s.wait_for(lambda e: e.name == "hang_end" and e["hwnd"] == room.hwnd, since=mark)
        events = self.settle(mark, room.hwnd)
        self.assertEqual(write_mismatch_doc(room.title, ""), run.raw)
        # The readback waits out its time-out; the room answers it only after the hang.
        self.assertRoomTraffic(events, room,
                               read_box("") + write_box(room, message, message)
                               + [expect("hang"), expect("hang_end"),
                               expect("WM_GETTEXTLENGTH", via="sent", result=units(message))])
        self.assertGreaterEqual(run.seconds, 2.0)
        self.assertOnlyRoomTouched(events, room)


class SendTest(RequestCase):
    SCENARIO = "\n".join([
        'room "Quick"',
        'room "Stuck" send=stuck',
        'room "Slow" send=delay:500',
        'room "Long line"',
        'room "우리 가족"',
    ])

    def test_sent_at_once_then_closed(self):
        room = self.s.room("Quick")
        run, events = self.request({"room": "Quick", "message": "on my way", "send": True,
                                    "close_after": True})
        self.assertEqual(success_doc("sent", "Quick", 95, room.hwnd, room.input, previous="",
                                     written="on my way", remaining=""), run.raw)
        self.assertRoomTraffic(events, room,
                               read_box("") + write_box(room, "on my way", "on my way")
                               + read_box("on my way")
                               + press_enter("on my way", "normal", sends=True)
                               + read_box("") + read_box("") + close_room(room))
        self.assertOnlyRoomTouched(events, room)

    def test_stuck_send_is_unconfirmed_after_every_poll(self):
        room = self.s.room("Stuck")
        run, events = self.request({"room": "Stuck", "message": "still here", "send": True,
                                    "close_after": True})
        self.assertEqual(success_doc("send_unconfirmed", "Stuck", 95, room.hwnd, room.input,
                                     previous="", written="still here", remaining="still here"),
                         run.raw)
        # The poll ends after 15 reads or 1.5 s after Enter: a busy machine has fewer.
        # Four reads besides the polls: before the write, after it, the readback, the last.
        polls = sum(1 for e in self.room_traffic(events, room) if e.get("name") == "WM_GETTEXTLENGTH") - 4
        self.assertTrue(1 <= polls <= SEND_POLLS, polls)
        self.assertRoomTraffic(events, room,
                               read_box("") + write_box(room, "still here", "still here")
                               + read_box("still here") + press_enter("still here", "stuck", sends=False)
                               + read_box("still here") * polls
                               + read_box("still here") + close_room(room))
        self.assertOnlyRoomTouched(events, room)
        # 15 polls 100 ms apart, well short of any message time-out.
        self.assertGreaterEqual(run.seconds, 1.5)
        self.assertLess(run.seconds, 15.0)

    def test_delayed_send_is_seen_by_a_later_poll(self):
        room = self.s.room("Slow")
        run, events = self.request({"room": "Slow", "message": "later", "send": True})
        self.assertEqual(success_doc("sent", "Slow", 95, room.hwnd, room.input, previous="",
                                     written="later", remaining=""), run.raw)
        traffic = self.room_traffic(events, room)
        emptied = names(traffic).index("emptied")
        full_polls = sum(1 for e in traffic[:emptied] if e.get("name") == "WM_GETTEXT") - 2
        # At least one poll still saw the text, however slowly the polls came.
        self.assertTrue(1 <= full_polls < SEND_POLLS, full_polls)
        self.assertRoomTraffic(events, room,
                               read_box("") + write_box(room, "later", "later") + read_box("later")
                               + press_enter("later", "delay", sends=True)
                               + read_box("later") * full_polls
                               + [expect("emptied")] + read_box("") + read_box(""))
        self.assertOnlyRoomTouched(events, room)

    def test_long_and_korean_messages_round_trip(self):
        long_message = "".join("%05d 가나다라마바사아자차카타파하\n" % i
                               for i in range(1000)).rstrip("\n")
        self.assertGreater(units(long_message), 20000)
        korean = "엄마, 오늘 저녁은\n7시에 먹어요 \U0001F35A\n\t— 막내"
        # (room title, query, message); a character beyond U+FFFF is two units.
        cases = [("Long line", "Long line", long_message), ("우리 가족", "우리가족", korean)]
        for title, query, message in cases:
            with self.subTest(title):
                room = self.s.room(title)
                run, events = self.request({"room": query, "message": message, "send": True})
                self.assertEqual(success_doc("sent", title, 95, room.hwnd, room.input,
                                             previous="", written=crlf(message), remaining=""),
                                 run.raw)
                self.assertEqual([crlf(message)], [e["text"] for e in events if e.name == "send"])
                self.assertRoomTraffic(events, room,
                                       read_box("") + write_box(room, message, crlf(message))
                                       + read_box(crlf(message))
                                       + press_enter(crlf(message), "normal", sends=True)
                                       + read_box("") + read_box(""))
                self.assertOnlyRoomTouched(events, room)


if __name__ == "__main__":
    unittest.main()
