"""chatdraft.exe under Wine with no chat client at all: the command forms,
exit codes, standard streams and the result file, byte for byte."""

import os
import shutil
import tempfile
import unittest

from harness import chatdraft_exe, prefix_from_env, run_exe, win_path
from harness.requests import MAIN_WINDOW_NOT_FOUND, NEEDS_OPEN_ROOM_SHORT

RUN_SECONDS = 60

NO_CLIENT_PROBE = (b'{"status":"ok","main_hwnd":0,"kakao_pid":0,'
                   b'"login_state":"logged_out","open_rooms":[]}\n')


def run_chatdraft(args, cwd):
    r = run_exe(chatdraft_exe(), args, timeout=RUN_SECONDS, prefix=prefix_from_env(), cwd=cwd)
    if r.timed_out:
        raise AssertionError("chatdraft.exe %r did not end in %d s" % (args, RUN_SECONDS))
    return r


class FrontSmoke(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        prefix_from_env()
        assert os.path.isfile(chatdraft_exe()), "no chatdraft.exe at %s" % chatdraft_exe()
        # argv[0] as Wine hands it to the program is the DOS path it was
        # started as; standard error is in text mode, so LF comes out as CR LF.
        cls.usage = ("Usage: %s --probe [out_json] | <req_json_path> <out_json_path>\r\n"
                     % win_path(chatdraft_exe())).encode()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="chatdraft_smoke_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def files(self):
        return sorted(os.listdir(self.dir))

    def test_misuse_prints_usage_and_exits_2(self):
        for args in ([], ["req.json"], ["--help"]):
            with self.subTest(args=args):
                r = run_chatdraft(args, self.dir)
                self.assertEqual(2, r.returncode)
                self.assertEqual(self.usage, r.stderr)
                self.assertEqual(b"", r.stdout)
        self.assertEqual([], self.files())

    def test_probe_on_standard_output(self):
        r = run_chatdraft(["--probe"], self.dir)
        self.assertEqual(0, r.returncode)
        self.assertEqual(NO_CLIENT_PROBE.replace(b"\n", b"\r\n"), r.stdout)
        self.assertEqual(b"", r.stderr)
        self.assertEqual([], self.files())

    def test_probe_into_file_replaces_old_one(self):
        self.write("probe.json", b"x" * 500)
        absolute = win_path(self.path("probe.json"))
        for args in (["--probe", "probe.json", "extra"], ["--probe", absolute]):
            with self.subTest(args=args):
                r = run_chatdraft(args, self.dir)
                self.assertEqual(0, r.returncode)
                self.assertEqual(b"", r.stdout + r.stderr)
                self.assertEqual(NO_CLIENT_PROBE, self.read("probe.json"))
                self.assertEqual(["probe.json"], self.files())

    def test_request_ends_in_one_document(self):
        cases = [
            ("no main window", b'{"room":"Team A","message":"hi","send":true}',
             MAIN_WINDOW_NOT_FOUND),
            ("empty request", b"", MAIN_WINDOW_NOT_FOUND),
            ("strict_open_only", b'{"room":"A","ui_mode":"strict_open_only"}',
             NEEDS_OPEN_ROOM_SHORT),
        ]
        for name, request, document in cases:
            with self.subTest(name):
                self.write("req.json", request)
                self.write("out.json", b"previous result")
                self.write("out.json.tmp", b"y" * 4000)
                r = run_chatdraft(["req.json", "out.json", "ignored"], self.dir)
                self.assertEqual(0, r.returncode)
                self.assertEqual(b"", r.stdout + r.stderr)
                self.assertEqual(document, self.read("out.json"))
                self.assertEqual(["out.json", "req.json"], self.files())

    def test_unreadable_request_or_output_leaves_no_file(self):
        self.write("req.json", b'{"room":"A"}')
        for args in (["missing.json", "out.json"], ["--PROBE", "out.json"],
                     ["req.json", "nodir\\out.json"], ["--probe", "nodir\\out.json"]):
            with self.subTest(args=args):
                r = run_chatdraft(args, self.dir)
                self.assertEqual(2, r.returncode)
                self.assertEqual(b"", r.stdout + r.stderr)
                self.assertEqual(["req.json"], self.files())

    def test_output_path_that_cannot_be_replaced_exits_2(self):
        """A directory under the output path: no success without a document."""
        self.write("req.json", b'{"room":"A","ui_mode":"strict_open_only"}')
        os.mkdir(self.path("out.json"))
        r = run_chatdraft(["req.json", "out.json"], self.dir)
        self.assertEqual(2, r.returncode)
        self.assertEqual(b"", r.stdout + r.stderr)
        self.assertTrue(os.path.isdir(self.path("out.json")))
        self.assertEqual(NEEDS_OPEN_ROOM_SHORT, self.read("out.json.tmp"))


if __name__ == "__main__":
    unittest.main()
