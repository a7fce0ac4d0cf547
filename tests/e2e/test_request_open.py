"""Request mode when the room is not open: chatdraft.exe under Wine lets the
stand-in client open it through the main window (search box, search results,
chat-list tabs), closes the wrong rooms this brings up, and ends every run in
one result document. Each test checks the exact message traffic the stand-in
recorded and that nothing was activated or focused.

Run with CHATDRAFT_WINEPREFIX and CHATDRAFT_WIN_BUILD set:
    python3 -m unittest -v test_request_open
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Standin, assert_traffic, expect, poke, prefix_from_env  # noqa: E402
from harness.requests import (GOLDEN_ERRORS, KAKAO_LOCKED, MAIN_WINDOW_NOT_FOUND,  # noqa: E402
                              NEEDS_OPEN_ROOM_LONG, NEEDS_OPEN_ROOM_SHORT, ambiguous_room_doc,
                              crlf, run_request, success_doc)

VK_RETURN, VK_DOWN = 0x0D, 0x28
SCAN_RETURN, SCAN_DOWN = 0x1C, 0x50
SELECT_ALL = 0xFFFFFFFFFFFFFFFF     # EM_SETSEL's lParam of -1 as the stand-in logs it
EN_CHANGE_SEARCH_BOX = 0x03000000 | 2001
END_SEARCH_POINT = (470, 89)
TAB_X = {"전체": 54, "안읽음": 140, "가족": 223, "업무": 290, "교사": 356}
ROW_Y = [48, 129, 210, 291, 372, 453]

# Events that tell what the client did, in the order they must happen.
STORY_EVENTS = ("search", "search_next", "search_open", "search_none", "opened", "already_open",
                "closed", "tab_selected", "row", "row_empty")


# ---- expected traffic, as tables ---------------------------------------------

def key_press(vk, scan):
    """A posted key press; the stand-in's own TranslateMessage may add a
    carriage-return WM_CHAR for Enter before or after the key-up."""
    char = [expect("WM_CHAR", optional=True, via="posted", wparam=0x0D)] if vk == VK_RETURN else []
    return ([expect("WM_KEYDOWN", via="posted", wparam=vk, lparam=(scan << 16) | 1)] + char
            + [expect("WM_KEYUP", via="posted", wparam=vk, lparam=(scan << 16) | 0xC0000001)] + char)


def enter():
    return key_press(VK_RETURN, SCAN_RETURN)


def down():
    return key_press(VK_DOWN, SCAN_DOWN)


def click(x, y, double=False):
    at = dict(via="sent", x=x, y=y)
    table = [expect("WM_MOUSEMOVE", wparam=0, **at), expect("WM_LBUTTONDOWN", wparam=1, **at),
             expect("WM_LBUTTONUP", wparam=0, **at)]
    if double:
        table += [expect("WM_LBUTTONDBLCLK", wparam=1, **at), expect("WM_LBUTTONUP", wparam=0, **at)]
    return table


def put_text(text):
    """set_edit_text_safe on a box that takes the text: select all, replace,
    read back (no WM_GETTEXT when the box is empty), no WM_SETTEXT."""
    units = len(text.encode("utf-16-le", "surrogatepass")) // 2
    table = [expect("EM_SETSEL", via="sent", wparam=0, lparam=SELECT_ALL),
             expect("EM_REPLACESEL", via="sent", wparam=1, text=text),
             expect("WM_GETTEXTLENGTH", via="sent", result=units)]
    if text:
        table.append(expect("WM_GETTEXT", via="sent", text=text))
    return table


def search_box_traffic(query):
    """The whole search-box attempt as the search box sees it."""
    return put_text(query) + enter() + put_text("")


class OpenRoomTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()

    def start(self, scenario):
        s = Standin(scenario, prefix=self.prefix)
        s.start()
        self.addCleanup(s.stop)
        return s

    def run_request(self, **request):
        return run_request(request, prefix=self.prefix)

    def traffic(self, s, role, since, **match):
        return s.messages(since=since, role=role, **match)

    def story(self, s, since):
        return s.find(lambda e: e.name in STORY_EVENTS, since=since)

    def assertSearchEnded(self, s, since):
        """The chat list view got two change notifications from the search
        box (typed, emptied) and the click that ends the search. A posted
        notification may be handled after sent clicks, so they are compared apart."""
        view = self.traffic(s, "chat_list_view", since)
        assert_traffic(self, [e for e in view if e["name"] == "WM_COMMAND"],
                       [expect("WM_COMMAND", via="posted", wparam=EN_CHANGE_SEARCH_BOX,
                               lparam=s.hwnd("search_box"))] * 2)
        assert_traffic(self, [e for e in view if e["name"] != "WM_COMMAND"], click(*END_SEARCH_POINT))

    def assertNoFocusChange(self, s):
        self.assertEqual([e.line for e in s.focus_events()], [])

    def assertDocument(self, run, document):
        self.assertEqual((run.returncode, run.stdout + run.stderr), (0, b""))
        self.assertEqual(run.raw, document)
        self.assertEqual(run.files, ["out.json"])

    def assertSuccess(self, run, room, opened, status="draft_written"):
        self.assertEqual(run.returncode, 0)
        self.assertIsNotNone(run.doc, "no result document")
        self.assertEqual((run.doc["status"], run.doc["opened_new_window"], run.doc["focus_touched"]),
                         (status, opened, False), run.raw)
        self.assertEqual((run.doc["window_hwnd"], run.doc["input_hwnd"]), (room.hwnd, room.input))
        self.assertEqual(run.doc["room_title"], room.title)

    def assertWrittenInto(self, s, since, room, text):
        """The draft went into this room's input box and no other."""
        writes = s.find(lambda e: e.name == "msg" and e["name"] in ("EM_REPLACESEL", "WM_SETTEXT")
                        and e["role"] == "input", since=since)
        self.assertEqual([(e["hwnd"], e["text"]) for e in writes], [(room.input, text)])

    def assertNothingWritten(self, s, since):
        """No input box got anything but reads: the clean-up reads a wrong
        room's box to see that it holds no text before it asks it to close."""
        reads = ("WM_GETTEXTLENGTH", "WM_GETTEXT")
        self.assertEqual([e.line for e in self.traffic(s, "input", since) if e["name"] not in reads], [])


