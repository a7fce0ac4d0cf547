"""chatdraft.exe under Wine while things go wrong: the client's room threads
hang, the client closes a room or exits in the middle of a request, chatdraft
itself is killed half-way, and two runs go at once. Whatever happens, a run
ends in bounded time, leaves one complete result document (or, when killed,
the previous one or none), and never reports a send that did not happen."""

import os
import random
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Standin, assert_traffic, expect, poke  # noqa: E402
from hostile.kit import (KitCase, assert_no_focus_change, check_clean_exit, check_probe_document,  # noqa: E402
                         check_result_document, crlf_to_lf, kill_chatdraft, parse_document,
                         run_chatdraft, sends, start_chatdraft, wait_chatdraft)

WM_CLOSE = 0x0010

# How long a run may take when a room's thread stops reading its queue.
# Every sent message waits at most 2000 ms, and SMTO_ABORTIFHUNG makes a send
# return at once once Wine deems the thread hung, about 5 s after it last read
# its queue. Sends are made one after another, so at most three of them can
# start inside those 5 s (at 0, 2 and 4 s) and wait their full time-out:
#     blocked  <= 3 x 2.0 s                   = 6.0 s
# A request with send sleeps 100 ms before the readback and 15 x 100 ms in the
# send poll:
#     waits    <= 0.1 s + 15 x 0.1 s          = 1.6 s
# Wine start-up, the window scans and the result file: allow 5 s.
#     bound     = 6.0 + 1.6 + 5.0             = 12.6 s
# Asserted with a margin of two. Without the hung-thread rule every one of the
# run's 41 sends could wait 2 s (82 s); without time-outs it would never end.
SEND_TIMEOUT = 2.0
FULL_WAITS_BEFORE_HUNG = 3
FIXED_WAITS = 0.1 + 15 * 0.1
STARTUP_ALLOWANCE = 5.0
HANG_BOUND = 2 * (FULL_WAITS_BEFORE_HUNG * SEND_TIMEOUT + FIXED_WAITS + STARTUP_ALLOWANCE)
# A run with no hung thread: start-up and the fixed waits, asserted with the
# same allowance and margin.
RUN_BOUND = 2 * (FIXED_WAITS + STARTUP_ALLOWANCE)
# Opening a room adds at most 4.23 s of fixed waits: 80 ms to show the search
# box, 300 ms, 5 re-scans of 300 ms with 4 x 80 ms between results, 80 ms to
# end the search, 150 ms after the tab click and 6 row re-scans of 300 ms.
OPENING_WAITS = 0.08 + 0.3 + 5 * 0.3 + 4 * 0.08 + 0.08 + 0.15 + 6 * 0.3
OPEN_HANG_BOUND = 2 * (FULL_WAITS_BEFORE_HUNG * SEND_TIMEOUT + OPENING_WAITS + FIXED_WAITS
                       + STARTUP_ALLOWANCE)
KILL_AFTER = 60.0


class FaultCase(KitCase):

    def request(self, text, name="req.json", out="out.json"):
        self.work.write(name, text)
        return [self.work.win(name), self.work.win(out)]

    def run_request(self, text, bound, out="out.json"):
        run = run_chatdraft(self.request(text, out=out), self.work.path, KILL_AFTER, self.prefix)
        check_clean_exit(self, run, bound, "request %s" % text)
        self.assertEqual(0, run.returncode)
        self.assertEqual(b"", run.stdout + run.stderr)
        return check_result_document(self, self.work.read(out))

    def run_probe(self, bound):
        run = run_chatdraft(["--probe"], self.work.path, KILL_AFTER, self.prefix)
        check_clean_exit(self, run, bound, "probe")
        self.assertEqual(0, run.returncode)
        return check_probe_document(self, run.stdout.replace(b"\r\n", b"\n"))

    def assertSendClaimTrue(self, doc, standin, room):
        """A "sent" status needs a send the stand-in really made in that room."""
        really_sent = [text for title, text in sends(standin) if title == room]
        if doc.get("status") == "sent":
            self.assertTrue(really_sent, "reported sent, but %r sent nothing: %r" % (room, doc))
        return really_sent


