#!/usr/bin/env bash
# The demonstration: builds the Debian package, unpacks it, starts the
# stand-in client headless in a private Wine prefix, and types the chatdraft
# command as a person would, printing each command, its output and exit code,
# and what the stand-in recorded.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh demo
deb=$(bash scripts/package.sh | tail -n 1)
root=build/demo-root
rm -rf "$root"
dpkg-deb -x "$deb" "$root"
prefix=build/demo-prefix
bash tests/e2e/harness/prefix_up.sh "$prefix"
trap 'bash tests/e2e/harness/prefix_down.sh "$prefix"' EXIT
CHATDRAFT_WINEPREFIX="$prefix" CHATDRAFT_WIN_BUILD=build/windows \
  CHATDRAFT_DEMO_BIN="$root/usr/bin" python3 scripts/demo.py