# ---- the search box ------------------------------------------------------------

class SearchBoxTest(OpenRoomTestCase):
    def test_search_opens_the_room_and_the_draft_is_written(self):
        name = "가나다라마바사아자차카타파하ABCDEFGHIJKLMNOP"   # 30 units: 24 are typed
        query = name[:24]
        s = self.start('known "%s"\nsearch "%s" "%s" "Other"\ntab "가족" "%s"\n' % (name, query, name, name))
        mark = s.mark()
        run = self.run_request(room="가나다", resolved_name=name, tab="가족", message="안녕\nhi")
        room = s.room(name)
        self.assertSuccess(run, room, opened=True)
        self.assertEqual(run.raw, success_doc("draft_written", name, 100, room.hwnd, room.input, "",
                                              crlf("안녕\nhi"), crlf("안녕\nhi"), opened_new_window=True))
        assert_traffic(self, self.traffic(s, "search_box", mark), search_box_traffic(query))
        self.assertSearchEnded(s, mark)
        assert_traffic(self, self.story(s, mark), [
            expect("search", query=query, results=2),
            expect("opened", room=name, how="search", hwnd=room.hwnd)])
        for role in ("search_result_list", "tab_strip", "room_list"):
            self.assertEqual([e.line for e in self.traffic(s, role, mark)], [], role)
        self.assertEqual(s.messages(since=mark, name="WM_CLOSE"), [])
        self.assertWrittenInto(s, mark, room, "안녕\nhi")

        # The fixed waits of this path: 300 ms after typing, 300 ms before the
        # re-scan, 80 ms after the end click, 100 ms before the readback.
        self.assertGreaterEqual(run.seconds, 0.78)
        self.assertLess(run.seconds, 10.0)
        box = self.traffic(s, "search_box", mark)
        typed = next(e for e in box if e["name"] == "EM_REPLACESEL")
        pressed = next(e for e in box if e["name"] == "WM_KEYDOWN")
        emptied = [e for e in box if e["name"] == "EM_SETSEL"][1]
        end_click = self.traffic(s, "chat_list_view", mark, name="WM_LBUTTONUP")[0]
        first_read = self.traffic(s, "input", mark)[0]
        self.assertGreaterEqual(pressed.ms - typed.ms, 290)
        # A posted Enter may be handled late, so the wait before the re-scan is
        # measured from the sent text: 300 ms before Enter, 300 ms after it.
        self.assertGreaterEqual(emptied.ms - typed.ms, 590)
        self.assertGreaterEqual(first_read.ms - end_click.ms, 75)
        self.assertNoFocusChange(s)

    def test_room_is_typed_when_resolved_name_is_empty(self):
        s = self.start('known "Beta"\nsearch "Beta" "Beta"\nsearch "" "Lobby"\n')
        mark = s.mark()
        run = self.run_request(room="Beta", resolved_name="", message="m", send=True)
        self.assertSuccess(run, s.room("Beta"), opened=True, status="sent")
        self.assertEqual(run.doc["match_score"], 95)
        assert_traffic(self, self.traffic(s, "search_box", mark), search_box_traffic("Beta"))
        sent = s.wait_for(lambda e: e.name == "send", since=mark)
        self.assertEqual((sent["room"], sent["text"]), ("Beta", "m"))
        self.assertEqual(s.find(lambda e: e.name == "opened" and e["room"] == "Lobby"), [])
        self.assertNoFocusChange(s)

    def test_name_is_cut_after_24_units_inside_a_surrogate_pair(self):
        name = "x" * 23 + "\U0001F600 tail"
        query = name.encode("utf-16-le")[:48].decode("utf-16-le", "surrogatepass")
        s = self.start('known "%s\\uD83D\\uDE00 tail"\nsearch "%s\\uD83D" "%s\\uD83D\\uDE00 tail"\n'
                       % ("x" * 23, "x" * 23, "x" * 23))
        mark = s.mark()
        run = self.run_request(resolved_name=name, message="m")   # the emoji as raw UTF-8
        self.assertSuccess(run, s.room(name), opened=True)
        self.assertEqual(run.doc["match_score"], 100)
        self.assertEqual(query[-1], "\ud83d")
        assert_traffic(self, self.traffic(s, "search_box", mark), search_box_traffic(query))
        self.assertNoFocusChange(s)

    def test_hidden_search_box_is_shown_without_activation(self):
        s = self.start('search_box hidden\nknown "Beta"\nsearch "Beta" "Beta"\n')
        self.assertFalse(s.window("search_box").visible)
        mark = s.mark()
        run = self.run_request(room="Beta", message="m")
        self.assertSuccess(run, s.room("Beta"), opened=True)
        box = self.traffic(s, "search_box", mark)
        assert_traffic(self, box, [expect("WM_SHOWWINDOW", via="sent", wparam=1)]
                       + search_box_traffic("Beta"))
        self.assertGreaterEqual(box[1].ms - box[0].ms, 75, "80 ms after showing the box")
        self.assertNoFocusChange(s)

    def test_wrong_room_is_closed_and_the_next_result_opened(self):
        # "Old Friends" stood before the attempt: the search only brings it up
        # again and, though it does not match, it is never closed. "Alpha Beta"
        # is new and scores 40 (under 70): it is asked to close.
        s = self.start('room "Old Friends"\nsearch "Beta" "Old Friends" "Alpha Beta" "Beta" "Beta 2"\n')
        old = s.room("Old Friends")
        mark = s.mark()
        run = self.run_request(room="Beta", message="m")
        beta = s.room("Beta")
        self.assertSuccess(run, beta, opened=True)
        self.assertEqual(run.doc["match_score"], 95)
        wrong = [r for r in s.all_rooms() if r.title == "Alpha Beta"]
        self.assertEqual(len(wrong), 1)
        self.assertTrue(wrong[0].closed)
        assert_traffic(self, self.story(s, mark), [
            expect("search", query="Beta", results=4),
            expect("already_open", room="Old Friends", how="search", hwnd=old.hwnd),
            expect("search_next", index=1),
            expect("search_open", index=1, room="Alpha Beta"),
            expect("opened", room="Alpha Beta", how="search"),
            expect("closed", room="Alpha Beta", by="close"),
            expect("search_next", index=2),
            expect("search_open", index=2, room="Beta"),
            expect("opened", room="Beta", how="search")])
        assert_traffic(self, self.traffic(s, "search_result_list", mark), (down() + enter()) * 2)
        closes = s.messages(since=mark, name="WM_CLOSE")
        self.assertEqual([(e["hwnd"], e["via"], e["wparam"], e["lparam"]) for e in closes],
                         [(wrong[0].hwnd, "posted", 0, 0)])
        self.assertEqual([r.hwnd for r in s.rooms("Old Friends")], [old.hwnd])
        assert_traffic(self, self.traffic(s, "search_box", mark), search_box_traffic("Beta"))
        self.assertWrittenInto(s, mark, beta, "m")
        self.assertNoFocusChange(s)

    def test_all_results_wrong_ends_without_writing(self):
        # Each result scores under 70 (40 for most: they would be candidates),
        # so each is asked to close and no window asked to close gets the draft.
        # The last re-scan still saw "Beta," so the tab attempt does not run.
        results = ["Alpha Beta", "Beta, Gamma", "Unrelated", "Gamma Beta", "Beta,"]
        s = self.start('room "Old Friends"\nsearch "Beta" %s\ntab "가족" "Beta"\n'
                       % " ".join('"%s"' % r for r in results))
        mark = s.mark()
        run = self.run_request(room="Beta", tab="가족", message="m")
        self.assertDocument(run, NEEDS_OPEN_ROOM_LONG)
        s.wait_for(lambda e: e.name == "closed" and e["room"] == results[-1], since=mark)
        story = [expect("search", query="Beta", results=5),
                 expect("opened", room=results[0], how="search"),
                 expect("closed", room=results[0], by="close")]
        for i, title in enumerate(results[1:], 1):
            story += [expect("search_next", index=i), expect("search_open", index=i, room=title),
                      expect("opened", room=title, how="search"), expect("closed", room=title, by="close")]
        assert_traffic(self, self.story(s, mark), story)
        assert_traffic(self, self.traffic(s, "search_result_list", mark), (down() + enter()) * 4)
        assert_traffic(self, self.traffic(s, "search_box", mark), search_box_traffic("Beta"))
        self.assertSearchEnded(s, mark)
        self.assertEqual(sorted(e["room"] for e in s.messages(since=mark, name="WM_CLOSE")), sorted(results))
        self.assertEqual(self.traffic(s, "tab_strip", mark) + self.traffic(s, "room_list", mark), [])
        self.assertNothingWritten(s, mark)
        self.assertEqual([r.title for r in s.all_rooms() if not r.closed], ["Old Friends"])
        self.assertNoFocusChange(s)

    def test_nothing_found_steps_through_five_rescans(self):
        s = self.start('known "Beta"\nsearch "Bet" "Beta"\n')
        mark = s.mark()
        run = self.run_request(room="Beta", resolved_name="Beta Team", message="m")
        self.assertDocument(run, NEEDS_OPEN_ROOM_LONG)
        self.assertEqual(len(run.raw), 311)
        assert_traffic(self, self.story(s, mark), [expect("search", query="Beta Team", results=0)]
                       + [expect("search_next", index=-1), expect("search_none", index=-1)] * 4)
        assert_traffic(self, self.traffic(s, "search_result_list", mark), (down() + enter()) * 4)
        self.assertSearchEnded(s, mark)
        # 300 + 5 x 300 + 4 x 80 + 80 ms of waits.
        self.assertGreaterEqual(run.seconds, 2.2)
        self.assertLess(run.seconds, 15.0)
        self.assertNoFocusChange(s)


