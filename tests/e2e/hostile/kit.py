"""Runs of chatdraft.exe under hostile conditions, and the checks every such
run must pass: it ends in time, it does not crash, and what it leaves under
the output path is one complete result document or nothing new.

wait_chatdraft() polls /proc/<pid>/status while it waits, so the peak resident
size (VmHWM) of the Windows program comes back with the exit code: Wine runs
it in the process we start. The rusage of that process is no help, since it
keeps the peak of the loader image that ran before it. Standard output and
error go to files, so a large probe never blocks on a full pipe.
"""

import json
import os
import resource
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass

import unittest

from harness import Standin, chatdraft_exe, prefix_from_env, win_path, wine_env, wine_loader
from harness.standin import READY_TIMEOUT

SUCCESS_STATUSES = ("cleared", "draft_written", "sent", "send_unconfirmed")
ERROR_CODES = ("KAKAO_LOCKED", "NEEDS_OPEN_ROOM", "MAIN_WINDOW_NOT_FOUND", "AMBIGUOUS_ROOM",
               "DRAFT_EXISTS", "WRITE_MISMATCH")
SUCCESS_MEMBERS = ["status", "room_title", "match_score", "window_hwnd", "input_hwnd",
                   "opened_new_window", "focus_touched", "previous_input_text", "written_text",
                   "remaining_input_text"]
ERROR_MEMBERS = {
    "KAKAO_LOCKED": ["status", "error_code", "error"],
    "NEEDS_OPEN_ROOM": ["status", "error_code", "error"],
    "MAIN_WINDOW_NOT_FOUND": ["status", "error_code", "error"],
    "AMBIGUOUS_ROOM": ["status", "error_code", "top_score", "error", "candidates"],
    "DRAFT_EXISTS": ["status", "error_code", "room_title", "existing_draft", "error"],
    "WRITE_MISMATCH": ["status", "error_code", "room_title", "written_text", "error"],
}
PROBE_MEMBERS = ["status", "main_hwnd", "kakao_pid", "login_state", "open_rooms"]
PROBE_ROOM_MEMBERS = ["hwnd", "input_hwnd", "title", "draft"]
# Under Wine with winedbg disabled a crash ends the process with the low byte
# of the exception code (5 for an access violation); chatdraft itself only
# ever exits with 0 or 2.
CHATDRAFT_EXIT_CODES = (0, 2)


@dataclass
class Run:
    returncode: int
    seconds: float
    timed_out: bool
    peak_rss_kb: int  # the last VmHWM seen before the process ended
    stdout: bytes
    stderr: bytes


def _file_size_limit(max_bytes):
    """A child set-up that makes writes past max_bytes fail, as on a full disk."""
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (max_bytes, max_bytes))
    return limit


def start_chatdraft(args, cwd, prefix=None, max_file_bytes=None):
    """Start chatdraft.exe in `cwd`; the caller owns the process (and its id).
    Its standard streams go to files of their own in `cwd`, named ".std*".
    With max_file_bytes, no file it writes can grow past that size."""
    prefix = prefix or prefix_from_env()
    streams = []
    for name in ("out", "err"):
        fd, path = tempfile.mkstemp(prefix=".std%s-" % name, dir=cwd)
        streams.append((os.fdopen(fd, "wb"), path))
    proc = subprocess.Popen([wine_loader(), chatdraft_exe(), *[str(a) for a in args]],
                            env=wine_env(prefix), cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=streams[0][0], stderr=streams[1][0],
                            preexec_fn=_file_size_limit(max_file_bytes) if max_file_bytes else None)
    for f, _ in streams:
        f.close()
    proc.stream_paths = [path for _, path in streams]
    proc.started = time.monotonic()
    return proc


def _read_and_remove(path):
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    return data