class HungRoomTest(FaultCase):
    def test_probe_lists_a_hung_room_in_bounded_time(self):
        # "Frozen" stops reading its queue at the first length query it gets.
        s = self.start_standin('room "Frozen" hang=read:1 draft="cold"\nroom "Fine" draft="warm"\n')
        # First a request to the other room: one message to the hung room would
        # cost a whole time-out. Finding rooms reads titles without messages.
        mark = s.mark()
        doc = self.run_request('{"room":"Fine","message":"warm"}', RUN_BOUND)
        self.assertEqual("draft_written", doc["status"])
        self.assertEqual([], [e.line for e in s.since(mark) if e.get("room") == "Frozen"],
                         "the request reached the room it did not name")
        probe = self.run_probe(HANG_BOUND)
        drafts = {r["title"]: r["draft"] for r in probe["open_rooms"]}
        self.assertEqual({"Frozen": "", "Fine": "warm"}, drafts, "a room that does not answer has no draft")
        self.assertEqual("ready", probe["login_state"])
        assert_no_focus_change(self, s)

    def test_probe_over_forty_hung_rooms(self):
        # Forty rooms hang at once, each on its own thread: their 5 s run
        # together, so the probe waits about as long as for one. Without the
        # hung-thread rule its 32 listed rooms would cost 32 x 2 s.
        s = self.start_standin('rooms 40 "Room %d" hang=ready\n')
        probe = self.run_probe(HANG_BOUND)
        self.assertEqual(32, len(probe["open_rooms"]))
        self.assertEqual({""}, {r["draft"] for r in probe["open_rooms"]})
        assert_no_focus_change(self, s)

    def test_request_to_a_hung_room_writes_nothing_and_sends_nothing(self):
        s = self.start_standin('room "Frozen" hang=ready draft="cold"\n')
        doc = self.run_request('{"room":"Frozen","message":"hello","send":true}', HANG_BOUND)
        self.assertEqual(("WRITE_MISMATCH", ""), (doc.get("error_code"), doc.get("written_text")))
        self.assertEqual([], sends(s))
        assert_no_focus_change(self, s)

    def test_room_hanging_after_the_write_fails_the_readback(self):
        # The room stops answering 60 ms after chatdraft's first message to
        # its box: after the write, inside the 100 ms wait before the readback.
        s = self.start_standin('room "Sinks" hang=input:60\n')
        doc = self.run_request('{"room":"Sinks","message":"hello","send":true}', HANG_BOUND)
        self.assertEqual("WRITE_MISMATCH", doc.get("error_code"), doc)
        self.assertEqual("", doc["written_text"])
        s.wait_for(lambda e: e.name == "hang")
        # The readback and anything after it never reach the hung room.
        assert_traffic(self, s.messages(room="Sinks"), [
            expect("WM_GETTEXTLENGTH", via="sent", result=0),
            expect("EM_SETSEL", wparam=0, lparam=0xFFFFFFFFFFFFFFFF),
            expect("EM_REPLACESEL", wparam=1, text="hello"),
            expect("WM_GETTEXTLENGTH", result=5),
            expect("WM_GETTEXT", text="hello"),
            expect("WM_COMMAND", via="posted", code=0x300),
        ])
        self.assertEqual([], sends(s))
        assert_no_focus_change(self, s)

    def test_draft_of_a_room_too_busy_to_answer_is_kept(self):
        # The room is busy for 3.5 s from ready: chatdraft's first read of the
        # box times out after 2 s, and the room answers again before Wine
        # deems it hung (5 s). A draft that could not be read must not be
        # overwritten as if the box were empty.
        s = self.start_standin('room "Busy" hang=ready hang_for=3500 draft="user draft"\n')
        doc = self.run_request('{"room":"Busy","message":"from chatdraft"}', HANG_BOUND)
        s.wait_for(lambda e: e.name == "hang_end", timeout=10)
        box = poke("gettext", s.room("Busy").input, prefix=self.prefix)[0]
        self.assertEqual("user draft", box.get("text"), "the user's draft was overwritten: %r" % doc)
        self.assertIn(doc.get("error_code"), ("WRITE_MISMATCH", "DRAFT_EXISTS"), doc)
        assert_no_focus_change(self, s)

    def test_frozen_client_with_a_hidden_search_box(self):
        # The whole client process stopped (our stand-in, by its id): its
        # main window's thread reads nothing, so showing its hidden search
        # box must not wait for that thread.
        s = self.start_standin('search_box hidden\nroom "Open room" draft="d"\n')
        os.kill(s.pid, signal.SIGSTOP)
        try:
            doc = self.run_request('{"room":"Closed room","message":"hi"}', OPEN_HANG_BOUND)
            self.assertEqual("NEEDS_OPEN_ROOM", doc.get("error_code"), doc)
            doc = self.run_request('{"room":"Open room","message":"d"}', HANG_BOUND)
            self.assertEqual("WRITE_MISMATCH", doc.get("error_code"), doc)
            probe = self.run_probe(HANG_BOUND)
            self.assertEqual([("Open room", "")], [(r["title"], r["draft"]) for r in probe["open_rooms"]])
        finally:
            os.kill(s.pid, signal.SIGCONT)
        self.assertEqual([], sends(s))
        assert_no_focus_change(self, s)

    def test_room_hanging_on_enter_is_not_reported_sent(self):
        s = self.start_standin('room "Stops" hang=enter\n')
        doc = self.run_request('{"room":"Stops","message":"hello","send":true}', HANG_BOUND)
        self.assertEqual("send_unconfirmed", doc["status"], "a box that does not answer is not an empty box")
        self.assertEqual(("hello", ""), (doc["written_text"], doc["remaining_input_text"]))
        self.assertEqual(1, len(s.find(lambda e: e.name == "enter")))
        self.assertEqual([], sends(s))
        assert_no_focus_change(self, s)

    def test_room_waking_during_the_send_poll_is_reported_sent(self):
        s = self.start_standin('room "Naps" hang=enter hang_for=1000\n')
        doc = self.run_request('{"room":"Naps","message":"hello","send":true}', HANG_BOUND)
        self.assertEqual("sent", doc["status"], doc)
        self.assertEqual(["hello"], self.assertSendClaimTrue(doc, s, "Naps"))
        assert_no_focus_change(self, s)


    def test_clear_or_force_of_a_hung_room_is_no_success(self):
        # No success without an answer: the box may hold its draft all along.
        s = self.start_standin('rooms 2 "Frozen %d" hang=ready hang_for=12000 draft="keep me"\n')
        for title, request in (("Frozen 1", '{"room":"Frozen 1","clear":true}'),
                               ("Frozen 2", '{"room":"Frozen 2","message":"","force":true}')):
            with self.subTest(title):
                doc = self.run_request(request, HANG_BOUND)
                self.assertEqual(("WRITE_MISMATCH", ""), (doc.get("error_code"), doc.get("written_text")))
        for title in ("Frozen 1", "Frozen 2"):
            room = s.room(title)
            s.wait_for(lambda e: e.name == "hang_end" and e["hwnd"] == room.hwnd, timeout=20)
            self.assertEqual("keep me", poke("gettext", room.input, prefix=self.prefix)[0]["text"])
        assert_no_focus_change(self, s)