# ---- chat-list tabs -------------------------------------------------------------

class ExactOpenTest(OpenRoomTestCase):
    """With `exact`, opening goes on past rooms whose titles only begin with
    the name; such a room stays open, as any new room scoring 70 or more."""

    def test_search_steps_past_a_prefix_room_to_the_exact_one(self):
        s = self.start('search "김민" "김민지" "김민"\n')
        mark = s.mark()
        run = self.run_request(room="김민", message="hello", send=True, exact=True)
        room = s.room("김민")
        self.assertSuccess(run, room, opened=True, status="sent")
        self.assertEqual(95, run.doc["match_score"])
        assert_traffic(self, self.story(s, mark), [
            expect("search", query="김민", results=2),
            expect("opened", room="김민지", how="search"),
            expect("search_next", index=1),
            expect("search_open", index=1, room="김민"),
            expect("opened", room="김민", how="search", hwnd=room.hwnd)])
        self.assertWrittenInto(s, mark, room, "hello")
        self.assertEqual([("김민", "hello")], [(e["room"], e["text"]) for e in s.find(
            lambda e: e.name == "send", since=mark)])
        self.assertEqual([], s.messages(since=mark, name="WM_CLOSE"))
        self.assertNoFocusChange(s)

    def test_without_exact_the_first_prefix_room_is_taken(self):
        s = self.start('search "김민" "김민지" "김민"\n')
        mark = s.mark()
        run = self.run_request(room="김민", message="hello")
        self.assertSuccess(run, s.room("김민지"), opened=True)
        self.assertEqual([], s.find(lambda e: e.name == "search_next", since=mark))

    def test_open_rooms_that_only_begin_with_the_name_do_not_stop_the_opening(self):
        # "김민지" stays open and untouched; with no exact room found, the
        # draft is refused too: `exact` holds for every write.
        cases = [  # name, scenario beyond the open room, request beyond it, room written
            ("found by the search", 'search "김민" "김민"', {"send": True}, "김민"),
            ("found on a tab after the search", 'search "김민" "김민지"\ntab "업무" "" "김민"',
             {"tab": "업무"}, "김민"),
            ("not found", 'search "김민" "김민지"\ntab "업무" "김민지"', {"tab": "업무"}, None),
        ]
        for name, lines, fields, written in cases:
            with self.subTest(name):
                s = self.start('room "김민지" draft="민지에게"\n' + lines + "\n")
                kept = s.room("김민지")
                mark = s.mark()
                run = self.run_request(room="김민", message="hello", exact=True, **fields)
                if written:
                    self.assertSuccess(run, s.room(written), opened=True,
                                       status="sent" if fields.get("send") else "draft_written")
                    self.assertWrittenInto(s, mark, s.room(written), "hello")
                else:
                    self.assertDocument(run, ambiguous_room_doc(80, ["김민지"]))
                    self.assertNothingWritten(s, mark)
                self.assertEqual([], s.messages(since=mark, hwnd=kept.input))
                self.assertEqual([], s.messages(since=mark, name="WM_CLOSE"))
                self.assertNoFocusChange(s)
                s.stop()

    def test_tab_rows_are_tried_until_the_exact_room(self):
        s = self.start('search_box absent\ntab "업무" "김민지" "" "김민"\n')
        mark = s.mark()
        run = self.run_request(room="김민", tab="업무", message="hello", send=True, exact=True)
        self.assertSuccess(run, s.room("김민"), opened=True, status="sent")
        rows = [e["row"] for e in s.find(lambda e: e.name in ("row", "row_empty"), since=mark)]
        self.assertEqual([0, 1, 2], rows)
        self.assertNoFocusChange(s)


