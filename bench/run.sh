#!/usr/bin/env bash
# Builds the Windows configuration, makes (or reuses) the benchmark's own
# headless Wine prefix under build/, and prints the benchmark table.
#   bash bench/run.sh [--runs N]
# CHATDRAFT_WIN_BUILD and CHATDRAFT_BENCH_PREFIX choose other directories.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${CHATDRAFT_WIN_BUILD:-build/windows}
prefix=${CHATDRAFT_BENCH_PREFIX:-build/bench-prefix}
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2 >/dev/null
# The chatdraft command as the package builds it, for its row.
cmake --preset package >/dev/null
cmake --build --preset package -j2 >/dev/null
fresh=0
[ -f "$prefix/system.reg" ] || fresh=1
python3 bench/run.py --build "$build" --prefix "$prefix" "$@" && rc=0 || rc=$?
# A prefix this script made is ours to stop; one made by someone else is left alone.
[ $fresh -eq 1 ] && bash tests/e2e/harness/prefix_down.sh "$prefix"
exit $rc