class SlowClientTest(FaultCase):
    def test_send_poll_ends_in_its_time_however_slow_the_reads(self):
        # Every message to the box is answered 1.5 s late, never so late that
        # a time-out or the hung-thread rule ends it, and Enter sends nothing.
        # 11 messages of 1.5 s (the first read, the write's four, the
        # readback's two, one poll of two, the last read's two) and the
        # waits; 15 polls would add 13 x 3 s more.
        slow, messages = 1.5, 11
        bound = 1.5 * (messages * slow + FIXED_WAITS + STARTUP_ALLOWANCE)
        s = self.start_standin('room "Slow" slow=1500 send=stuck\n')
        started = time.monotonic()
        doc = self.run_request('{"room":"Slow","message":"hello","send":true}', bound)
        self.assertEqual(("send_unconfirmed", "hello"), (doc["status"], doc["remaining_input_text"]))
        polls = s.messages(room="Slow", name="WM_GETTEXTLENGTH")
        self.assertEqual(5, len(polls), "the first read, the write's, the readback, one poll and the last read")
        self.assertLess(time.monotonic() - started, bound)
        assert_no_focus_change(self, s)


class ClientGoesAwayTest(FaultCase):
    def test_room_closing_on_enter_is_not_reported_sent(self):
        s = self.start_standin('room "Closer" send=close\nroom "Stay" draft="here"\n')
        doc = self.run_request('{"room":"Closer","message":"bye","send":true}', RUN_BOUND)
        self.assertEqual("send_unconfirmed", doc["status"], doc)
        closed = s.wait_for(lambda e: e.name == "closed")
        self.assertEqual(("Closer", "enter"), (closed["room"], closed["by"]))
        self.assertEqual([], self.assertSendClaimTrue(doc, s, "Closer"))
        assert_no_focus_change(self, s)

    def test_client_exiting_on_enter_is_not_reported_sent(self):
        s = self.start_standin('room "Last" send=exit\n')
        doc = self.run_request('{"room":"Last","message":"bye","send":true}', RUN_BOUND)
        self.assertEqual("send_unconfirmed", doc["status"], doc)
        s.wait_for(lambda e: e.name == "exit")
        self.assertEqual([], sends(s))
        assert_no_focus_change(self, s)

    def test_client_killed_right_after_the_write(self):
        # The stand-in is ours: killing it by its id when its log shows the
        # write lands the client's death in the wait before the readback.
        s = self.start_standin('room "Doomed"\n')
        proc = start_chatdraft(self.request('{"room":"Doomed","message":"hi","send":true}'),
                               self.work.path, self.prefix)
        try:
            s.wait_for(lambda e: e.name == "msg" and e["name"] == "EM_REPLACESEL", timeout=20)
            s.proc.kill()
        finally:
            run = wait_chatdraft(proc, KILL_AFTER)
        check_clean_exit(self, run, RUN_BOUND, "request while the client died")
        doc = check_result_document(self, self.work.read("out.json"))
        # Only a kill slower than the 100 ms wait lets the send through.
        if not self.assertSendClaimTrue(doc, s, "Doomed"):
            self.assertIn(doc.get("error_code", doc["status"]), ("WRITE_MISMATCH", "send_unconfirmed"), doc)
        assert_no_focus_change(self, s)

    def test_client_exiting_while_a_send_waits(self):
        # The room stops answering right after the first message; the client
        # ends itself 1.5 s after ready, while chatdraft waits on a send.
        s = self.start_standin('room "Gone" hang=input:0\nexit_after 1500\n')
        doc = self.run_request('{"room":"Gone","message":"hi","send":true}', HANG_BOUND)
        s.wait_for(lambda e: e.name == "exit", timeout=10)
        self.assertNotEqual("sent", doc["status"], doc)
        self.assertEqual([], sends(s))
        assert_no_focus_change(self, s)

    def test_client_killed_at_random_moments_never_yields_a_false_send(self):
        # Seeded moments from chatdraft's start to past its Enter: whatever
        # the run saw of the dying client, a "sent" needs a logged send.
        rng = random.Random(7)
        for delay in sorted(rng.uniform(0.0, 0.8) for _ in range(8)):
            with self.subTest(delay=round(delay, 3)):
                s = Standin('room "Mortal"\n', prefix=self.prefix)
                s.start()
                try:
                    proc = start_chatdraft(self.request('{"room":"Mortal","message":"hi","send":true}'),
                                           self.work.path, self.prefix)
                    time.sleep(max(0.0, proc.started + delay - time.monotonic()))
                    s.proc.kill()
                    run = wait_chatdraft(proc, KILL_AFTER)
                    check_clean_exit(self, run, RUN_BOUND, "request while the client died")
                    doc = check_result_document(self, self.work.read("out.json"))
                    self.assertSendClaimTrue(doc, s, "Mortal")
                    assert_no_focus_change(self, s)
                finally:
                    s.stop()

    def test_room_closed_during_the_send_poll(self):
        s = self.start_standin('room "Shut" send=stuck\n')
        proc = start_chatdraft(self.request('{"room":"Shut","message":"hi","send":true}'),
                               self.work.path, self.prefix)
        try:
            enter = s.wait_for(lambda e: e.name == "enter", timeout=20)
            poke("post", enter["hwnd"], WM_CLOSE, 0, 0, prefix=self.prefix)
        finally:
            run = wait_chatdraft(proc, KILL_AFTER)
        check_clean_exit(self, run, RUN_BOUND, "request whose room closed")
        doc = check_result_document(self, self.work.read("out.json"))
        self.assertEqual("send_unconfirmed", doc["status"], doc)
        closed = s.wait_for(lambda e: e.name == "closed")
        self.assertEqual(("Shut", "close"), (closed["room"], closed["by"]))
        self.assertEqual([], sends(s))
        assert_no_focus_change(self, s)

    def test_send_slower_than_the_poll_is_unconfirmed_not_unsent(self):
        # The client empties the box 2.5 s after Enter, after the last of the
        # 15 polls: the run says "send_unconfirmed", and the text still goes.
        s = self.start_standin('room "Slow" send=delay:2500\n')
        doc = self.run_request('{"room":"Slow","message":"late","send":true}', RUN_BOUND)
        self.assertEqual(("send_unconfirmed", "late"), (doc["status"], doc["remaining_input_text"]))
        s.wait_for(lambda e: e.name == "emptied", timeout=10)
        self.assertEqual([("Slow", "late")], sends(s))
        assert_no_focus_change(self, s)

    def test_nothing_reaches_a_room_after_chatdraft_asks_it_to_close(self):
        s = self.start_standin('room "Brief"\n')
        doc = self.run_request('{"room":"Brief","message":"hi","send":true,"close_after":true}', RUN_BOUND)
        self.assertEqual("sent", doc["status"])
        s.wait_for(lambda e: e.name == "closed")
        room = s.windows("room")[0].hwnd
        # The WM_CHAR that the client's own TranslateMessage makes of Enter
        # lands before or after the key-up.
        assert_traffic(self, s.messages(room="Brief"), [
            expect("WM_GETTEXTLENGTH", via="sent", result=0),
            expect("EM_SETSEL"),
            expect("EM_REPLACESEL", text="hi"),
            expect("WM_GETTEXTLENGTH", result=2),
            expect("WM_GETTEXT", text="hi"),
            expect("WM_COMMAND", via="posted", code=0x300),
            expect("WM_GETTEXTLENGTH", result=2),
            expect("WM_GETTEXT", text="hi"),
            expect("WM_KEYDOWN", via="posted", wparam=0x0D),
            expect("WM_CHAR", optional=True),
            expect("WM_KEYUP", via="posted", wparam=0x0D),
            expect("WM_CHAR", optional=True),
            expect("WM_GETTEXTLENGTH", result=0),
            expect("WM_GETTEXTLENGTH", result=0),
            expect("WM_CLOSE", via="posted", hwnd=room),
        ])
        self.assertSendClaimTrue(doc, s, "Brief")
        assert_no_focus_change(self, s)