class CutNameTest(OpenRoomTestCase):
    """A group chat named by its 52 members: 259 units, more than a query
    holds. The chat of the first 51 is titled exactly what is left of the
    name after the cut; it is never the room asked for."""
    MEMBERS = ",".join("멤버%02d" % i for i in range(1, 53))
    FIRST_51 = ",".join("멤버%02d" % i for i in range(1, 52))

    def test_chat_titled_as_the_cut_name_is_never_chosen(self):
        self.assertEqual((259, self.FIRST_51), (len(self.MEMBERS), self.MEMBERS[:254]))
        search = 'search "%s" "%s" "%s"' % (self.MEMBERS[:24], self.MEMBERS, self.FIRST_51)
        cases = [  # name, scenario
            ("both open", 'room "%s"\nroom "%s"\nsearch_box absent' % (self.MEMBERS, self.FIRST_51)),
            ("the 51 open", 'room "%s"\n%s' % (self.FIRST_51, search)),
            ("neither open", search),
        ]
        for name, scenario in cases:
            with self.subTest(name):
                s = self.start(scenario + "\n")
                mark = s.mark()
                # The whole name cannot be told apart from a longer one: a
                # prefix match at most, which `exact` refuses.
                run = self.run_request(room=self.MEMBERS, message="m", send=True, exact=True)
                self.assertDocument(run, ambiguous_room_doc(80, [self.MEMBERS]))
                self.assertNothingWritten(s, mark)
                self.assertEqual([], s.find(lambda e: e.name == "closed" and e["room"] == self.MEMBERS))
                mark = s.mark()
                run = self.run_request(room=self.MEMBERS, message="m", send=True)
                self.assertSuccess(run, s.room(self.MEMBERS), opened=False, status="sent")
                self.assertEqual([(self.MEMBERS, "m")], [(e["room"], e["text"]) for e in s.find(
                    lambda e: e.name == "send", since=mark)])
                self.assertNoFocusChange(s)
                s.stop()


