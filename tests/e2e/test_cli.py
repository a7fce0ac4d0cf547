"""The chatdraft command as the package installs it: the .deb of
scripts/package.sh unpacked with dpkg-deb -x (no root needed), run as a person
or a program types it, against the stand-in client.

Every run gets a TMPDIR of its own, other than the stand-in's, and must leave
it empty: no run folder, and no second wineserver folder (which would mean the
exe ran beside the client's wineserver and could not see its windows).

Run with CHATDRAFT_WINEPREFIX, CHATDRAFT_WIN_BUILD and CHATDRAFT_PACKAGE_DIR set.
"""

import fcntl
import glob
import gzip
import os
import shutil
import signal
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


def processes():
    """(id, arguments, environment) of every process we may read."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f, open("/proc/%s/environ" % pid, "rb") as g:
                yield pid, f.read().split(b"\0"), g.read().split(b"\0")
        except OSError:
            continue


def chatdraft_exes(prefix):
    """Ids of the chatdraft.exe processes running in the prefix."""
    mine = ("WINEPREFIX=" + prefix).encode()
    return [pid for pid, args, env in processes()
            if args[0].lower().endswith(b"chatdraft.exe") and mine in env]


def wait_until(condition, what, seconds=RUN_SECONDS):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("still not so after %d s: %s" % (seconds, what))
        time.sleep(0.02)


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

    def start(self, *args, preexec_fn=None, **extra):
        return subprocess.Popen([self.command, *args], env=self.env(**extra), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec_fn)

    def run_command(self, *args, stdin=b"", cwd=None, stdout=subprocess.PIPE, **extra):
        """(exit code, stdout text, stderr text); the run's TMPDIR must be left empty."""
        r = subprocess.run([self.command, *args], input=stdin, stdout=stdout, stderr=subprocess.PIPE,
                           env=self.env(**extra), timeout=RUN_SECONDS, cwd=cwd)
        self.assertEqual([], os.listdir(self.tmp), "left in TMPDIR by %r" % (args,))
        return r.returncode, (r.stdout or b"").decode(), r.stderr.decode()

    def complete(self, *words, cwd=None):
        """COMPREPLY of the package's completion, as bash calls it: the words so
        far, the index of the one completed."""
        script = os.path.join(self.root, "usr", "share", "bash-completion", "completions", "chatdraft")
        line = 'source %s; COMP_WORDS=(%s); COMP_CWORD=%d; _chatdraft; printf "%%s\\n" "${COMPREPLY[@]}"' % (
            script, " ".join("'%s'" % w for w in words), len(words) - 1)
        r = subprocess.run(["bash", "-c", line], capture_output=True, timeout=RUN_SECONDS, cwd=cwd,
                           env=self.env(PATH=os.path.dirname(self.command) + os.pathsep + os.environ["PATH"]))
        self.assertEqual(b"", r.stderr)
        return [w for w in r.stdout.decode().split("\n") if w]

    @staticmethod
    def unquoted(replies):
        r = subprocess.run(["bash", "-c", 'for r; do eval "w=($r)"; printf "%s\\n" "${w[@]}"; done', "_",
                            *replies], capture_output=True, check=True)
        return r.stdout.decode().splitlines()

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
        complete, unquoted = self.complete, self.unquoted
        self.assertEqual(["draft"], complete("chatdraft", "dr"))
        self.assertEqual(["가족"], complete("chatdraft", "draft", "x", "-t", "가"))
        self.assertEqual(5, len(complete("chatdraft", "draft", "x", "--tab", "")))
        self.assertIn("--send", complete("chatdraft", "draft", "x", "--se"))
        self.assertEqual(self.TITLES, sorted(unquoted(complete("chatdraft", "draft", ""))))
        self.assertEqual(["우리 가족"], unquoted(complete("chatdraft", "--json", "draft", "우리")))
        self.assertEqual([], complete("chatdraft", "draft", "Team Alpha", ""))
        # --opt=value, as --help shows it: bash hands over "--tab", "=", "업무".
        self.assertEqual(["가족"], complete("chatdraft", "draft", "x", "--tab", "=", "가"))
        self.assertEqual(5, len(complete("chatdraft", "draft", "--tab", "=", "")))
        self.assertEqual(["Room: one"], unquoted(complete("chatdraft", "draft", "--tab", "=", "업무", "Ro")))

    def test_relative_tmpdir_and_the_man_page(self):
        parent, name = os.path.split(self.tmp)
        code, out, err = self.run_command("probe", "--titles", cwd=parent, TMPDIR=name)
        self.assertEqual((EXIT_DONE, "", self.TITLES), (code, err, sorted(out.splitlines())))
        with gzip.open(os.path.join(self.root, "usr", "share", "man", "man1", "chatdraft.1.gz")) as f:
            man = f.read().decode()
        self.assertIn("안읽음", man)
        self.assertNotIn("??", man)