class KilledRunTest(FaultCase):
    SCENARIO = "\n".join([
        'room "Stuck" send=stuck',
        'known "Far room"',
        'search "Far room" "Far room"',
        "result_list hidden",
    ])
    STUCK = '{"room":"Stuck","message":"held","send":true,"force":true}'
    FAR = '{"room":"Far room","message":"held","force":true}'

    def kill_at(self, request, point):
        """Start a run and kill it at the point: seconds after start, or when
        the stand-in logs an event matching a predicate."""
        mark = self.standin.mark()
        proc = start_chatdraft(self.request(request), self.work.path, self.prefix)
        try:
            if callable(point):
                self.standin.wait_for(point, timeout=20, since=mark)
            else:
                time.sleep(max(0.0, proc.started + point - time.monotonic()))
        finally:
            kill_chatdraft(proc)
        landed = self.standin.since(mark)
        return proc, landed[-1].line if landed else "before any message reached the client"

    def assertPreviousOrNone(self, previous, where):
        if self.work.exists("out.json"):
            self.assertEqual(previous, self.work.read("out.json"), "killed %s" % where)
            parse_document(self.work.read("out.json"))

    def test_killed_runs_leave_the_previous_document_and_the_next_run_replaces_the_leftover(self):
        self.standin = self.start_standin(self.SCENARIO)
        previous = self.work.write("out.json", b"")  # replaced by a real document below
        first = self.run_request(self.STUCK, RUN_BOUND)
        self.assertEqual("send_unconfirmed", first["status"])
        previous = self.work.read("out.json")
        points = [
            ("50 ms after start", 0.05), ("150 ms after start", 0.15),
            ("400 ms after start", 0.4), ("1 s after start", 1.0),
            ("at the write", lambda e: e.name == "msg" and e["name"] == "EM_REPLACESEL"),
            ("at Enter", lambda e: e.name == "enter"),
        ]
        for where, point in points:
            with self.subTest(where):
                proc, landed = self.kill_at(self.STUCK, point)
                self.assertNotEqual(0, proc.returncode, "run ended before the kill %s" % where)
                self.assertPreviousOrNone(previous, "%s (last client event: %s)" % (where, landed))
        with self.subTest("during the room search"):
            proc, landed = self.kill_at(self.FAR, lambda e: e.name == "search")
            self.assertPreviousOrNone(previous, "during the search (last client event: %s)" % landed)
        # A partial leftover under the temporary name, longer than any document.
        self.work.write("out.json.tmp", b'{"status":"sent","room_title":"' + b"x" * 100000)
        doc = self.run_request(self.STUCK, RUN_BOUND)
        self.assertEqual("send_unconfirmed", doc["status"])
        self.assertEqual(["out.json", "req.json"], self.work.names())
        self.assertEqual([], sends(self.standin))
        assert_no_focus_change(self, self.standin)


    def test_killed_probe_leaves_the_previous_document(self):
        # A stopped client makes the probe wait on its room's box (2 s), so
        # the kill at 1 s lands inside the probe.
        s = self.start_standin('room "Slow" draft="d"\n')
        args = ["--probe", self.work.win("probe.json")]
        first = run_chatdraft(args, self.work.path, KILL_AFTER, self.prefix)
        check_clean_exit(self, first, RUN_BOUND, "probe")
        previous = self.work.read("probe.json")
        self.assertEqual([("Slow", "d")], [(r["title"], r["draft"])
                                           for r in check_probe_document(self, previous)["open_rooms"]])
        os.kill(s.pid, signal.SIGSTOP)
        try:
            proc = start_chatdraft(args, self.work.path, self.prefix)
            time.sleep(max(0.0, proc.started + 1.0 - time.monotonic()))
            kill_chatdraft(proc)
        finally:
            os.kill(s.pid, signal.SIGCONT)
        self.assertNotEqual(0, proc.returncode, "the probe ended before the kill")
        self.assertEqual(previous, self.work.read("probe.json"))
        self.work.write("probe.json.tmp", b'{"status":"ok","open_rooms":[' * 1000)
        run = run_chatdraft(args, self.work.path, KILL_AFTER, self.prefix)
        check_clean_exit(self, run, RUN_BOUND, "probe after the kill")
        self.assertEqual(previous, self.work.read("probe.json"))
        self.assertEqual(["probe.json"], self.work.names())
        assert_no_focus_change(self, s)