class TabTest(OpenRoomTestCase):
    SCENARIO = "\n".join([
        "search_box absent",
        'tab "가족" "Mom"',
        'tab "업무" "" "Colleague"',
        'tab "교사" "" "Teacher" "Beta" "Beta Club"',
        'tab "전체" "Beta"',
        "",
    ])

    def tab_traffic(self, tab, rows):
        return click(TAB_X[tab], 25) + [m for y in ROW_Y[:rows] for m in click(200, y, double=True)]

    def test_rows_of_each_tab_without_search_box(self):
        s = self.start(self.SCENARIO)
        mark_all = s.mark()
        cases = [  # tab, rows double-clicked, rooms opened and asked to close, result
            ("가족", 6, ["Mom"], None),
            ("업무", 5, ["Colleague"], None),
            ("교사", 3, ["Teacher"], "Beta"),
        ]
        for tab, rows, wrong, found in cases:
            with self.subTest(tab=tab):
                mark = s.mark()
                run = self.run_request(room="Beta", tab=tab, message=tab)
                both = [e for e in s.since(mark) if e.name == "msg" and e["role"] in ("tab_strip", "room_list")]
                assert_traffic(self, both, self.tab_traffic(tab, rows))
                self.assertEqual(s.find(lambda e: e.name == "tab_selected", since=mark)[0]["tab"], tab)
                closes = s.messages(since=mark, name="WM_CLOSE")
                self.assertEqual([e["room"] for e in closes], wrong)
                self.assertEqual(self.traffic(s, "chat_list_view", mark), [], "no end-of-search click")
                if found:
                    self.assertSuccess(run, s.room(found), opened=True)
                    self.assertWrittenInto(s, mark, s.room(found), tab)
                else:
                    self.assertDocument(run, NEEDS_OPEN_ROOM_LONG)
                    self.assertNothingWritten(s, mark)
        self.assertEqual(s.rooms("Beta Club"), [], "the loop stopped at the right room")
        # 150 ms after the tab click, 300 ms after each row before its re-scan.
        presses = s.messages(since=mark_all, name="WM_LBUTTONDOWN")[:7]
        self.assertEqual([e["role"] for e in presses], ["tab_strip"] + ["room_list"] * 6)
        gaps = [b.ms - a.ms for a, b in zip(presses, presses[1:])]
        self.assertGreaterEqual(gaps[0], 145, gaps)
        self.assertGreaterEqual(min(gaps[1:]), 295, gaps)
        for tab in ("Family", "가족 ", "전체2"):
            with self.subTest(tab=tab):
                mark = s.mark()
                run = self.run_request(room="Gamma", tab=tab, message="m")
                self.assertDocument(run, NEEDS_OPEN_ROOM_LONG)
                self.assertEqual([e.line for e in s.since(mark) if e.name == "msg"], [])
        self.assertNoFocusChange(s)

    def test_tab_after_a_search_that_found_nothing(self):
        # The search opens only "Nope", which scores 0: it is closed and the
        # table stays empty, so the tab attempt runs.
        s = self.start('result_list hidden\ntab "안읽음" "Beta Two" "Beta"\nsearch "Beta" "Nope"\n')
        mark = s.mark()
        run = self.run_request(room="Beta", tab="안읽음", message="m")
        self.assertSuccess(run, s.room("Beta Two"), opened=True)
        self.assertEqual(run.doc["match_score"], 80)
        assert_traffic(self, self.story(s, mark), [
            expect("search", query="Beta", results=1),
            expect("opened", room="Nope", how="search"),
            expect("closed", room="Nope", by="close"),
            expect("tab_selected", tab="안읽음", x=140),
            expect("row", tab="안읽음", row=0, room="Beta Two"),
            expect("opened", room="Beta Two", how="row")])
        order = [e["role"] for e in s.since(mark) if e.name == "msg" and e["name"] == "WM_LBUTTONDOWN"]
        self.assertEqual(order, ["chat_list_view", "tab_strip", "room_list"])
        assert_traffic(self, self.traffic(s, "search_box", mark), search_box_traffic("Beta"))
        self.assertEqual(self.traffic(s, "search_result_list", mark), [], "hidden result list: no Down")
        self.assertNoFocusChange(s)