class Drafting(CommandCase):
    SCENARIO = "\n".join([
        'room "Drafts" draft="old"',
        'room "Sending"',
        'room "Stuck" send=stuck',
        'room "Twice"',
        'room "Quiet"',
        'room "Team Alpha" draft="half-written reply to my boss"',
        'room "김민지"',
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
        self.assertTrue(out.splitlines()[3].startswith("         The room's input box holds a draft"), out)
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

    def test_every_draft_is_exact_unless_allow_prefix(self):
        rows = [
            (["draft", "Alpha", "--clear"], EXIT_REFUSED, "Team Alpha", "half-written reply to my boss"),
            (["draft", "김민", "hi"], EXIT_REFUSED, "김민지", ""),
            (["draft", "김민", "hi", "--allow-prefix"], EXIT_DONE, "김민지", "hi"),
        ]
        for args, expected, room, box in rows:
            with self.subTest(args=args):
                code, out, err = self.run_command(*args)
                self.assertEqual((expected, ""), (code, err), out)
                self.assertEqual(box, self.box(room))

    def test_misuse_exits_2_and_touches_nothing(self):
        elsewhere = tempfile.mkdtemp(prefix="chatdraft-elsewhere-")
        self.addCleanup(shutil.rmtree, elsewhere, True)
        bare = os.path.join(elsewhere, "bare")      # a folder that only looks like a prefix
        os.mkdir(bare)
        open(os.path.join(bare, "system.reg"), "w").close()
        lock, planted = os.path.join(self.prefix, "chatdraft.lock"), os.path.join(elsewhere, "planted")
        if os.path.lexists(lock):
            os.unlink(lock)
        os.symlink(planted, lock)
        self.addCleanup(os.unlink, lock)
        rows = [
            (["draft", "Quiet", "hi", "--sned"], b"", "unknown option '--sned'"),
            (["probe", "--send"], b"", "--send is not an option of probe"),
            (["draft", "Quiet", b"\xff\xfe".decode("utf-8", "surrogateescape")], b"",
             "MESSAGE is not valid UTF-8"),
            (["draft", "Quiet", "-"], b"a\0b", "MESSAGE holds a NUL byte"),
            (["draft", "Quiet", "-t", "Work"], b"", "no chat-list tab 'Work'"),
            (["draft", "Quiet", "hi", "--prefix", "/nonexistent"], b"", "no Wine prefix at '/nonexistent'"),
            (["draft", "Quiet", "hi", "--exe", "/nonexistent.exe"], b"", "no chatdraft.exe at"),
            # Options that would end in a status nobody asked for.
            (["draft", "Quiet", "--send"], b"", "--send needs a MESSAGE"),
            (["draft", "Quiet", "-", "--send"], b"", "--send needs a MESSAGE"),
            (["draft", "Quiet", "--clear", "--send"], b"", "--send and --clear exclude each other"),
            (["draft", "Quiet", "--force"], b"", "--force needs a MESSAGE"),
            (["draft", "Quiet", "", "--append"], b"", "--append needs a MESSAGE"),
            (["draft", "", "hi"], b"", "ROOM is empty"),
            (["draft", "Quiet", "-5 °C"], b"", "unknown option in '-5 °C': put '--' before"),
            (["draft", "Quiet", "-\x1b[2J"], b"", "unknown option in '-\\u001b[2J'"),
            (["draft", "Quiet", "-"], b"x" * ((1 << 20) + 1), "longer than 1048576 bytes"),
            (["doctor", "--dump", ""], b"", "--dump needs a FILE name"),
            # Set-up failures, before Wine starts.
            (["probe", "--prefix", bare], b"", "no client is running in " + bare),
            (["draft", "Quiet", "hi"], b"", "cannot open the lock file " + lock),
            (["probe", "WINEARCH=win32"], b"", "WINEARCH=win32 in the environment"),
        ]
        if os.geteuid() == 0:
            foreign = os.path.join(elsewhere, "foreign")
            shutil.copytree(bare, foreign)
            os.chown(foreign, 65534, 65534)
            rows.append((["probe", "--prefix", foreign], b"", "belongs to another user"))
        mark = self.s.mark()
        for args, stdin, message in rows:
            with self.subTest(args=args[:4]):
                extra = dict(a.split("=", 1) for a in args if a.startswith("WINEARCH="))
                args = [a for a in args if not a.startswith("WINEARCH=")]
                code, out, err = self.run_command(*args, stdin=stdin, **extra)
                self.assertEqual((EXIT_MISUSE, ""), (code, out))
                self.assertTrue(err.startswith("chatdraft: ") and message in err, err)
        self.assertEqual([], [e.line for e in self.s.since(mark) if e.name == "msg"])
        self.assertEqual(["system.reg"], os.listdir(bare))
        self.assertFalse(os.path.lexists(planted))

    def test_output_that_cannot_be_written_is_not_success(self):
        rows = [(["probe", "--json"], EXIT_MISUSE), (["draft", "Sending", "to a full disk", "--send"], EXIT_UNKNOWN)]
        for args, expected in rows:
            with self.subTest(args=args), open("/dev/full", "wb") as full:
                mark = self.s.mark()
                code, _, err = self.run_command(*args, stdout=full)
                self.assertEqual(expected, code, err)
                self.assertIn("chatdraft: cannot write to standard output: No space left on device", err)
        self.s.wait_for(lambda e: e.name == "send" and e["text"] == "to a full disk", since=mark)

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

    def test_time_out_kills_the_exe_and_exits_4(self):
        # The room never answers: only the time-out ends the run with exit 4.
        code, out, err = self.run_command("draft", "Slow", "hi", "--timeout", "1")
        self.assertEqual((EXIT_UNKNOWN, ""), (code, out))
        self.assertIn("no result within 1 s", err)
        self.assertEqual([], chatdraft_exes(self.prefix))


class SlowRoom(CommandCase):
    """A room that answers every message 300 ms late: a send lasts long
    enough for the caller to go away, or be signalled, in the middle."""

    SCENARIO = 'room "Slow" slow=300\nroom "Quick"'

    def start_send(self, text, preexec_fn=None):
        """The command sending text to Slow, once the exe talks to the room."""
        mark = self.s.mark()
        run = self.start("draft", "Slow", text, "--send", preexec_fn=preexec_fn)
        box = self.s.room("Slow").input
        self.s.wait_for(lambda e: e.name == "msg" and e["hwnd"] == box, timeout=RUN_SECONDS, since=mark)
        return run, mark

    def test_a_killed_command_takes_the_exe_along(self):
        run, mark = self.start_send("pay 100 EUR")
        run.kill()
        run.communicate(timeout=RUN_SECONDS)
        wait_until(lambda: not chatdraft_exes(self.prefix), "chatdraft.exe outlived its command")
        wait_until(lambda: not os.listdir(self.tmp), "the run's folder was left")
        self.assertEqual([], [e.line for e in self.s.since(mark) if e.name == "send" or
                              (e.name == "msg" and e["name"] in ("WM_KEYDOWN", "WM_CHAR"))])
        # The lock went with the exe: the next draft runs at once.
        code, out, err = self.run_command("draft", "Quick", "next", "--send")
        self.assertEqual((EXIT_DONE, ""), (code, err), out)

    def test_signals_the_caller_ignores_stay_ignored(self):
        for sig in (signal.SIGHUP, signal.SIGINT):
            with self.subTest(sig.name):
                run, _ = self.start_send(sig.name, lambda: signal.signal(sig, signal.SIG_IGN))
                run.send_signal(sig)
                out, err = run.communicate(timeout=RUN_SECONDS)
                self.assertEqual((EXIT_DONE, b""), (run.returncode, err))
                self.assertTrue(out.startswith(b'sent: "Slow"'), out)

    def test_a_queued_draft_gets_its_whole_time_out_to_run(self):
        """The lock held by another draft: released after most of the time-out,
        the draft still runs whole; held throughout, nothing runs."""
        lock = os.path.join(self.prefix, "chatdraft.lock")
        # A slow send takes a few seconds, more on a busy machine: 20 s is ample.
        rows = [("released late", 20, 19, EXIT_DONE), ("held throughout", 1, None, EXIT_MISUSE)]
        for name, timeout, hold, expected in rows:
            with self.subTest(name):
                mark = self.s.mark()
                fd = os.open(lock, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o600)
                try:
                    fcntl.flock(fd, fcntl.LOCK_EX)
                    run = self.start("draft", "Slow", name, "--send", "--timeout", str(timeout))
                    if hold:
                        time.sleep(hold)
                        fcntl.flock(fd, fcntl.LOCK_UN)
                    out, err = run.communicate(timeout=RUN_SECONDS)
                finally:
                    os.close(fd)
                self.assertEqual(expected, run.returncode, err)
                sent = [e for e in self.s.since(mark) if e.name == "send"]
                self.assertEqual(expected == EXIT_DONE, bool(sent), sent)


class HostileTitles(CommandCase):
    """Titles that would drive a terminal, a title that is a glob, and one
    holding a line break."""

    SCENARIO = "\n".join([
        'room "Bell\\u0007 Esc\\u001b[31m CSI\\u009b2J\\nNext" draft="x\\u009by\\u007f"',
        'room "*"',
        'room "Two\\nLines"',
    ])
    HOSTILE = "Bell\u0007 Esc\u001b[31m CSI\u009b2J\nNext"
    CONTROLS = [chr(c) for c in range(0x20) if c != 0x0A] + [chr(0x7F)] + [chr(c) for c in range(0x80, 0xA0)]

    def test_no_control_reaches_the_terminal(self):
        outputs = {
            "probe": self.run_command("probe"),
            "titles": self.run_command("probe", "--titles"),
            "draft": self.run_command("draft", self.HOSTILE, "hello"),
            "doctor": self.run_command("doctor"),
        }
        for name, (code, out, err) in outputs.items():
            with self.subTest(name):
                self.assertEqual([], [c for c in self.CONTROLS if c in out + err], out)
        self.assertIn('  "Bell\\u0007 Esc\\u001b[31m CSI\\u009b2J\\nNext"  draft "x\\u009by\\u007f"',
                      outputs["probe"][1].splitlines())
        self.assertEqual(sorted(["*", "Two Lines", "Bell\\u0007 Esc\\u001b[31m CSI\\u009b2J Next"]),
                         sorted(outputs["titles"][1].splitlines()))
        self.assertEqual((EXIT_REFUSED, 'DRAFT_EXISTS: "Bell\\u0007 Esc\\u001b[31m CSI\\u009b2J\\nNext"'),
                         (outputs["draft"][0], outputs["draft"][1].splitlines()[0]))

    def test_completion_takes_titles_as_data(self):
        folder = tempfile.mkdtemp(prefix="chatdraft-cwd-")
        self.addCleanup(shutil.rmtree, folder, True)
        open(os.path.join(folder, "a-file-here"), "w").close()
        replies = self.unquoted(self.complete("chatdraft", "draft", "", cwd=folder))
        self.assertEqual(sorted(["*", "Two Lines", "Bell\\u0007 Esc\\u001b[31m CSI\\u009b2J Next"]),
                         sorted(replies))
        self.assertEqual(["Two Lines"], self.unquoted(self.complete("chatdraft", "draft", "Tw", cwd=folder)))


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
        if code == EXIT_MISUSE and "more than one Wine prefix" in err and self.other_clients():
            self.skipTest("another test's KakaoTalk.exe runs on this machine: %s" % err.strip())
        self.assertEqual((EXIT_DONE, ""), (code, err))
        self.assertIn("Found by name", out.splitlines())

    def other_clients(self):
        """Processes named KakaoTalk.exe outside this class's prefix."""
        mine = ("WINEPREFIX=" + self.prefix).encode()
        return [pid for pid, args, env in processes()
                if args[0].lower().endswith(b"kakaotalk.exe") and mine not in env]

    def test_two_running_clients_are_the_callers_choice(self):
        other = tempfile.mkdtemp(prefix="chatdraft-other-prefix-")
        self.addCleanup(shutil.rmtree, other, True)
        open(os.path.join(other, "system.reg"), "w").close()
        # Another client as discovery sees one: a process named KakaoTalk.exe there.
        fake = subprocess.Popen(["KakaoTalk.exe", "600"], executable="/bin/sleep", env={"WINEPREFIX": other})
        self.addCleanup(fake.wait)
        self.addCleanup(fake.kill)
        code, out, err = self.run_command("draft", "Found by name", "hi", "--send", WINEPREFIX=None, HOME=self.tmp)
        self.assertEqual((EXIT_MISUSE, ""), (code, out))
        for named in (os.path.realpath(self.prefix), os.path.realpath(other), "--prefix"):
            self.assertIn(named, err)
        code, out, err = self.run_command("probe", "--titles", "--prefix", self.prefix, WINEPREFIX=None)
        self.assertEqual((EXIT_DONE, ""), (code, err))
        self.assertIn("Found by name", out.splitlines())


if __name__ == "__main__":
    unittest.main()