class FullDiskTest(FaultCase):
    def test_document_that_cannot_be_written_whole_replaces_nothing(self):
        # Files of the run may not grow past 100 bytes, as on a full disk:
        # no document here is that short.
        s = self.start_standin('room "Target" draft="keep"\n')
        self.work.write("out.json", b"previous")
        self.work.write("probe.json", b"previous")
        runs = [("request", self.request('{"room":"Target","message":"x"}')),
                ("probe", ["--probe", self.work.win("probe.json")])]
        for name, args in runs:
            with self.subTest(name):
                run = run_chatdraft(args, self.work.path, KILL_AFTER, self.prefix, max_file_bytes=100)
                check_clean_exit(self, run, RUN_BOUND, name)
                self.assertEqual(2, run.returncode, "a result file that could not be written")
                self.assertEqual(b"", run.stdout + run.stderr)
        self.assertEqual(b"previous", self.work.read("out.json"))
        self.assertEqual(b"previous", self.work.read("probe.json"))
        self.assertEqual(["out.json", "probe.json", "req.json"], self.work.names())
        assert_no_focus_change(self, s)


class ConcurrentRunsTest(FaultCase):
    def assertBothEndWell(self, first, second):
        runs = [wait_chatdraft(proc, KILL_AFTER) for proc in (first, second)]
        for run, name in zip(runs, ("first", "second")):
            check_clean_exit(self, run, RUN_BOUND, "%s run" % name)
            self.assertEqual(0, run.returncode)

    def test_two_requests_at_once_to_two_rooms(self):
        s = self.start_standin('room "Left"\nroom "Right"\n')
        left = start_chatdraft(self.request('{"room":"Left","message":"to left","send":true}',
                                            "left.json", "left.out"), self.work.path, self.prefix)
        right = start_chatdraft(self.request('{"room":"Right","message":"to right","send":true}',
                                             "right.json", "right.out"), self.work.path, self.prefix)
        self.assertBothEndWell(left, right)
        docs = [check_result_document(self, self.work.read(n)) for n in ("left.out", "right.out")]
        self.assertEqual([("sent", "Left", "to left"), ("sent", "Right", "to right")],
                         [(d["status"], d["room_title"], d["written_text"]) for d in docs])
        self.assertEqual(sorted([("Left", "to left"), ("Right", "to right")]),
                         sorted((room, crlf_to_lf(text)) for room, text in sends(s)))
        assert_no_focus_change(self, s)

    def test_probe_and_request_at_once(self):
        s = self.start_standin('room "Busy" draft="typing"\nroom "Quiet" draft="mine"\n')
        probe = start_chatdraft(["--probe", self.work.win("probe.out")], self.work.path, self.prefix)
        request = start_chatdraft(self.request('{"room":"Busy","message":"more","append":true}'),
                                  self.work.path, self.prefix)
        self.assertBothEndWell(probe, request)
        rooms = {r["title"]: r["draft"] for r in check_probe_document(self, self.work.read("probe.out"))["open_rooms"]}
        self.assertEqual("mine", rooms["Quiet"])
        self.assertIn(crlf_to_lf(rooms["Busy"]), ("typing", "typing\nmore"))
        doc = check_result_document(self, self.work.read("out.json"))
        self.assertEqual(("draft_written", "typing\nmore"), (doc["status"], crlf_to_lf(doc["written_text"])))
        self.assertEqual(["out.json", "probe.out", "req.json"], self.work.names())
        assert_no_focus_change(self, s)


if __name__ == "__main__":
    unittest.main()