# ---- strict_open_only and the main window ---------------------------------------

class ModeTest(OpenRoomTestCase):
    def test_without_main_window(self):
        s = self.start("main absent\n")
        cases = [  # ui_mode (None: absent), document
            ("strict_open_only", NEEDS_OPEN_ROOM_SHORT),
            ("Strict_Open_Only", MAIN_WINDOW_NOT_FOUND),
            ("strict_open_only ", MAIN_WINDOW_NOT_FOUND),
            (None, MAIN_WINDOW_NOT_FOUND),
        ]
        for ui_mode, document in cases:
            with self.subTest(ui_mode=ui_mode):
                request = dict(room="Beta", message="m")
                if ui_mode is not None:
                    request["ui_mode"] = ui_mode
                self.assertDocument(self.run_request(**request), document)
        self.assertEqual((len(NEEDS_OPEN_ROOM_SHORT), len(MAIN_WINDOW_NOT_FOUND)),
                         tuple(GOLDEN_ERRORS[name]["document_bytes"]
                               for name in ("NEEDS_OPEN_ROOM short", "MAIN_WINDOW_NOT_FOUND")))
        self.assertEqual([e.line for e in s.after_ready()], [])

    def test_without_main_window_an_open_room_is_served(self):
        s = self.start('main absent\nroom "Beta"\n')
        beta = s.room("Beta")
        for ui_mode in ("strict_open_only", "normal"):
            with self.subTest(ui_mode=ui_mode):
                mark = s.mark()
                run = self.run_request(room="Beta", ui_mode=ui_mode, message=ui_mode, force=True)
                self.assertSuccess(run, beta, opened=False)
                self.assertWrittenInto(s, mark, beta, ui_mode)
        self.assertNoFocusChange(s)

    def test_locked_client_is_refused_before_any_opening(self):
        s = self.start('online hidden\nlock visible\nknown "Beta"\nsearch "Beta" "Beta"\ntab "전체" "Beta"\n')
        for ui_mode in ("strict_open_only", "normal"):
            with self.subTest(ui_mode=ui_mode):
                run = self.run_request(room="Beta", tab="전체", ui_mode=ui_mode, message="m")
                self.assertDocument(run, KAKAO_LOCKED)
        self.assertEqual([e.line for e in s.after_ready()], [])

    def test_search_box_under_a_hidden_view_is_skipped(self):
        # Logged out: the online view is hidden, so the search box (its own
        # style visible) stays invisible; the search is skipped, only the tab is tried.
        s = self.start('online hidden\nknown "Beta"\nsearch "Beta" "Beta"\ntab "업무" "Beta"\n')
        mark = s.mark()
        run = self.run_request(room="Beta", tab="업무", message="m")
        self.assertSuccess(run, s.room("Beta"), opened=True)
        for role in ("search_box", "chat_list_view", "search_result_list"):
            self.assertEqual([e.line for e in self.traffic(s, role, mark)], [], role)
        assert_traffic(self, self.story(s, mark), [
            expect("tab_selected", tab="업무", x=290),
            expect("row", tab="업무", row=0, room="Beta"),
            expect("opened", room="Beta", how="row")])
        self.assertNoFocusChange(s)

    def test_strict_open_only_is_exact(self):
        s = self.start('known "Beta"\nsearch "Beta" "Beta"\n')
        mark = s.mark()
        self.assertDocument(self.run_request(room="Beta", ui_mode="strict_open_only", message="m"),
                            NEEDS_OPEN_ROOM_SHORT)
        self.assertEqual([e.line for e in s.since(mark)], [], "nothing typed, nothing opened")
        mark = s.mark()
        run = self.run_request(room="Beta", ui_mode="Strict_Open_Only", message="m")
        self.assertSuccess(run, s.room("Beta"), opened=True)
        assert_traffic(self, self.traffic(s, "search_box", mark), search_box_traffic("Beta"))
        self.assertNoFocusChange(s)


