"""chatdraft.exe under Wine with no chat client at all: the command forms,
exit codes, standard streams and the result file, byte for byte."""

import os
import shutil
import subprocess
import tempfile
import unittest

PREFIX = os.environ.get("CHATDRAFT_WINEPREFIX", "")
WIN_BUILD = os.environ.get("CHATDRAFT_WIN_BUILD", "")
EXE = os.path.abspath(os.path.join(WIN_BUILD, "chatdraft.exe")) if WIN_BUILD else ""

RUN_SECONDS = 60

# argv[0] as Wine hands it to the program: the DOS path it was started as.
DOS_EXE = "Z:" + EXE.replace("/", "\\")
# Standard output and error are in text mode: LF comes out as CR LF.
USAGE = ("Usage: %s --probe [out_json] | <req_json_path> <out_json_path>\r\n"
         % DOS_EXE).encode()

NO_CLIENT_PROBE = (b'{"status":"ok","main_hwnd":0,"kakao_pid":0,'
                   b'"login_state":"logged_out","open_rooms":[]}\n')
MAIN_WINDOW_NOT_FOUND = (
    '{"status":"error","error_code":"MAIN_WINDOW_NOT_FOUND","error":"카카오톡 메인 '
    '창(EVA_Window_Dblclk)을 찾을 수 없습니다."}\n').encode()
NEEDS_OPEN_ROOM_SHORT = (
    '{"status":"error","error_code":"NEEDS_OPEN_ROOM","error":"열려 있는 채팅방이 '
    '없습니다. 카카오톡에서 해당 방을 열어 두세요."}\n').encode()


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=PREFIX, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d")
    return env


class Run:
    def __init__(self, rc, out, err):
        self.rc, self.out, self.err = rc, out, err


def run_exe(args, cwd):
    """Runs chatdraft.exe in cwd; its output goes through files, not pipes,
    so that services the prefix may start cannot hold a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(["wine", EXE] + list(args), cwd=cwd, env=wine_env(),
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            rc = proc.wait(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise AssertionError("chatdraft.exe %r did not end in %d s" % (args, RUN_SECONDS))
        out.seek(0)
        err.seek(0)
        return Run(rc, out.read(), err.read())


@unittest.skipUnless(PREFIX, "needs CHATDRAFT_WINEPREFIX and CHATDRAFT_WIN_BUILD")
class FrontSmoke(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        assert os.path.isdir(PREFIX), "no Wine prefix at %s" % PREFIX
        assert os.path.isfile(EXE), "no chatdraft.exe at %s" % EXE

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
                r = run_exe(args, self.dir)
                self.assertEqual(2, r.rc)
                self.assertEqual(USAGE, r.err)
                self.assertEqual(b"", r.out)
        self.assertEqual([], self.files())

    def test_probe_on_standard_output(self):
        r = run_exe(["--probe"], self.dir)
        self.assertEqual(0, r.rc)
        self.assertEqual(NO_CLIENT_PROBE.replace(b"\n", b"\r\n"), r.out)
        self.assertEqual(b"", r.err)
        self.assertEqual([], self.files())

    def test_probe_into_file_replaces_old_one(self):
        self.write("probe.json", b"x" * 500)
        dos_path = "Z:" + self.path("probe.json").replace("/", "\\")
        for args in (["--probe", "probe.json", "extra"], ["--probe", dos_path]):
            with self.subTest(args=args):
                r = run_exe(args, self.dir)
                self.assertEqual(0, r.rc)
                self.assertEqual(b"", r.out + r.err)
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
                r = run_exe(["req.json", "out.json", "ignored"], self.dir)
                self.assertEqual(0, r.rc)
                self.assertEqual(b"", r.out + r.err)
                self.assertEqual(document, self.read("out.json"))
                self.assertEqual(["out.json", "req.json"], self.files())

    def test_unreadable_request_or_output_leaves_no_file(self):
        self.write("req.json", b'{"room":"A"}')
        for args in (["missing.json", "out.json"], ["--PROBE", "out.json"],
                     ["req.json", "nodir\\out.json"], ["--probe", "nodir\\out.json"]):
            with self.subTest(args=args):
                r = run_exe(args, self.dir)
                self.assertEqual(2, r.rc)
                self.assertEqual(b"", r.out + r.err)
                self.assertEqual(["req.json"], self.files())


if __name__ == "__main__":
    unittest.main()
