#!/usr/bin/env bash
# Builds the configurations and the Debian package, and runs every test:
# native unit tests under ASan/UBSan, the bounded fuzz runs, and the
# end-to-end tests of chatdraft.exe under a private headless Wine prefix (and
# of chatdraft32.exe under a 32-bit one) and of the packaged chatdraft command.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh test
# The command's end-to-end tests unpack the package: it is made first.
bash scripts/package.sh
cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --test-dir build/native -j2 --output-on-failure "$@"
