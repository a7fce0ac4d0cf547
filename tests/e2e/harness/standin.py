"""The stand-in chat client under Wine, and its event log.

Usage:
    with Standin('room "Team Alpha" draft="hi"') as s:
        room = s.room("Team Alpha")
        ... run chatdraft ...
        s.wait_for(lambda e: e.name == "send" and e["room"] == "Team Alpha")

    with Standin(tree=dump_bytes) as s:    # a window tree from chatdraft_inspect.exe --dump
        ...
"""

import json
import os
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

from . import wine

_DECODER = json.JSONDecoder()
READY_TIMEOUT = 30.0


class StandinError(Exception):
    pass


@dataclass
class Event:
    """One log line: `<ms> <name> key=value ...`.

    Quoted values are decoded JSON strings; bare decimal and 0x-hex values
    are ints; other bare values stay strings.
    """
    index: int
    ms: int
    name: str
    fields: dict
    line: str

    def __getitem__(self, key):
        return self.fields[key]

    def get(self, key, default=None):
        return self.fields.get(key, default)

    def __contains__(self, key):
        return key in self.fields


def _bare_value(text):
    try:
        return int(text, 0) if text[:2].lower() == "0x" or text.lstrip("-").isdigit() else text
    except ValueError:
        return text


def parse_line(line, index=0):
    """Parse one log line (without its newline) into an Event."""
    stamp, _, rest = line.partition(" ")
    name, _, rest = rest.partition(" ")
    fields = {}
    pos = 0
    while pos < len(rest):
        if rest[pos] == " ":
            pos += 1
            continue
        eq = rest.index("=", pos)
        key = rest[pos:eq]
        pos = eq + 1
        if rest.startswith('"', pos):
            value, pos = _DECODER.raw_decode(rest, pos)
        else:
            end = rest.find(" ", pos)
            end = len(rest) if end < 0 else end
            value = _bare_value(rest[pos:end])
            pos = end
        fields[key] = value
    return Event(index, int(stamp), name, fields, line)


@dataclass
class Window:
    role: str
    hwnd: int
    parent: int
    cls: str
    title: str
    room: str
    visible: bool
    thread: int


@dataclass
class Room:
    """A chat room window of the stand-in, with its input box (or None)."""
    title: str
    hwnd: int
    input: int = None
    closed: bool = False
    windows: list = field(default_factory=list)