# ---- requests that name no room, and the record of existing windows --------------

class CleanupTest(OpenRoomTestCase):
    def test_request_naming_no_room_opens_nothing(self):
        # An empty search would open "Lobby" and the row too; neither may happen.
        s = self.start('known "Lobby"\nsearch "" "Lobby"\ntab "전체" "Lobby"\n')
        for request in ({}, {"message": "m", "tab": "전체"},
                        {"room": "", "resolved_name": "", "tab": "전체", "message": "m", "send": True}):
            with self.subTest(request=request):
                mark = s.mark()
                self.assertDocument(self.run_request(**request), NEEDS_OPEN_ROOM_LONG)
                self.assertEqual([e.line for e in s.since(mark)], [])
        self.assertNoFocusChange(s)

    def test_rooms_the_person_opens_during_a_search_are_left_open(self):
        # Both come up while the search text is typed, and both score 40: one
        # holds the person's draft, the other is no chat room at all.
        hand = ('known "Weekend Beta" draft="half-written"\nknown "Profile: Beta" input=none\n'
                'hand_open "Weekend Beta" "Profile: Beta"\nknown "Beta"\n')
        for found in (True, False):
            with self.subTest(found=found):
                s = self.start(hand + ('search "Beta" "Beta"\n' if found else ""))
                mark = s.mark()
                run = self.run_request(room="Beta", message="m", force=True)
                s.wait_for(lambda e: e.name == "opened" and e["room"] == "Profile: Beta", since=mark)
                if found:
                    self.assertSuccess(run, s.room("Beta"), opened=True)
                    self.assertWrittenInto(s, mark, s.room("Beta"), "m")
                else:
                    self.assertDocument(run, NEEDS_OPEN_ROOM_LONG)
                    self.assertNothingWritten(s, mark)
                self.assertEqual([], s.messages(since=mark, name="WM_CLOSE"))
                weekend = s.room("Weekend Beta")
                self.assertEqual("half-written", poke("gettext", weekend.input, prefix=self.prefix)[0]["text"])
                self.assertEqual(1, len(s.rooms("Profile: Beta")))
                self.assertNoFocusChange(s)
                s.stop()

    def test_no_window_is_closed_when_too_many_stood_before(self):
        # The main window and the bare windows are all of the client's class:
        # 256 fit in the record, 257 do not, and then nothing may be closed.
        for bare, closed in ((255, True), (256, False)):
            with self.subTest(windows=bare + 1):
                s = Standin('result_list hidden\nbare %d "Notice %%d"\nsearch "Beta" "Gamma"\n' % bare,
                            prefix=self.prefix)
                with s:
                    mark = s.mark()
                    run = self.run_request(room="Beta", message="m")
                    self.assertDocument(run, NEEDS_OPEN_ROOM_LONG)
                    gamma = [r for r in s.all_rooms() if r.title == "Gamma"]
                    self.assertEqual(len(gamma), 1)
                    if closed:
                        s.wait_for(lambda e: e.name == "closed", since=mark)
                    closes = s.messages(since=mark, name="WM_CLOSE")
                    if closed:
                        self.assertEqual([e["hwnd"] for e in closes], [gamma[0].hwnd])
                    else:
                        self.assertEqual(closes, [])
                        self.assertFalse(gamma[0].closed)
                    self.assertNothingWritten(s, mark)
                    self.assertNoFocusChange(s)


if __name__ == "__main__":
    unittest.main()
