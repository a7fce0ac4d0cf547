"""A headless X desktop with a window manager, and a person's window on it.

    desktop = Desktop("mutter").start()  # Xvfb on a free display, the window manager, xev as "person"
    desktop.focus_person()           # the person's window holds the focus
    desktop.active_window(), desktop.focus_outs(), desktop.key_presses(), desktop.window_name(wid)
    desktop.stop()

The window managers are the four Ubuntu's desktops run, as Debian ships
them; each runs under a D-Bus session of its own, in a process group of its
own that stop() ends by its id.

Every process is a child of the test process, ended by its id in stop(), and
asked by the kernel to end should the test process die first. start() raises
DesktopUnavailable, with the reason, when a tool is missing or Xvfb cannot
start.
"""

import ctypes
import os
import re
import select
import shutil
import random
import signal
import socket
import subprocess
import tempfile
import time

TOOLS = ("Xvfb", "xev", "xprop", "xdotool", "dbus-run-session")
# The window manager's command, with Debian's defaults rather than a user's own.
OPENBOX_CONFIG = "/etc/xdg/openbox/rc.xml"
WINDOW_MANAGERS = {
    "mutter": ["mutter", "--x11", "--replace", "--sm-disable"],
    "kwin": ["kwin_x11", "--replace"],
    "xfwm4": ["xfwm4", "--replace"],
    "openbox": ["openbox"] + (["--config-file", OPENBOX_CONFIG] if os.path.isfile(OPENBOX_CONFIG) else []),
}
PACKAGES = {"mutter": "mutter", "kwin": "kwin-x11", "xfwm4": "xfwm4", "openbox": "openbox"}
START_TIMEOUT = 15.0
DISPLAY_LOW, DISPLAY_HIGH = 200, 899
XVFB_TRIES = 5
WM_START_TIMEOUT = 60.0  # kwin's first start on a busy machine
WM_TRIES = 3
X_TOOL_TIMEOUT = 10.0
PR_SET_PDEATHSIG = 1

_libc = ctypes.CDLL(None, use_errno=True)


class DesktopUnavailable(Exception):
    pass


def die_with_parent(sig):
    """A preexec_fn: the child gets `sig` when the test process ends, so a
    killed test leaves no display, window manager or wineserver behind."""
    return lambda: _libc.prctl(PR_SET_PDEATHSIG, sig, 0, 0, 0)


def end_process(proc, sig=signal.SIGTERM, timeout=10.0):
    """End one child we started, by its id, and reap it."""
    if proc is None:
        return
    if proc.poll() is None:
        proc.send_signal(sig)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def unused_display():
    """A display number no X server of this machine uses. Xvfb's own choice
    (-displayfd alone) starts at 0, where two test runs starting at once can
    both land: one then serves on the other's abstract socket."""
    while True:
        number = random.randint(DISPLAY_LOW, DISPLAY_HIGH)
        if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            try:
                probe.connect("\0/tmp/.X11-unix/X%d" % number)
            except OSError:
                return number


def _wait_until(check, what, timeout=START_TIMEOUT, fail=True):
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            if not fail:
                return value
            raise DesktopUnavailable("%s within %.0f s" % (what, timeout))
        time.sleep(0.05)


