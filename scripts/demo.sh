#!/usr/bin/env bash
# The demonstration: builds chatdraft.exe and the stand-in client, starts the
# stand-in headless in a private Wine prefix, and drives it with chatdraft the
# way a calling program would, printing every result document and what the
# stand-in recorded.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 >/dev/null
prefix=build/demo-prefix
bash tests/e2e/harness/prefix_up.sh "$prefix"
trap 'bash tests/e2e/harness/prefix_down.sh "$prefix"' EXIT
CHATDRAFT_WINEPREFIX="$prefix" CHATDRAFT_WIN_BUILD=build/windows python3 scripts/demo.py
