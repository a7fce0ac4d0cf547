"""Wine prefixes, environments and one-shot runs of Windows programs."""

import fcntl
import os
import shutil
import subprocess
import time
import unittest
from dataclasses import dataclass

DLL_OVERRIDES = "mscoree,mshtml=;winedbg.exe=d"
_DEFAULT_LOADERS = ("/usr/lib/wine/wine64",)
_PREFIX_BOOT_TIMEOUT = 180


def wine_loader():
    """The Wine loader for our 64-bit programs.

    CHATDRAFT_WINE wins; otherwise the 64-bit loader is used directly, because
    `wine` picks the 32-bit loader once wine32 is installed, and that loader
    cannot start a prefix that was made without it.
    """
    explicit = os.environ.get("CHATDRAFT_WINE")
    if explicit:
        return explicit
    found = shutil.which("wine64")
    if found:
        return found
    for path in _DEFAULT_LOADERS:
        if os.access(path, os.X_OK):
            return path
    return "wine"


def wineserver():
    return os.environ.get("CHATDRAFT_WINESERVER") or "wineserver"


def wine_env(prefix):
    """Environment for every Wine process of a test run in `prefix`."""
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.abspath(prefix)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = DLL_OVERRIDES
    return env


def _run_quiet(args, env, timeout):
    subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=timeout, check=True)


def ensure_prefix(path, headless=True):
    """Create a private prefix at `path` unless one is there already: headless
    (Wine's null graphics driver), or else with Wine's own choice, the X11
    driver on $DISPLAY."""
    path = os.path.abspath(path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(path, "system.reg")):
            env = wine_env(path)
            loader = wine_loader()
            _run_quiet([loader, "wineboot", "-i"], env, _PREFIX_BOOT_TIMEOUT)
            if headless:
                _run_quiet([loader, "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics",
                            "/d", "null", "/f"], env, 60)
            _run_quiet([wineserver(), "-w"], env, _PREFIX_BOOT_TIMEOUT)
    return path


def start_wineserver(prefix, preexec_fn=None):
    """A persistent wineserver for `prefix`, as our child: SIGINT to its id ends
    it and every Wine process of the prefix, as `wineserver -k` would."""
    return subprocess.Popen([wineserver(), "-f", "-p"], env=wine_env(prefix), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=preexec_fn)


def prefix_from_env():
    """The test run's prefix (CHATDRAFT_WINEPREFIX), created when missing."""
    prefix = os.environ.get("CHATDRAFT_WINEPREFIX")
    if not prefix:
        raise unittest.SkipTest("CHATDRAFT_WINEPREFIX is not set")
    return ensure_prefix(prefix)


def win_build_dir():
    """The Windows (MinGW) build directory (CHATDRAFT_WIN_BUILD)."""
    build = os.environ.get("CHATDRAFT_WIN_BUILD")
    if not build:
        raise unittest.SkipTest("CHATDRAFT_WIN_BUILD is not set")
    return os.path.abspath(build)


def chatdraft_exe():
    """chatdraft.exe, or chatdraft32.exe when the build directory is the 32-bit one."""
    build = win_build_dir()
    path = os.path.join(build, "chatdraft.exe")
    path32 = os.path.join(build, "chatdraft32.exe")
    return path32 if not os.path.isfile(path) and os.path.isfile(path32) else path


def standin_exe():
    return os.path.join(win_build_dir(), "standin", "standin.exe")


def poke_exe():
    return os.path.join(win_build_dir(), "standin", "tools", "poke.exe")


def win_path(path):
    """A Unix path as a Windows program sees it through drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


@dataclass
class RunResult:
    returncode: int
    stdout: bytes
    stderr: bytes
    seconds: float
    timed_out: bool


def _drain_after_kill(proc):
    # Wine services started by this process may hold the pipes open for a while.
    try:
        return proc.communicate(timeout=5)
    except subprocess.TimeoutExpired:
        for pipe in (proc.stdout, proc.stderr):
            pipe.close()
        proc.wait()
        return b"", b""


def run_exe(exe_path, args=(), timeout=30.0, prefix=None, cwd=None):
    """Run a Windows program under Wine and capture its output.

    On timeout the program (the process we started, by its id) is killed and
    the result says timed_out; its exit code is then the kill's.
    """
    prefix = prefix or prefix_from_env()
    started = time.monotonic()
    proc = subprocess.Popen([wine_loader(), exe_path, *[str(a) for a in args]], env=wine_env(prefix),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd)
    timed_out = False
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        timed_out = True
        proc.kill()
        out, err = _drain_after_kill(proc)
    return RunResult(proc.returncode, out, err, time.monotonic() - started, timed_out)
