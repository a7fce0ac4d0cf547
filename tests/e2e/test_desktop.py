"""chatdraft on a desktop with a window manager: Xvfb, Wine's X11 driver and
each of mutter, kwin, xfwm4 and openbox, with an X client (xev, named
"person") holding the focus as a person's editor would, while chatdraft runs
against the stand-in client, started as KakaoTalk.exe.

Each path that opens no room runs once, through chatdraft.exe alone, with
the person's window focused, and must leave it so: _NET_ACTIVE_WINDOW is the
same before and after, the window saw no FocusOut, and the stand-in logged no
activation or focus.

A path that opens a room makes the client show a window, which the window
manager would focus. Those run through the chatdraft command, whose focus
guard keeps the focus with the person, while a person stand-in types without
pause (xdotool, 16 ms a key): every key must reach the person's window, none
the room, the person's window holds the focus afterwards, and the client's
_NET_WM_USER_TIME is as it was. They run with a client never clicked, then
with its main window unmapped (as in the tray). Last, a search and a tab run
through chatdraft.exe alone, without the guard, for the table's other column.
The measured table is printed. The doctor must find the guard able to work,
and a guard that cannot reach its X server must cost the run one line on
standard error and nothing else.

Each window manager brings up its own display, window manager, wineserver and
stand-in, on one Wine prefix made without the null driver, and ends them by
their ids. One that is not installed is skipped with the reason; the whole
group is skipped when the X tools are missing or Xvfb cannot start.

Run with CHATDRAFT_X11_WINEPREFIX, CHATDRAFT_WIN_BUILD and CHATDRAFT_PACKAGE_DIR set:
    python3 -m unittest -v test_desktop
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from dataclasses import dataclass, field
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Standin, chatdraft_exe, ensure_prefix, poke, run_exe, standin_exe, start_wineserver  # noqa: E402
from harness.desktop import Desktop, DesktopUnavailable, die_with_parent, end_process, unused_display  # noqa: E402
from harness.requests import run_request  # noqa: E402
from test_cli import unpacked_package  # noqa: E402

SCENARIO = "\n".join([
    'room "Team Alpha"',
    'room "Send Room"',
    'room "Close Room"',
    'room "Drafty" draft="half-written"',
    'search "Beta" "Beta"',
    'search "Search Close" "Search Close"',
    'search "Delta" "Other Delta"',
    'tab "업무" "Gamma"',
    "",
])
# After the run, the window manager's answer to a window the client showed
# comes within milliseconds; this leaves ample room on a busy machine.
SETTLE_AFTER_RUN = 0.4
# The stand-in's activation traffic from an earlier focus change has ended
# once its log has been quiet for this long.
QUIET = 0.3
QUIET_TIMEOUT = 10.0
RUN_SECONDS = 90
FOCUS_TRIES = 3
WM_CLOSE = 0x0010
# What the person types, word after word, while a room opens.
WORD = "abcdefghij"
KEY_DELAY_MS = 16


@dataclass
class Path:
    key: str
    title: str          # as the printed table names it
    request: dict       # None for a probe
    outcome: str        # the document's error_code, or its status


# Paths that open no room, through chatdraft.exe alone.
PATHS = [
    Path("probe", "a probe", None, "ok"),
    Path("draft", "a draft into an open room", {"room": "Team Alpha", "message": "초안"}, "draft_written"),
    Path("send", "a send to an open room", {"room": "Send Room", "message": "hello", "send": True}, "sent"),
    Path("close_after", "a send with `close_after`",
         {"room": "Close Room", "message": "bye", "send": True, "close_after": True}, "sent"),
    Path("draft_exists", "a different draft in the box (`DRAFT_EXISTS`)",
         {"room": "Drafty", "message": "other"}, "DRAFT_EXISTS"),
    Path("strict", "a room not open, with `strict_open_only`",
         {"room": "Beta", "ui_mode": "strict_open_only", "message": "m"}, "NEEDS_OPEN_ROOM"),
]


@dataclass
class Opening:
    key: str
    title: str
    args: list          # the command's, after "draft"
    outcome: str
    room: str           # the room left open, whose box must hold only "m"; None when closed


# Paths that open a room, through the command (and its guard) while the person types.
SEARCH = Opening("search", "through the search box", ["Beta", "m"], "draft_written", "Beta")
TAB = Opening("tab", "through a tab", ["Gamma", "m", "-t", "업무"], "draft_written", "Gamma")
SEARCH_CLOSE = Opening("search_close", "through the search box, sent and closed",
                       ["Search Close", "m", "--send", "--close-after"], "sent", None)
WRONG_ROOM = Opening("wrong_room", "a search that opens only a wrong room (closed again)",
                     ["Delta", "m"], "NEEDS_OPEN_ROOM", None)
NEVER_CLICKED = [SEARCH, TAB, SEARCH_CLOSE, WRONG_ROOM]
IN_TRAY = [SEARCH, TAB]


@dataclass
class Measure:
    path: Path
    doc: dict
    before: int             # _NET_ACTIVE_WINDOW before the run
    after: int              # and once the run ended and the desktop settled
    keys: int               # the X input focus then: where typed keys go
    keys_name: str
    focus_outs: int         # FocusOut events the person's window saw meanwhile
    standin_focus: list     # activation and focus the stand-in logged meanwhile

    def outcome(self):
        return self.doc.get("error_code") or self.doc["status"]

    def person_kept_focus(self, person):
        return self.before == self.after == self.keys == person and self.focus_outs == 0


@dataclass
class Typed:
    opening: Opening
    state: str              # "never clicked" or "in the tray"
    guarded: bool
    outcome: str
    typed: int              # keys the person stand-in typed during the run
    received: int           # and the keys the person's window received
    box: str                # the opened room's box afterwards ("" when it was closed)
    focused_after: bool     # the person's window active and holding the X input focus
    user_time: tuple        # the client's _NET_WM_USER_TIME (before, after)
    details: dict = field(default_factory=dict)

    def keys_lost(self):
        return self.typed - self.received


class Typist:
    """Types WORD into the focused window, word after word, until stopped; a
    word is always typed whole, so no key stays pressed."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.typed = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            self.desktop.x("xdotool", "type", "--delay", str(KEY_DELAY_MS), WORD)
            self.typed += len(WORD)

    def start(self):
        first = self.desktop.key_presses()
        self._thread.start()
        deadline = time.monotonic() + QUIET_TIMEOUT
        while self.desktop.key_presses() == first:
            if time.monotonic() > deadline:
                raise AssertionError("the person's window receives no typed keys")
            time.sleep(0.01)

    def stop(self):
        self._stop.set()
        self._thread.join()
        return self.typed


