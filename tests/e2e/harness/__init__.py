"""Test harness for running chatdraft and the stand-in client under Wine."""

from .wine import (chatdraft_exe, ensure_prefix, poke_exe, prefix_from_env, run_exe, standin_exe,
                   win_build_dir, win_path, wine_env, wine_loader, RunResult)
from .standin import Event, Room, Standin, StandinError, Window, parse_line, poke
from .traffic import Expect, assert_traffic, compare_traffic, expect

__all__ = [
    "chatdraft_exe", "ensure_prefix", "poke_exe", "prefix_from_env", "run_exe", "standin_exe",
    "win_build_dir", "win_path", "wine_env", "wine_loader", "RunResult",
    "Event", "Room", "Standin", "StandinError", "Window", "parse_line",
    "Expect", "assert_traffic", "compare_traffic", "expect", "poke",
]