class Desktop:
    def __init__(self, wm="openbox"):
        self.wm = wm
        self.dir = None
        self.display = None
        self.person = None
        self.procs = []
        self._xev_out = None

    # ------------------------------------------------------------ processes

    def start(self):
        missing = [t for t in TOOLS + (WINDOW_MANAGERS[self.wm][0],) if not shutil.which(t)]
        if missing:
            raise DesktopUnavailable("not installed: %s (scripts/install_deps.sh installs xvfb, %s, "
                                     "dbus-daemon, x11-utils and xdotool)"
                                     % (", ".join(missing), PACKAGES[self.wm]))
        self.dir = tempfile.mkdtemp(prefix="desktop-")
        try:
            self._start_xvfb()
            self._start_window_manager()
            self._start_person()
        except BaseException:
            self.stop()
            raise
        return self

    def _spawn(self, args, sig, group=False, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        proc = subprocess.Popen(args, env=self.env(), stdin=subprocess.DEVNULL,
                                preexec_fn=die_with_parent(sig), start_new_session=group, **kwargs)
        self.procs.append((proc, sig, group))
        return proc

    def _start_xvfb(self):
        for _ in range(XVFB_TRIES):
            if self._try_xvfb(unused_display()):
                return
        raise DesktopUnavailable("Xvfb did not start: %s" % self._xvfb_said())

    def _try_xvfb(self, number):
        """Xvfb on display `number`; False when it ended at once (taken meanwhile)."""
        # -displayfd: Xvfb writes the display's number once it serves.
        read_end, write_end = os.pipe()
        log = open(os.path.join(self.dir, "xvfb.log"), "wb")
        try:
            proc = self._spawn(["Xvfb", ":%d" % number, "-displayfd", str(write_end), "-screen", "0",
                                "1280x1024x24", "-nolisten", "tcp"], signal.SIGTERM, pass_fds=(write_end,),
                               stderr=log)
        finally:
            os.close(write_end)
            log.close()
        with os.fdopen(read_end, "rb") as reader:
            ready, _, _ = select.select([reader], [], [], START_TIMEOUT)
            said = reader.readline().strip() if ready else b""
        if said == str(number).encode() and proc.poll() is None:
            self.display = ":%d" % number
            return True
        self.procs.remove((proc, signal.SIGTERM, False))
        end_process(proc)
        return False

    def _xvfb_said(self):
        with open(os.path.join(self.dir, "xvfb.log"), "r", encoding="utf-8", errors="replace") as f:
            said = [line.strip() for line in f if line.strip(" (EE)\n")]
        return " / ".join(said[-2:]) or "no display number"

    def _start_window_manager(self):
        # The session bus and the window manager in a group of their own, ended
        # together by its id. A window manager that could not open the display
        # at once (seen now and then on a busy machine) is started again.
        for _ in range(WM_TRIES):
            log = open(os.path.join(self.dir, "wm.log"), "wb")
            try:
                proc = self._spawn(["dbus-run-session", "--"] + WINDOW_MANAGERS[self.wm], signal.SIGTERM,
                                   group=True, stdout=log, stderr=log)
            finally:
                log.close()
            up = _wait_until(lambda: proc.poll() is not None or "window id #" in self.x(
                "xprop", "-root", "_NET_SUPPORTING_WM_CHECK"), "", timeout=WM_START_TIMEOUT, fail=False)
            if up and proc.poll() is None:
                return
            self.procs.remove((proc, signal.SIGTERM, True))
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGTERM)
            end_process(proc)
        with open(os.path.join(self.dir, "wm.log"), "r", encoding="utf-8", errors="replace") as f:
            raise DesktopUnavailable("%s did not come up: %s" % (self.wm, " / ".join(f.read().splitlines()[-3:])))

    def _start_person(self):
        # xev reports the focus changes and keys of its window on standard
        # output, line by line (stdbuf: its first lines would otherwise wait
        # in a buffer for an event that may not come).
        self._xev_out = os.path.join(self.dir, "person.xev")
        with open(self._xev_out, "wb") as out:
            self._spawn(["stdbuf", "-oL", "xev", "-name", "person", "-event", "focus", "-event", "keyboard"],
                        signal.SIGTERM,
                        stdout=out, stderr=subprocess.DEVNULL)
        first = _wait_until(lambda: re.search(r"Outer window is (0x[0-9a-f]+)", self._xev_text()),
                            "xev showed no window")
        self.person = int(first.group(1), 16)
        self.focus_person()

    def stop(self):
        """End xev, the window manager and Xvfb (newest first), by their ids; idempotent."""
        while self.procs:
            proc, sig, group = self.procs.pop()
            if group and proc.poll() is None:
                os.killpg(proc.pid, sig)
            end_process(proc, sig)
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = None

    def env(self):
        env = dict(os.environ)
        if self.display:
            env["DISPLAY"] = self.display
        return env

    # ------------------------------------------------------------ X queries

    def x(self, *args):
        """Run an X tool on this display; its standard output, empty when it fails."""
        result = subprocess.run(args, env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=X_TOOL_TIMEOUT)
        return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else ""

    def active_window(self):
        """The window the window manager names active (_NET_ACTIVE_WINDOW); 0 for none."""
        found = re.search(r"window id # (0x[0-9a-f]+)", self.x("xprop", "-root", "_NET_ACTIVE_WINDOW"))
        return int(found.group(1), 16) if found else 0

    def keyboard_focus(self):
        """The window that gets the keys typed now (the X input focus)."""
        found = self.x("xdotool", "getwindowfocus", "-f").strip()
        return int(found) if found.isdigit() else 0

    def window_name(self, wid):
        return self.x("xdotool", "getwindowname", str(wid)).strip() if wid else ""

    def focus_person(self):
        """Activates the person's window until the window manager names it
        active: until it manages a new window, or while it focuses one the
        client just mapped, a request may go unheard."""
        def activated():
            self.x("xdotool", "windowactivate", "--sync", str(self.person))
            return self.active_window() == self.person
        try:
            _wait_until(activated, "activated")
        except DesktopUnavailable:
            raise AssertionError("the person's window did not get the focus (active: %#x)"
                                 % self.active_window())

    def _xev_text(self):
        with open(self._xev_out, "r", encoding="utf-8", errors="replace") as f:
            return f.read()

    def focus_outs(self):
        """How many times the person's window has lost the focus so far."""
        return self._xev_text().count("FocusOut event")

    def key_presses(self):
        """How many key presses the person's window has received so far."""
        return self._xev_text().count("KeyPress event")

    def window_property(self, wid, name):
        """A property of one CARDINAL or WINDOW value; None when the window has none."""
        found = re.search(r"(?:= |window id # )(0x[0-9a-f]+|\d+)\s*$", self.x("xprop", "-id", str(wid), name))
        return int(found.group(1), 0) if found else None

    def windows_named(self, name, pid=None):
        """Windows whose name matches; with `pid`, only those whose _NET_WM_PID it is."""
        by_pid = ["--all", "--pid", str(pid)] if pid else []
        return [int(w) for w in self.x("xdotool", "search", *by_pid, "--name", name).split()]
