#!/usr/bin/env python3
"""Fails when the files of src/ include each other in a circle.

A file and its header are one step of a run (src/draft.cpp and src/draft.h
are "draft"); a step may include only steps below it, directly or through a
third, so the includes between steps must form no cycle.

    check_include_cycles.py SRC_DIR     exit 0, or 1 with the cycle printed
    check_include_cycles.py --self-test
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def step_of(path, root):
    return os.path.splitext(os.path.relpath(path, root))[0].replace(os.sep, "/")


def include_graph(root):
    """{step: {steps it includes}} over every .h and .cpp below root."""
    graph = {}
    for folder, _, names in os.walk(root):
        for name in names:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            step = step_of(path, root)
            edges = graph.setdefault(step, set())
            with open(path, encoding="utf-8") as f:
                for target in INCLUDE.findall(f.read()):
                    for base in (folder, root):
                        candidate = os.path.normpath(os.path.join(base, target))
                        if os.path.isfile(candidate):
                            if step_of(candidate, root) != step:
                                edges.add(step_of(candidate, root))
                            break
    return graph


def find_cycle(graph):
    """One cycle as a list of steps (first repeated at the end), or None."""
    state = {}  # step -> "open" while on the path, "done" after

    def visit(step, path):
        state[step] = "open"
        path.append(step)
        for nxt in sorted(graph.get(step, ())):
            if state.get(nxt) == "open":
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, path)
                if found:
                    return found
        path.pop()
        state[step] = "done"
        return None

    for step in sorted(graph):
        if step not in state:
            found = visit(step, [])
            if found:
                return found
    return None


def self_test():
    assert find_cycle({"a": {"b"}, "b": {"c"}, "c": set()}) is None
    assert find_cycle({"a": {"b"}, "b": {"c"}, "c": {"a"}}) == ["a", "b", "c", "a"]
    assert find_cycle({"x": {"y"}, "y": {"y2"}, "y2": {"y"}}) == ["y", "y2", "y"]
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2 or not os.path.isdir(argv[1]):
        print("usage: check_include_cycles.py SRC_DIR | --self-test", file=sys.stderr)
        return 2
    cycle = find_cycle(include_graph(argv[1]))
    if cycle:
        print("include cycle: " + " -> ".join(cycle), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
