"""Test harness for running chatdraft and the stand-in client under Wine.

Environment: CHATDRAFT_WINEPREFIX (the test run's private prefix, created when
missing) and CHATDRAFT_WIN_BUILD (the Windows build directory); tests that need
them are skipped when they are not set. CHATDRAFT_WINE overrides the Wine
loader, CHATDRAFT_KEEP_LOGS=1 keeps the stand-in's scenario and log files.

- wine_env(prefix), ensure_prefix(path, headless=True), prefix_from_env(), wine_loader(),
  start_wineserver(prefix) (a persistent wineserver as our child)
- run_exe(exe, args, timeout, prefix=None, cwd=None) -> RunResult(returncode,
  stdout, stderr, seconds, timed_out); the program is killed by its id on timeout
- chatdraft_exe(), standin_exe(), poke_exe(), win_path(unix_path)
- Standin(scenario_text) or Standin(tree=dumped_tree): start()/stop() or `with`; pid, alive(); events,
  after_ready(), mark(), since(mark), find(pred, since), wait_for(pred, timeout,
  since), messages(since, **fields), focus_events(since); windows(role),
  window(role), hwnd(role), room(title) -> Room(title, hwnd, input), rooms(title)
- poke(*commands, prefix=None): poke.exe commands, one dict per command
- expect(kind, optional=False, **fields), assert_traffic(testcase, events, table)
- desktop.Desktop: Xvfb, openbox and a person's window (xev) for the desktop group
"""

from .wine import (chatdraft_exe, ensure_prefix, poke_exe, prefix_from_env, run_exe, standin_exe,
                   start_wineserver, win_build_dir, win_path, wine_env, wine_loader, RunResult)
from .standin import Event, Room, Standin, StandinError, Window, parse_line, poke
from .traffic import Expect, assert_traffic, compare_traffic, expect

__all__ = [
    "chatdraft_exe", "ensure_prefix", "poke_exe", "prefix_from_env", "run_exe", "standin_exe",
    "start_wineserver", "win_build_dir", "win_path", "wine_env", "wine_loader", "RunResult",
    "Event", "Room", "Standin", "StandinError", "Window", "parse_line",
    "Expect", "assert_traffic", "compare_traffic", "expect", "poke",
]
