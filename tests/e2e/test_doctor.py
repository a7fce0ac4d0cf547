"""`chatdraft doctor` from the unpacked package: the checklist names exactly
what a layout lacks, a hidden search box or result list is no fault, the
window tree is written whole (and redacted on request), and a client with 32
rooms is looked at quickly.

Run with CHATDRAFT_WINEPREFIX, CHATDRAFT_WIN_BUILD and CHATDRAFT_PACKAGE_DIR set.
"""

import json
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Standin  # noqa: E402
from test_cli import EXIT_DONE, EXIT_REFUSED, CommandCase  # noqa: E402


def missing_items(out):
    """The items of the checklist's "missing" lines."""
    return sorted(line[len("missing"):].strip().split(":")[0] for line in out.splitlines()
                  if line.startswith("missing"))


class Checklist(CommandCase):
    """A layout that breaks one thing a row; the class's own stand-in is the
    client: a room with an input box and the default views."""

    SCENARIO = 'main absent\nroom "Elsewhere"'   # no client for the rows to compete with

    ROWS = [
        ("sound layout", 'room "Team Alpha"', []),
        ("no main window", 'main absent\nroom "Team Alpha"', ["main window"]),
        ("locked client", 'lock visible\nonline hidden\nroom "Team Alpha"', ["logged in"]),
        ("no search box", 'search_box absent', ["rooms opened by name"]),
        ("no tab strip", 'tab_strip absent', ["rooms opened by tab"]),
        ("no room list", 'room_list absent', ["rooms opened by tab"]),
        ("input box of an unknown class", 'room "Odd" input=ChatInputBox\nroom "Fine"', ["open rooms"]),
        ("a second main window", 'fake_main 1\nroom "Team Alpha"', ["one main window"]),
        ("hidden search box", 'search_box hidden', []),
        ("hidden result list", 'result_list hidden', []),
        ("input box that does not answer", 'room "Hung" hang=ready\nroom "Fine"', ["open rooms"]),
    ]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.s.stop()   # each row brings its own client

    def test_each_missing_piece_is_named_alone(self):
        for name, scenario, missing in self.ROWS:
            with self.subTest(name):
                with Standin(scenario, prefix=self.prefix) as s:
                    mark = s.mark()
                    code, out, err = self.run_command("doctor")
                    self.assertEqual(missing, missing_items(out), out)
                    self.assertEqual((EXIT_REFUSED if missing else EXIT_DONE, ""), (code, err), out)
                    self.assertEqual([], [e.line for e in s.focus_events(since=mark)])
        code, out, _ = self.run_command("doctor")
        self.assertEqual((EXIT_REFUSED, ["client"]), (code, missing_items(out)), out)

    def test_room_without_a_box_is_named_with_its_childrens_classes(self):
        with Standin('room "Odd" input=ChatInputBox', prefix=self.prefix):
            _, out, _ = self.run_command("doctor")
            line = next(l for l in out.splitlines() if l.startswith("missing  open rooms"))
            self.assertIn('"Odd"', line)
            self.assertIn("ChatInputBox", line)
            code, out, _ = self.run_command("doctor", "--json")
            rooms = {r["title"]: r for r in json.loads(out)["rooms"]}
            self.assertEqual((0, "ChatInputBox"), (rooms["Odd"]["input_hwnd"], rooms["Odd"]["child_classes"][-1]))


class WindowTree(CommandCase):
    SCENARIO = 'room "Family Plans" draft="milk"\nroom "Quarterly Numbers"\nroom "LockModeView fans"'

    def dump(self, *extra):
        path = os.path.join(self.tmp_out, "tree%d.json" % len(os.listdir(self.tmp_out)))
        code, out, err = self.run_command("doctor", "--dump", path, *extra)
        self.assertEqual((EXIT_DONE, ""), (code, err))
        with open(path, encoding="utf-8") as f:
            return json.load(f), out

    def setUp(self):
        super().setUp()
        self.tmp_out = tempfile.mkdtemp(prefix="chatdraft-dump-")
        self.addCleanup(shutil.rmtree, self.tmp_out, True)

    def test_dump_holds_the_tree_and_redact_leaves_the_titles_out(self):
        tree, out = self.dump()
        texts = [w["text"] for w in tree["windows"]]
        self.assertIn("Family Plans", texts)
        self.assertIn("rooms' names", out)
        box = next(w for w in tree["windows"] if w["parent"] == self.s.room("Family Plans").hwnd
                   and "text_length" in w)
        self.assertEqual(4, box["text_length"])
        redacted, out = self.dump("--redact")
        self.assertEqual(len(tree["windows"]), len(redacted["windows"]))
        dump_text = json.dumps(redacted, ensure_ascii=False)
        for title in ("Family Plans", "Quarterly Numbers", "fans"):
            self.assertNotIn(title, dump_text)
        self.assertIn("LockModeView" + "x" * len(" fans"), [w["text"] for w in redacted["windows"]])
        self.assertIn("x" * len("Family Plans"), [w["text"] for w in redacted["windows"]])
        self.assertIn("카카오톡", [w["text"] for w in redacted["windows"]])
        self.assertNotIn("rooms' names", out)

    def test_dump_is_made_afresh_beside_the_file(self):
        """A link planted at a name next to FILE, or a file left there, is
        neither followed nor used up; the dump is the caller's alone."""
        folder = self.tmp_out
        precious = os.path.join(folder, "precious.txt")
        with open(precious, "w") as f:
            f.write("precious")
        os.symlink(precious, os.path.join(folder, "layout.json.tmp"))
        with open(os.path.join(folder, "notes.json.tmp"), "w") as f:
            f.write("keep")
        for name in ("layout.json", "notes.json"):
            code, out, err = self.run_command("doctor", "--dump", os.path.join(folder, name))
            self.assertEqual((EXIT_DONE, ""), (code, err))
            self.assertEqual(0o600, os.stat(os.path.join(folder, name)).st_mode & 0o777)
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                self.assertIn("windows", json.load(f))
        with open(precious) as f, open(os.path.join(folder, "notes.json.tmp")) as g:
            self.assertEqual(("precious", "keep"), (f.read(), g.read()))
        self.assertEqual(sorted(["precious.txt", "layout.json.tmp", "notes.json.tmp", "layout.json", "notes.json"]),
                         sorted(os.listdir(folder)))


class ThirtyTwoRooms(CommandCase):
    SCENARIO = 'rooms 32 "Room %d" draft="x"'

    def test_doctor_reads_every_room(self):
        # How long it takes is the benchmark's question, not a test's.
        code, out, _ = self.run_command("doctor")
        self.assertEqual(EXIT_DONE, code, out)
        self.assertIn("32 with an input box", out)
        code, out, _ = self.run_command("probe")
        self.assertEqual((EXIT_DONE, "client ready, 32 rooms listed; more may be open"), (code, out.splitlines()[0]))


if __name__ == "__main__":
    unittest.main()