def focus_table(measures, person):
    rows = ["| path | the person's window keeps the focus | keys typed after the run go to |",
            "|---|---|---|"]
    for m in measures:
        if m.person_kept_focus(person):
            kept, holder = "yes", "the person's window"
        elif m.keys == person:
            kept, holder = "**no**", "the person's window again (it lost the focus meanwhile)"
        else:
            kept, holder = "**no**", 'the client\'s window "%s"' % m.keys_name
        rows.append("| %s | %s | %s |" % (m.path.title, kept, holder))
    return "\n".join(rows)


def typing_table(runs):
    rows = ["| guard | client | room opened | keys typed | keys that missed the person's window "
            "| keys in the room's box | person focused after | client's user time before, after |",
            "|---|---|---|---|---|---|---|---|"]
    for r in runs:
        rows.append("| %s | %s | %s | %d | %d | %s | %s | %s, %s |" % (
            "with" if r.guarded else "without", r.state, r.opening.title, r.typed, r.keys_lost(),
            len(r.box) - 1 if r.box else "-", "yes" if r.focused_after else "**no**", *r.user_time))
    return "\n".join(rows)


class DesktopFocus:
    """The group on one window manager; a subclass per window manager names it."""

    WM = None

    @classmethod
    def setUpClass(cls):
        prefix = os.environ.get("CHATDRAFT_X11_WINEPREFIX")
        if not prefix:
            raise unittest.SkipTest("desktop group skipped: CHATDRAFT_X11_WINEPREFIX is not set")
        if not os.path.isfile(chatdraft_exe()):
            raise AssertionError("no chatdraft.exe at %s" % chatdraft_exe())
        cls.desktop = Desktop(cls.WM)
        try:
            cls.desktop.start()
        except DesktopUnavailable as e:
            raise unittest.SkipTest("%s skipped: %s" % (cls.WM, e))
        cls.addClassCleanup(cls.desktop.stop)
        # Every Wine process of this group draws on this display.
        display = mock.patch.dict(os.environ, {"DISPLAY": cls.desktop.display})
        display.start()
        cls.addClassCleanup(display.stop)
        cls.prefix = ensure_prefix(prefix, headless=False)
        server = start_wineserver(cls.prefix, die_with_parent(signal.SIGINT))
        cls.addClassCleanup(end_process, server, signal.SIGINT)
        cls.start_client()
        cls.root = unpacked_package()
        cls.addClassCleanup(shutil.rmtree, cls.root, True)
        cls.measures = {p.key: cls.measure(p) for p in PATHS}
        cls.close_room_left = cls.s.rooms("Close Room")
        cls.runs = cls.typing_runs()
        print("\nFocus on a desktop (Xvfb, Wine's X11 driver, %s):\n%s\n\n%s\n"
              % (cls.WM, focus_table(cls.measures.values(), cls.desktop.person), typing_table(cls.runs)),
              file=sys.stderr)

    @classmethod
    def start_client(cls):
        """The stand-in, started as KakaoTalk.exe: the command tells the client by its program."""
        folder = tempfile.mkdtemp(prefix="kakaotalk-")
        cls.addClassCleanup(shutil.rmtree, folder, True)
        exe = os.path.join(folder, "KakaoTalk.exe")
        shutil.copyfile(standin_exe(), exe)
        cls.s = Standin(SCENARIO, prefix=cls.prefix, exe=exe)
        cls.s.start()
        cls.addClassCleanup(cls.s.stop)
        if not cls.main_window():
            raise AssertionError("the stand-in's main window is not on the X display: "
                                 "the prefix %s does not use Wine's X11 driver" % cls.prefix)

    @classmethod
    def main_window(cls):
        """The X window of the stand-in's main window, told by its process; 0 when none."""
        found = cls.desktop.windows_named("^카카오톡$", pid=cls.s.pid)
        return found[0] if found else 0

    # ---- one run, watched

    @classmethod
    def hand_focus_to_person(cls):
        """The person's window focused, and still so once the client is quiet: a
        window manager may focus a window the client mapped a moment before."""
        for _ in range(FOCUS_TRIES):
            cls.desktop.focus_person()
            cls.wait_until_standin_quiet()
            if cls.desktop.active_window() == cls.desktop.person:
                return
        raise AssertionError("the person's window does not keep the focus even before a run")

    @classmethod
    def wait_until_standin_quiet(cls):
        """Until the stand-in has logged no activation, focus or foreground
        change for QUIET seconds. Its foreground window is no sign: after a
        focused room closes, Wine activates another room of the client while
        the window manager gives the X focus back to the person."""
        def churn():
            return cls.s.find(lambda e: e.name in ("activate", "focus", "foreground"), since=0)
        deadline = time.monotonic() + QUIET_TIMEOUT
        seen, since = len(churn()), time.monotonic()
        while time.monotonic() < deadline:
            time.sleep(0.05)
            events = churn()
            if len(events) != seen:
                seen, since = len(events), time.monotonic()
            elif time.monotonic() - since >= QUIET:
                return
        raise AssertionError("the stand-in's activation traffic did not end:\n%s" % cls.s.log_text()[-2000:])

    @classmethod
    def run_path(cls, path):
        if path.request is None:
            r = run_exe(chatdraft_exe(), ["--probe"], timeout=60, prefix=cls.prefix)
            if r.timed_out or r.returncode != 0:
                raise AssertionError("probe failed: %r" % (r,))
            return json.loads(r.stdout)
        run = run_request(path.request, prefix=cls.prefix)
        if run.doc is None:
            raise AssertionError("no result document for %r (exit %d): %r"
                                 % (path.request, run.returncode, run.stderr))
        return run.doc

    @classmethod
    def measure(cls, path):
        cls.hand_focus_to_person()
        mark, outs, before = cls.s.mark(), cls.desktop.focus_outs(), cls.desktop.active_window()
        doc = cls.run_path(path)
        time.sleep(SETTLE_AFTER_RUN)
        after, keys = cls.desktop.active_window(), cls.desktop.keyboard_focus()
        return Measure(path, doc, before, after, keys, cls.desktop.window_name(keys),
                       cls.desktop.focus_outs() - outs, [e.line for e in cls.s.focus_events(since=mark)])

    # ---- rooms opened while the person types

    @classmethod
    def user_time_window(cls):
        """The client's _NET_WM_USER_TIME_WINDOW, read from its main window."""
        return cls.desktop.window_property(cls.main_window(), "_NET_WM_USER_TIME_WINDOW")

    @classmethod
    def user_time(cls):
        value = cls.desktop.window_property(cls.user_time_window(), "_NET_WM_USER_TIME")
        return "absent" if value is None else value

    @classmethod
    def command(cls, *args):
        return subprocess.run([os.path.join(cls.root, "usr", "bin", "chatdraft"), *args], capture_output=True,
                              env=dict(os.environ, WINEPREFIX=cls.prefix), timeout=RUN_SECONDS)

    @classmethod
    def run_command(cls, opening):
        r = cls.command("draft", "--json", *opening.args)
        details = {"exit": r.returncode, "stdout": r.stdout.decode(errors="replace"),
                   "stderr": r.stderr.decode(errors="replace")}
        doc = json.loads(r.stdout) if r.stdout.strip() else {}
        return details, doc.get("error_code") or doc.get("status")

    @classmethod
    def run_exe_alone(cls, opening):
        request = {"room": opening.args[0], "message": opening.args[1]}
        if "-t" in opening.args:
            request["tab"] = opening.args[opening.args.index("-t") + 1]
        doc = cls.run_path(Path(opening.key, opening.title, request, opening.outcome))
        return doc, doc.get("error_code") or doc["status"]

    @classmethod
    def type_through(cls, opening, state, guarded):
        cls.hand_focus_to_person()
        time_before, received_before = cls.user_time(), cls.desktop.key_presses()
        typist = Typist(cls.desktop)
        typist.start()
        try:
            details, outcome = (cls.run_command if guarded else cls.run_exe_alone)(opening)
        finally:
            typed = typist.stop()
        time.sleep(SETTLE_AFTER_RUN)
        cls.wait_until_standin_quiet()
        person = cls.desktop.person
        focused = cls.desktop.active_window() == person and cls.desktop.keyboard_focus() == person
        box = cls.close_room(opening.room) if opening.room else ""
        return Typed(opening, state, guarded, outcome, typed, cls.desktop.key_presses() - received_before, box,
                     focused, (time_before, cls.user_time()), details)

    @classmethod
    def close_room(cls, title):
        """The room's box text; the room is closed, so that the next run opens it again."""
        room = cls.s.room(title)
        box = poke("gettext", room.input, prefix=cls.prefix)[0].get("text", "")
        mark = cls.s.mark()
        poke("post", room.hwnd, WM_CLOSE, 0, 0, prefix=cls.prefix)
        cls.s.wait_for(lambda e: e.name == "closed" and e["hwnd"] == room.hwnd, since=mark)
        return box

    @classmethod
    def typing_runs(cls):
        """Without the guard first, for the table: the keys that reach the
        client give it a user time, so a new client follows, never clicked."""
        runs = [cls.type_through(o, "never clicked", False) for o in IN_TRAY]
        cls.s.stop()
        cls.start_client()
        runs += [cls.type_through(o, "never clicked", True) for o in NEVER_CLICKED]
        cls.desktop.x("xdotool", "windowunmap", "--sync", str(cls.main_window()))
        runs += [cls.type_through(o, "in the tray", True) for o in IN_TRAY]
        runs += [cls.type_through(o, "in the tray", False) for o in IN_TRAY]
        return runs

    # ---- what was measured

    def assertPersonKeptFocus(self, key):
        m = self.measures[key]
        self.assertTrue(m.person_kept_focus(self.desktop.person),
                        "%s: active %#x before, %#x after, keys to %#x (%s), %d FocusOut"
                        % (m.path.title, m.before, m.after, m.keys, m.keys_name, m.focus_outs))

    def test_paths_that_open_no_room_leave_the_person_focused(self):
        for m in self.measures.values():
            with self.subTest(path=m.path.title):
                self.assertEqual(m.outcome(), m.path.outcome, m.doc)
                self.assertPersonKeptFocus(m.path.key)
                self.assertEqual(m.standin_focus, [])
        self.assertEqual(self.close_room_left, [], "close_after closed the room")

    def test_rooms_opened_with_the_guard_take_no_focus_and_no_key(self):
        guarded = [r for r in self.runs if r.guarded]
        self.assertGreaterEqual(len(guarded), 5)
        for r in guarded:
            with self.subTest(path=r.opening.title, client=r.state):
                self.assertEqual(r.opening.outcome, r.outcome, r.details)
                self.assertEqual("", r.details["stderr"])
                self.assertGreater(r.typed, 0)
                self.assertEqual(r.typed, r.received, "keys that missed the person's window")
                if r.opening.room:
                    self.assertEqual("m", r.box, "keys in the room")
                self.assertTrue(r.focused_after, "the person's window lost the focus")
                self.assertEqual(r.user_time[0], r.user_time[1], "the client's _NET_WM_USER_TIME")

    def test_rooms_opened_did_their_work(self):
        opened = [e["room"] for e in self.s.find(lambda e: e.name == "opened")]
        expected = [o.args[0] for o in NEVER_CLICKED + IN_TRAY + IN_TRAY]
        self.assertEqual([("Other Delta" if r == "Delta" else r) for r in expected], opened)
        self.assertEqual(self.s.rooms("Search Close") + self.s.rooms("Other Delta"), [])


    def test_the_doctor_says_the_guard_can_work_here(self):
        r = self.command("doctor")
        lines = [line for line in r.stdout.decode().splitlines() if " focus guard: " in line]
        self.assertEqual((0, 1), (r.returncode, len(lines)), r.stdout.decode() + r.stderr.decode())
        self.assertTrue(lines[0].startswith("ok "), lines[0])


    def test_a_guard_that_cannot_work_is_one_line_and_no_failure(self):
        """A draft that may open a room tries the guard; one that never opens one does not."""
        display = ":%d" % unused_display()
        with mock.patch.dict(os.environ, {"DISPLAY": display}):
            guarded = self.command("draft", "Team Alpha", "초안")
            strict = self.command("draft", "Beta", "m", "--strict-open-only")
        self.assertEqual((0, "chatdraft: focus guard off: cannot reach the X server %s; a room the client "
                          "opens may take the focus\n" % display),
                         (guarded.returncode, guarded.stderr.decode()), guarded.stdout.decode())
        self.assertEqual((1, ""), (strict.returncode, strict.stderr.decode()), strict.stdout.decode())


def window_manager_case(wm):
    return type("Desktop_" + wm, (DesktopFocus, unittest.TestCase), {"WM": wm})


Desktop_mutter = window_manager_case("mutter")
Desktop_kwin = window_manager_case("kwin")
Desktop_xfwm4 = window_manager_case("xfwm4")
Desktop_openbox = window_manager_case("openbox")


if __name__ == "__main__":
    unittest.main()