def _peak_rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def wait_chatdraft(proc, timeout):
    """Wait for a started run; kill it (by its id) when it outlasts the timeout."""
    deadline = proc.started + timeout
    timed_out = False
    peak = 0
    while True:
        peak = max(peak, _peak_rss_kb(proc.pid))
        pid, status = os.waitpid(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            break
        if time.monotonic() > deadline and not timed_out:
            timed_out = True
            os.kill(proc.pid, signal.SIGKILL)
        time.sleep(0.005)
    seconds = time.monotonic() - proc.started
    proc.returncode = os.waitstatus_to_exitcode(status)
    out, err = (_read_and_remove(path) for path in proc.stream_paths)
    return Run(proc.returncode, seconds, timed_out, peak, out, err)


def run_chatdraft(args, cwd, timeout=60.0, prefix=None, max_file_bytes=None):
    return wait_chatdraft(start_chatdraft(args, cwd, prefix, max_file_bytes), timeout)


def kill_chatdraft(proc):
    """Kill a run we started, by its id, and reap it."""
    if proc.poll() is None:
        os.kill(proc.pid, signal.SIGKILL)
    proc.wait(timeout=30)
    for path in proc.stream_paths:
        os.remove(path)


class Workdir:
    """A private directory for request and result files."""

    def __init__(self, testcase):
        self.path = tempfile.mkdtemp(prefix="chatdraft_faults_")
        testcase.addCleanup(self._remove)

    def _remove(self):
        for name in os.listdir(self.path):
            full = os.path.join(self.path, name)
            if os.path.isdir(full):
                os.rmdir(full)
            else:
                os.remove(full)
        os.rmdir(self.path)

    def file(self, name):
        return os.path.join(self.path, name)

    def win(self, name):
        return win_path(self.file(name))

    def write(self, name, data):
        with open(self.file(name), "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        return self.file(name)

    def read(self, name):
        with open(self.file(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.exists(self.file(name))

    def names(self):
        return sorted(n for n in os.listdir(self.path) if not n.startswith(".std"))


class KitCase(unittest.TestCase):
    """A test with the run's prefix, a private work directory and stand-ins
    that stop when the test ends."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = prefix_from_env()

    def setUp(self):
        self.work = Workdir(self)

    def start_standin(self, scenario, ready_timeout=READY_TIMEOUT):
        s = Standin(scenario, prefix=self.prefix, ready_timeout=ready_timeout)
        s.start()
        self.addCleanup(s.stop)
        return s


def parse_document(data):
    """The JSON object of one complete result document, or an AssertionError
    saying why the bytes are not one: one compact line ending in one LF."""
    if not data.endswith(b"\n"):
        raise AssertionError("document does not end in LF: %r" % data[-80:])
    body = data[:-1]
    if b"\n" in body or b"\r" in body:
        raise AssertionError("document has a line break inside: %r" % data[:200])
    try:
        doc = json.loads(body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        raise AssertionError("document is not JSON in UTF-8 (%s): %r" % (e, data[:200]))
    if not isinstance(doc, dict):
        raise AssertionError("document is not an object: %r" % data[:200])
    return doc


def check_result_document(testcase, data):
    """Parse a request-mode document and check its members; returns it."""
    doc = parse_document(data)
    status = doc.get("status")
    if status == "error":
        code = doc.get("error_code")
        testcase.assertIn(code, ERROR_CODES, doc)
        testcase.assertEqual(ERROR_MEMBERS[code], list(doc), doc)
        testcase.assertTrue(doc["error"], doc)
    else:
        testcase.assertIn(status, SUCCESS_STATUSES, doc)
        testcase.assertEqual(SUCCESS_MEMBERS, list(doc), doc)
        testcase.assertIs(doc["focus_touched"], False)
    return doc


def check_probe_document(testcase, data):
    doc = parse_document(data)
    testcase.assertEqual(PROBE_MEMBERS, list(doc), doc)
    testcase.assertEqual("ok", doc["status"])
    for room in doc["open_rooms"]:
        testcase.assertEqual(PROBE_ROOM_MEMBERS, list(room), room)
    return doc


def check_clean_exit(testcase, run, bound, what):
    """Ended on its own within `bound` seconds, with one of chatdraft's own exit codes."""
    testcase.assertFalse(run.timed_out, "%s did not end (killed after %.1f s)" % (what, run.seconds))
    testcase.assertIn(run.returncode, CHATDRAFT_EXIT_CODES,
                      "%s ended with exit code %d: a crash; its standard error: %r"
                      % (what, run.returncode, run.stderr[-2000:]))
    testcase.assertLess(run.seconds, bound, "%s took %.1f s" % (what, run.seconds))


def assert_no_focus_change(testcase, standin):
    testcase.assertEqual([], [e.line for e in standin.focus_events()],
                         "chatdraft activated or focused a window")


def sends(standin, since=None):
    """The texts the stand-in really sent, as (room, text)."""
    return [(e["room"], e["text"]) for e in standin.find(lambda e: e.name == "send", since)]


def crlf_to_lf(text):
    return text.replace("\r\n", "\n").replace("\r", "\n")