class Standin:
    """One stand-in process with its scenario (or window tree) and log in a private directory."""

    def __init__(self, scenario=None, prefix=None, exe=None, ready_timeout=READY_TIMEOUT, tree=None):
        self.scenario = scenario
        self.tree = tree    # a dumped window tree (bytes or text), played with --tree
        self.prefix = prefix
        self.exe = exe
        self.ready_timeout = ready_timeout
        self.dir = None
        self.proc = None
        self.events = []
        self.ready_index = None
        self._buffer = b""
        self._log = None

    # -------------------------------------------------------------- process

    def start(self):
        self.prefix = self.prefix or wine.prefix_from_env()
        self.exe = self.exe or wine.standin_exe()
        if not os.path.isfile(self.exe):
            raise StandinError("no stand-in program at %s" % self.exe)
        self.dir = tempfile.mkdtemp(prefix="standin-")
        self.log_path = os.path.join(self.dir, "standin.log")
        source = self._write_source()
        open(self.log_path, "wb").close()
        self._log = open(self.log_path, "rb")
        # Standard handles on /dev/null: Wine services this process may start inherit them.
        self.proc = subprocess.Popen(
            [wine.wine_loader(), self.exe, *source, wine.win_path(self.log_path)],
            env=wine.wine_env(self.prefix), cwd=self.dir,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            ready = self.wait_for(lambda e: e.name == "ready", timeout=self.ready_timeout, since=0)
        except StandinError:
            self.stop()
            raise
        self.ready_index = ready.index
        return self

    def _write_source(self):
        """The scenario or tree file in the private directory; the arguments that name it."""
        tree = self.tree is not None
        self.scenario_path = os.path.join(self.dir, "tree.json" if tree else "scenario.txt")
        data = self.tree if tree else self.scenario
        with open(self.scenario_path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return ["--tree", wine.win_path(self.scenario_path)] if tree else [wine.win_path(self.scenario_path)]

    @property
    def pid(self):
        return self.proc.pid

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self):
        """Kill our stand-in process (by its id) and wait for it; idempotent."""
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
        if self.proc is not None:
            self.proc.wait(timeout=30)
        if self._log:
            self.refresh()
            self._log.close()
            self._log = None
        if self.dir and not os.environ.get("CHATDRAFT_KEEP_LOGS"):
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    # -------------------------------------------------------------- log

    def refresh(self):
        """Read log lines written since the last call; returns all events."""
        if self._log:
            self._buffer += self._log.read()
            *lines, self._buffer = self._buffer.split(b"\n")
            for raw in lines:
                if raw:
                    self.events.append(parse_line(raw.decode("utf-8"), len(self.events)))
        return self.events

    def log_text(self):
        self.refresh()
        return "\n".join(e.line for e in self.events)

    def after_ready(self):
        self.refresh()
        return self.events[self.ready_index + 1:] if self.ready_index is not None else []

    def mark(self):
        """A position in the log; pass it as `since` to see only later events."""
        self.refresh()
        return len(self.events)

    def since(self, mark):
        self.refresh()
        return self.events[mark:]

    def find(self, predicate, since=None):
        start = self.ready_index + 1 if since is None and self.ready_index is not None else (since or 0)
        return [e for e in self.since(start) if predicate(e)]

    def wait_for(self, predicate, timeout=5.0, since=None):
        """The first event (after `since`, default after ready) matching the predicate.

        Raises StandinError with the log's tail when none comes in time or the
        process ends first.
        """
        deadline = time.monotonic() + timeout
        while True:
            found = self.find(predicate, since)
            if found:
                return found[0]
            if not self.alive():
                found = self.find(predicate, since)
                if found:
                    return found[0]
                raise StandinError("stand-in exited (code %s) before the awaited event:\n%s"
                                   % (self.proc.returncode, self._tail()))
            if time.monotonic() > deadline:
                raise StandinError("awaited event did not come within %.1f s:\n%s" % (timeout, self._tail()))
            time.sleep(0.01)

    def _tail(self, lines=30):
        self.refresh()
        return "\n".join(e.line[:400] for e in self.events[-lines:])

    def messages(self, since=None, **match):
        """`msg` events whose fields equal every keyword given (name=, role=, via=, hwnd= ...)."""
        return self.find(lambda e: e.name == "msg" and all(e.get(k) == v for k, v in match.items()), since)

    def focus_events(self, since=None):
        """Activation, focus and foreground changes (after ready by default)."""
        return self.find(lambda e: e.name in ("activate", "focus")
                         or (e.name == "foreground" and "initial" not in e), since)

    # -------------------------------------------------------------- windows

    def windows(self, role=None):
        self.refresh()
        found = []
        for e in self.events:
            if e.name == "window" and (role is None or e["role"] == role):
                found.append(Window(e["role"], e["hwnd"], e["parent"], e["class"], e.get("title", ""),
                                    e.get("room", ""), bool(e["visible"]), e["thread"]))
        return found

    def window(self, role):
        """The one window of a role (main, search_box, ...); None when absent."""
        found = self.windows(role)
        if len(found) > 1:
            raise StandinError("%d windows of role %s" % (len(found), role))
        return found[0] if found else None

    def hwnd(self, role):
        w = self.window(role)
        return w.hwnd if w else None

    def all_rooms(self):
        closed = {e["hwnd"] for e in self.refresh() if e.name == "closed"}
        rooms = {}
        parents = {}
        for w in self.windows():
            parents[w.hwnd] = w.parent
            if w.role == "room":
                rooms[w.hwnd] = Room(w.title, w.hwnd, closed=w.hwnd in closed, windows=[w])
            elif w.role == "input":
                top = w.parent  # a played tree may hold the box deeper in the room
                while top in parents and top not in rooms:
                    top = parents[top]
                if top in rooms:
                    rooms[top].input = w.hwnd
                    rooms[top].windows.append(w)
        return list(rooms.values())

    def rooms(self, title):
        """Open rooms with this title, oldest first."""
        return [r for r in self.all_rooms() if r.title == title and not r.closed]

    def room(self, title):
        """The open room with this title (the newest when there are several)."""
        found = self.rooms(title)
        if not found:
            raise StandinError("no open room titled %r" % title)
        return found[-1]


def poke(*args, prefix=None, timeout=30.0):
    """Run poke.exe with commands (see standin/tools/poke.cpp); one dict per command."""
    result = wine.run_exe(wine.poke_exe(), [str(a) for a in args], timeout=timeout, prefix=prefix)
    if result.timed_out or result.returncode != 0:
        raise subprocess.SubprocessError("poke.exe %r failed (%s): %r"
                                         % (args, "timed out" if result.timed_out else result.returncode,
                                            result.stdout + result.stderr))
    return [json.loads(line) for line in result.stdout.decode("ascii").splitlines() if line.strip()]
