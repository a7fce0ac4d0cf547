#!/bin/sh
# prefix_down.sh PREFIX: end the wineserver (and so every process) of the
# private test prefix that prefix_up.sh started. Never use it on a prefix the
# test run did not create.
set -eu
[ $# -eq 1 ] || { echo "usage: prefix_down.sh PREFIX" >&2; exit 2; }
prefix=$(realpath -m "$1")
[ -f "$prefix/system.reg" ] || exit 0
WINEPREFIX="$prefix" "${CHATDRAFT_WINESERVER:-wineserver}" -k || true
