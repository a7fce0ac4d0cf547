"""The chatdraft command as the package installs it: the .deb of
scripts/package.sh unpacked with dpkg-deb -x (no root needed), run as a person
or a program types it, against the stand-in client.

Every run gets a TMPDIR of its own, other than the stand-in's, and must leave
it empty: no run folder, and no second wineserver folder (which would mean the
exe ran beside the client's wineserver and could not see its windows).

Run with CHATDRAFT_WINEPREFIX, CHATDRAFT_WIN_BUILD and CHATDRAFT_PACKAGE_DIR set.
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Standin, poke, prefix_from_env, standin_exe  # noqa: E402
from harness.requests import crlf, success_doc  # noqa: E402

EXIT_DONE, EXIT_REFUSED, EXIT_MISUSE, EXIT_MAYBE_SENT, EXIT_UNKNOWN = range(5)
RUN_SECONDS = 90


def unpacked_package():
    """usr/ of the package, unpacked into a fresh folder."""
    folder = os.environ.get("CHATDRAFT_PACKAGE_DIR")
    if not folder:
        raise unittest.SkipTest("CHATDRAFT_PACKAGE_DIR is not set")
    debs = glob.glob(os.path.join(folder, "chatdraft_*.deb"))
    if len(debs) != 1:
        raise AssertionError("expected one package in %s (bash scripts/package.sh), found %r"
                             % (folder, debs))
    root = tempfile.mkdtemp(prefix="chatdraft-deb-")
    subprocess.run(["dpkg-deb", "-x", debs[0], root], check=True)
    return root


class CommandCase(unittest.TestCase):
    """One stand-in per class; the command from the unpacked package."""

    SCENARIO = ""

    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()
        cls.root = unpacked_package()
        cls.addClassCleanup(shutil.rmtree, cls.root, True)
        cls.command = os.path.join(cls.root, "usr", "bin", "chatdraft")
        cls.s = Standin(cls.SCENARIO, prefix=cls.prefix)
        cls.s.start()
        cls.addClassCleanup(cls.s.stop)

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="chatdraft-tmpdir-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items() if k not in ("WINEPREFIX", "TMPDIR")}
        env.update(TMPDIR=self.tmp, WINEPREFIX=self.prefix)
        env.update(extra)
        return {k: v for k, v in env.items() if v is not None}

    def start(self, *args, **extra):
        return subprocess.Popen([self.command, *args], env=self.env(**extra), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run_command(self, *args, stdin=b"", **extra):
        """(exit code, stdout text, stderr text); the run's TMPDIR must be left empty."""
        r = subprocess.run([self.command, *args], input=stdin, capture_output=True,
                           env=self.env(**extra), timeout=RUN_SECONDS)
        self.assertEqual([], os.listdir(self.tmp), "left in TMPDIR by %r" % (args,))
        return r.returncode, r.stdout.decode(), r.stderr.decode()

    def box(self, title):
        return poke("gettext", self.s.room(title).input, prefix=self.prefix)[0].get("text", "")


