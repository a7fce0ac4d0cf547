"""chatdraft.exe under Wine against hostile input and hostile windows: broken,
huge and deeply nested request files, paths that are no request file, and
desktops with look-alike windows that lie about their text, carry enormous
titles or come by the thousand. Every run ends in bounded time and bounded
memory with chatdraft's own exit code and one well-formed document, and
nothing is ever sent."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import poke  # noqa: E402
from hostile.kit import (KitCase, assert_no_focus_change, check_clean_exit, check_probe_document,  # noqa: E402
                         check_result_document, crlf_to_lf, run_chatdraft, sends)
from hostile.requests import hostile_requests, writing_requests  # noqa: E402

# A request that has to try opening its room: search text, Enter, one
# re-scan, the end-of-search click (80 + 300 + 300 + 80 ms), with Wine
# start-up and a 10 MiB file to read; a run that hangs is killed at KILL_AFTER.
RUN_BOUND = 20.0
KILL_AFTER = 60.0
# Wine's own share of a run is about 14 MiB; a 10 MiB request is held as
# bytes, as one decoded value and as its UTF-16 form (about 50 MiB in all),
# and a box read is capped at 1 Mi units (2 MiB) whatever length it reports.
PEAK_RSS_KB = 128 * 1024
WM_SETTEXT = 0x000C


class HostileCase(KitCase):

    def run_checked(self, args, what, bound=RUN_BOUND):
        run = run_chatdraft(args, self.work.path, KILL_AFTER, self.prefix)
        check_clean_exit(self, run, bound, what)
        self.assertLess(run.peak_rss_kb, PEAK_RSS_KB, "%s peaked at %d KiB" % (what, run.peak_rss_kb))
        self.assertGreater(run.peak_rss_kb, 0, "no peak size read for %s" % what)
        return run

    def request(self, name, data, bound=RUN_BOUND):
        self.work.write("req.json", data)
        run = self.run_checked([self.work.win("req.json"), self.work.win("out.json")], name, bound)
        self.assertEqual(0, run.returncode, name)
        self.assertFalse(self.work.exists("out.json.tmp"), name)
        return check_result_document(self, self.work.read("out.json"))

    def probe(self, what, bound=RUN_BOUND):
        run = self.run_checked(["--probe", self.work.win("probe.json")], what, bound)
        self.assertEqual(0, run.returncode)
        return check_probe_document(self, self.work.read("probe.json"))

    def assertNothingSent(self, s):
        self.assertEqual([], sends(s))
        self.assertEqual([], s.messages(name="WM_KEYDOWN", role="input"), "Enter reached a room")
        self.assertEqual([], s.messages(name="WM_CLOSE", role="room"), "a room was asked to close")
        assert_no_focus_change(self, s)


class HostileRequestTest(HostileCase):
    ROOM, DRAFT = "Target", "keep"
    SCENARIO = 'result_list hidden\nroom "Target" draft="keep"\n'

    def test_hostile_request_files_end_in_one_document(self):
        s = self.start_standin(self.SCENARIO)
        for name, data, expected in hostile_requests(self.ROOM, self.DRAFT):
            with self.subTest(name):
                doc = self.request(name, data)
                if expected:
                    self.assertEqual(expected, doc.get("error_code", doc["status"]), doc)
                if doc.get("error_code") == "DRAFT_EXISTS":
                    self.assertEqual(self.DRAFT, doc["existing_draft"])
        box = poke("gettext", s.room(self.ROOM).input, prefix=self.prefix)[0]
        self.assertEqual(self.DRAFT, box["text"], "the room's draft changed")
        self.assertTrue(s.alive())
        self.assertNothingSent(s)

    def test_hostile_messages_written_into_the_room(self):
        s = self.start_standin(self.SCENARIO)
        box = s.room(self.ROOM).input
        for name, data, expected, text in writing_requests(self.ROOM):
            with self.subTest(name):
                doc = self.request(name, data)
                if expected:
                    self.assertEqual(expected, doc.get("error_code", doc["status"]), doc)
                if text:
                    self.assertRegex(crlf_to_lf(doc["written_text"]), text)
            poke("settext", box, self.DRAFT, prefix=self.prefix)
        self.assertNothingSent(s)

    def test_paths_that_are_no_request_file_exit_2(self):
        os.mkdir(self.work.file("dir.json"))
        self.work.write("plain.json", b'{"room":"Target"}')
        paths = [("directory", self.work.win("dir.json")),
                 ("missing", self.work.win("missing.json")),
                 ("below_a_file", self.work.win("plain.json") + "\\x.json"),
                 ("missing_drive", "Q:\\no\\such\\req.json")]
        if os.geteuid() != 0:  # permissions do not stop root
            self.work.write("locked.json", b'{"room":"Target"}')
            os.chmod(self.work.file("locked.json"), 0)
            paths.append(("unreadable", self.work.win("locked.json")))
        for name, path in paths:
            with self.subTest(name):
                run = self.run_checked([path, self.work.win("out.json")], name)
                self.assertEqual(2, run.returncode, name)
                self.assertEqual(b"", run.stdout + run.stderr)
                self.assertFalse(self.work.exists("out.json") or self.work.exists("out.json.tmp"))

    def test_output_paths_that_cannot_take_the_document(self):
        s = self.start_standin(self.SCENARIO)
        self.work.write("req.json", '{"room":"Target","message":"keep"}')
        long_name = self.work.win("o" * 2000 + ".json")
        run = self.run_checked([self.work.win("req.json"), long_name], "long output path")
        self.assertEqual(2, run.returncode, "a temporary file that cannot be created")
        self.assertEqual(["req.json"], self.work.names())
        self.assertEqual([], s.messages(), "the client was touched without a result file")
        # A directory under the output name is neither removed nor replaced:
        # the complete document stays under the temporary name, and the run
        # says it failed, since there is no document under the output path.
        os.mkdir(self.work.file("out.json"))
        run = self.run_checked([self.work.win("req.json"), self.work.win("out.json")], "directory")
        self.assertEqual(2, run.returncode)
        self.assertTrue(os.path.isdir(self.work.file("out.json")))
        doc = check_result_document(self, self.work.read("out.json.tmp"))
        self.assertEqual("draft_written", doc["status"])
        self.assertNothingSent(s)

    def test_request_file_as_its_own_output(self):
        s = self.start_standin(self.SCENARIO)
        self.work.write("req.json", '{"room":"Target","message":"keep"}')
        run = self.run_checked([self.work.win("req.json"), self.work.win("req.json")], "same path")
        self.assertEqual(0, run.returncode)
        doc = check_result_document(self, self.work.read("req.json"))
        self.assertEqual("draft_written", doc["status"])
        self.assertEqual(["req.json"], self.work.names())
        self.assertNothingSent(s)


class HostileWindowsTest(HostileCase):
    def test_windows_reporting_huge_text_lengths(self):
        client = self.start_standin('room "Target" draft="keep"\n'
                                    'room "Huge" huge=0x7FFFFFFFFFFFFFFF draft="small"\n'
                                    'room "Hundred million" huge=100000000\n'
                                    'room "Past 32 bits" huge=0x100000001 draft="edge"\n')
        probe = self.probe("probe")
        self.assertEqual(client.hwnd("main"), probe["main_hwnd"])
        drafts = {r["title"]: r["draft"] for r in probe["open_rooms"]}
        self.assertEqual({"Target": "keep", "Huge": "small", "Hundred million": "", "Past 32 bits": "edge"}, drafts)
        doc = self.request("huge", '{"room":"Huge","message":"small"}')
        self.assertEqual(("draft_written", "small", "small"),
                         (doc["status"], doc["previous_input_text"], doc["written_text"]))
        doc = self.request("hundred million", '{"room":"Hundred million","message":"x"}')
        self.assertEqual(("draft_written", "x"), (doc["status"], doc["written_text"]))
        self.assertNothingSent(client)

    def test_window_texts_that_are_no_valid_unicode(self):
        # Lone surrogates and control characters in a title and a draft: the
        # documents stay valid UTF-8 JSON (the parse is strict).
        s = self.start_standin('room "Odd\\uD800 \\u0001room\\uDC00" draft="a\\uDC00b\\u0007\\"c"\n')
        probe = self.probe("probe")
        self.assertEqual(1, len(probe["open_rooms"]))
        title, draft = probe["open_rooms"][0]["title"], probe["open_rooms"][0]["draft"]
        self.assertRegex(title, "^Odd\ufffd? \x01room\ufffd?$")
        self.assertRegex(draft, '^a\ufffd?b\x07"c$')
        doc = self.request("odd room", '{"room":"Odd","message":"x","force":true}')
        self.assertEqual(("draft_written", title, draft), (doc["status"], doc["room_title"],
                                                           doc["previous_input_text"]))
        self.assertNothingSent(s)

    def test_room_title_of_10000_units(self):
        s = self.start_standin('long_room 10000 "Long "\nroom "Target"\n')
        probe = self.probe("probe")
        titles = [r["title"] for r in probe["open_rooms"] if r["title"] != "Target"]
        self.assertEqual([("Long " * 102)[:510]], titles, "a title is read as its first 510 units")
        doc = self.request("long title", '{"room":"%s","message":"x"}' % ("Long " * 100))
        self.assertEqual(("draft_written", ("Long " * 102)[:510], 80),
                         (doc["status"], doc["room_title"], doc["match_score"]))
        self.assertNothingSent(s)

    def test_thousands_of_look_alike_and_unrelated_windows(self):
        # Creating 4,100 windows takes Wine tens of seconds on a busy machine.
        s = self.start_standin('bare 3000 "Notice %d"\nplain 1000 "Window %d"\nuntitled 100\n'
                               'room "Target" draft="keep"\nresult_list hidden\n', ready_timeout=180)
        probe = self.probe("probe")
        self.assertEqual([("Target", "keep")], [(r["title"], r["draft"]) for r in probe["open_rooms"]])
        doc = self.request("open room", '{"room":"Target","message":"keep"}')
        self.assertEqual("draft_written", doc["status"])
        # "Notice 1" matches a bare window, which has no input box: the room
        # is looked for through the search box and not found.
        doc = self.request("bare title", '{"room":"Notice 1","message":"x"}')
        self.assertEqual("NEEDS_OPEN_ROOM", doc["error_code"])
        self.assertNothingSent(s)

    def test_look_alike_room_in_another_process_is_no_room_of_the_client(self):
        client = self.start_standin('room "Team Alpha" draft="real"\n')
        spoof = self.start_standin('main absent\nroom "Team Alpha" draft="fake"\n')
        probe = self.probe("probe")
        self.assertEqual([("Team Alpha", "real")], [(r["title"], r["draft"]) for r in probe["open_rooms"]])
        doc = self.request("look-alike", '{"room":"Team Alpha","message":"x","force":true}')
        self.assertEqual(("draft_written", client.room("Team Alpha").hwnd),
                         (doc["status"], doc["window_hwnd"]))
        self.assertEqual([], spoof.messages(role="input"), "the look-alike's box was touched")
        for s in (client, spoof):
            self.assertNothingSent(s)

    def test_fake_main_windows_beside_the_client(self):
        client = self.start_standin('room "Target" draft="keep"\n')
        fakes = self.start_standin("main absent\nfake_main 3\n")
        probe = self.probe("probe")
        # Windows of the class titled like the main window but showing no login
        # view never hide the one that does: its lock view must not be missed.
        self.assertEqual(client.hwnd("main"), probe["main_hwnd"])
        start = client.find(lambda e: e.name == "start", since=0)[0]
        self.assertEqual(start["pid"], probe["kakao_pid"])
        self.assertEqual(["Target"], [r["title"] for r in probe["open_rooms"]])
        doc = self.request("room", '{"room":"Target","message":"keep"}')
        self.assertEqual("draft_written", doc["status"])
        self.assertNothingSent(client)


if __name__ == "__main__":
    unittest.main()
