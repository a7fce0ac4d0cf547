#!/usr/bin/env bash
# Builds the three configurations and runs every test: native unit tests under
# ASan/UBSan, the bounded fuzz runs, and the end-to-end tests of
# chatdraft.exe under a private headless Wine prefix (and of chatdraft32.exe
# under a 32-bit one).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
cmake --preset windows32 >/dev/null
cmake --build --preset windows32 -j2
cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --test-dir build/native -j2 --output-on-failure "$@"