class Reading(CommandCase):
    SCENARIO = "\n".join([
        'room "Team Alpha" draft="half-written\\nline"',
        'room "우리 가족"',
        'room "Room: one"',
    ])
    TITLES = sorted(["Room: one", "우리 가족", "Team Alpha"])

    def test_probe_human_titles_and_json(self):
        code, out, err = self.run_command("probe")
        self.assertEqual((EXIT_DONE, ""), (code, err))
        self.assertEqual("client ready, 3 rooms open", out.splitlines()[0])
        self.assertEqual(sorted(['  "Room: one"', '  "우리 가족"',
                                 '  "Team Alpha"  draft "half-written\\nline"']),
                         sorted(out.splitlines()[1:]))
        code, out, _ = self.run_command("probe", "--titles")
        self.assertEqual(self.TITLES, sorted(out.splitlines()))
        code, out, _ = self.run_command("--json", "probe")
        self.assertEqual(EXIT_DONE, code)
        self.assertTrue(out.startswith('{"status":"ok","main_hwnd":%d,' % self.s.hwnd("main")), out)
        self.assertTrue(out.endswith("]}\n") and out.count("\n") == 1, out)

    def test_the_clients_tmpdir_is_found_from_another(self):
        """The stand-in runs under the test's TMPDIR; the command under another one."""
        stand_in_tmpdir = os.environ.get("TMPDIR", "/tmp")
        self.assertNotEqual(stand_in_tmpdir, self.tmp)
        code, out, _ = self.run_command("probe", "--titles")
        self.assertEqual((EXIT_DONE, self.TITLES), (code, sorted(out.splitlines())))

    def test_completion_offers_verbs_tabs_and_open_rooms(self):
        script = os.path.join(self.root, "usr", "share", "bash-completion", "completions", "chatdraft")
        bin_dir = os.path.dirname(self.command)

        def complete(*words):
            # As bash calls it: the words so far, the index of the one completed.
            line = 'source %s; COMP_WORDS=(%s); COMP_CWORD=%d; _chatdraft; printf "%%s\\n" "${COMPREPLY[@]}"' % (
                script, " ".join("'%s'" % w for w in words), len(words) - 1)
            r = subprocess.run(["bash", "-c", line], capture_output=True, timeout=RUN_SECONDS,
                               env=self.env(PATH=bin_dir + os.pathsep + os.environ["PATH"]))
            self.assertEqual(b"", r.stderr)
            return [w for w in r.stdout.decode().split("\n") if w]

        def unquoted(replies):
            r = subprocess.run(["bash", "-c", 'eval "words=(%s)"; printf "%%s\\n" "${words[@]}"'
                                % " ".join(replies)], capture_output=True, check=True)
            return r.stdout.decode().splitlines()

        self.assertEqual(["draft"], complete("chatdraft", "dr"))
        self.assertEqual(["가족"], complete("chatdraft", "draft", "x", "-t", "가"))
        self.assertEqual(5, len(complete("chatdraft", "draft", "x", "--tab", "")))
        self.assertIn("--send", complete("chatdraft", "draft", "x", "--se"))
        self.assertEqual(self.TITLES, sorted(unquoted(complete("chatdraft", "draft", ""))))
        self.assertEqual(["우리 가족"], unquoted(complete("chatdraft", "--json", "draft", "우리")))
        self.assertEqual([], complete("chatdraft", "draft", "Team Alpha", ""))


class Drafting(CommandCase):
    SCENARIO = "\n".join([
        'room "Drafts" draft="old"',
        'room "Sending"',
        'room "Stuck" send=stuck',
        'room "Twice"',
        'room "Quiet"',
        'known "Project Beta"',
        'result_list hidden',
        'tab "업무" "Project Beta"',
    ])

    def test_draft_exists_then_append_force_clear(self):
        room = self.s.room("Drafts")
        code, out, _ = self.run_command("draft", "Drafts", "new")
        self.assertEqual(EXIT_REFUSED, code)
        self.assertEqual(['DRAFT_EXISTS: "Drafts"', '  draft: "old"'], out.splitlines()[:2])
        self.assertIn("--append", out.splitlines()[2])
        self.assertEqual("old", self.box("Drafts"))

        code, out, _ = self.run_command("draft", "Drafts", "new", "--append", "--json")
        self.assertEqual(EXIT_DONE, code)
        joined = crlf("old\nnew")
        self.assertEqual(success_doc("draft_written", "Drafts", 95, room.hwnd, room.input, "old",
                                     joined, joined).decode(), out)
        code, out, _ = self.run_command("draft", "Drafts", "--force", "--", "-- replaced")
        self.assertEqual((EXIT_DONE, ['draft_written: "Drafts" (score 95)', '  before: "old\\nnew"',
                                      '  written: "-- replaced"']), (code, out.splitlines()))
        self.assertEqual("-- replaced", self.box("Drafts"))
        code, out, _ = self.run_command("draft", "Drafts", "--clear")
        self.assertEqual((EXIT_DONE, ['cleared: "Drafts" (score 95)', '  before: "-- replaced"']),
                         (code, out.splitlines()))
        self.assertEqual("", self.box("Drafts"))

    def test_send_and_send_unconfirmed(self):
        code, out, _ = self.run_command("draft", "Sending", "-", "--send", stdin="케이크 🎂\n".encode())
        self.assertEqual((EXIT_DONE, 'sent: "Sending" (score 95)'), (code, out.splitlines()[0]))
        self.s.wait_for(lambda e: e.name == "send" and e["room"] == "Sending"
                        and e["text"] == crlf("케이크 🎂\n"))
        code, out, _ = self.run_command("draft", "Stuck", "hi", "--send")
        self.assertEqual(EXIT_MAYBE_SENT, code)
        self.assertEqual(['send_unconfirmed: "Stuck" (score 95)', '  written: "hi"',
                          '  remaining: "hi"'], out.splitlines()[:3])

    def test_tab_opens_the_room_and_says_so(self):
        mark = self.s.mark()
        code, out, _ = self.run_command("draft", "Project Beta", "hello", "-t", "업무")
        self.assertEqual(EXIT_DONE, code, out)
        self.assertEqual(['draft_written: "Project Beta" (score 95)',
                          "  opened: the room was not open; the client opened it and may have "
                          "taken the focus", '  written: "hello"'], out.splitlines())
        self.s.wait_for(lambda e: e.name == "opened" and e["how"] == "row", since=mark)

    def test_misuse_exits_2_and_touches_nothing(self):
        rows = [
            (["draft", "Quiet", "hi", "--sned"], b"", "unknown option '--sned'"),
            (["probe", "--send"], b"", "--send is not an option of probe"),
            (["draft", "Quiet", b"\xff\xfe".decode("utf-8", "surrogateescape")], b"",
             "MESSAGE is not valid UTF-8"),
            (["draft", "Quiet", "-"], b"a\0b", "MESSAGE holds a NUL byte"),
            (["draft", "Quiet", "-t", "Work"], b"", "no chat-list tab 'Work'"),
            (["draft", "Quiet", "hi", "--prefix", "/nonexistent"], b"", "no Wine prefix at '/nonexistent'"),
            (["draft", "Quiet", "hi", "--exe", "/nonexistent.exe"], b"", "no chatdraft.exe at"),
        ]
        mark = self.s.mark()
        for args, stdin, message in rows:
            with self.subTest(args=args):
                code, out, err = self.run_command(*args, stdin=stdin)
                self.assertEqual((EXIT_MISUSE, ""), (code, out))
                self.assertTrue(err.startswith("chatdraft: ") and message in err, err)
        self.assertEqual([], [e.line for e in self.s.since(mark) if e.name == "msg"])

    def test_two_sends_to_one_room_take_turns(self):
        mark = self.s.mark()
        runs = [self.start("draft", "Twice", text, "--send") for text in ("first one", "second one")]
        for run in runs:
            out, err = run.communicate(timeout=RUN_SECONDS)
            self.assertEqual((EXIT_DONE, b""), (run.returncode, err))
            self.assertTrue(out.startswith(b'sent: "Twice"'), out)
        twice = self.s.room("Twice").input
        order = [e.get("text") for e in self.s.since(mark)
                 if (e.name == "msg" and e["name"] == "EM_REPLACESEL" and e["hwnd"] == twice)
                 or (e.name == "send" and e["room"] == "Twice")]
        self.assertIn(order, (["first one"] * 2 + ["second one"] * 2,
                              ["second one"] * 2 + ["first one"] * 2))
        self.assertEqual([], os.listdir(self.tmp))


class HungRoom(CommandCase):
    SCENARIO = 'room "Slow" hang=input:0'

    def chatdraft_exes_in_prefix(self):
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    args = f.read().split(b"\0")
                with open("/proc/%s/environ" % pid, "rb") as f:
                    env = f.read().split(b"\0")
            except OSError:
                continue
            if args[0].lower().endswith(b"chatdraft.exe") and \
                    ("WINEPREFIX=" + self.prefix).encode() in env:
                found.append(pid)
        return found

    def test_time_out_kills_the_exe_and_exits_4(self):
        started = time.monotonic()
        code, out, err = self.run_command("draft", "Slow", "hi", "--timeout", "1")
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual((EXIT_UNKNOWN, ""), (code, out))
        self.assertIn("no result within 1 s", err)
        self.assertEqual([], self.chatdraft_exes_in_prefix())


class RunningClient(CommandCase):
    """The prefix found from a client process: no --prefix, no WINEPREFIX, and
    a HOME without a ~/.wine."""

    SCENARIO = 'room "Found by name"'

    @classmethod
    def setUpClass(cls):
        cls.exe_dir = tempfile.mkdtemp(prefix="chatdraft-client-")
        cls.addClassCleanup(shutil.rmtree, cls.exe_dir, True)
        client = os.path.join(cls.exe_dir, "KakaoTalk.exe")
        shutil.copy(standin_exe(), client)
        cls.prefix = prefix_from_env()
        cls.root = unpacked_package()
        cls.addClassCleanup(shutil.rmtree, cls.root, True)
        cls.command = os.path.join(cls.root, "usr", "bin", "chatdraft")
        cls.s = Standin(cls.SCENARIO, prefix=cls.prefix, exe=client)
        cls.s.start()
        cls.addClassCleanup(cls.s.stop)

    def test_prefix_of_the_running_client(self):
        code, out, err = self.run_command("probe", "--titles", WINEPREFIX=None, HOME=self.tmp)
        self.assertEqual((EXIT_DONE, ""), (code, err))
        self.assertIn("Found by name", out.splitlines())


if __name__ == "__main__":
    unittest.main()
