#!/bin/sh
# prefix_up.sh PREFIX: create the private headless Wine prefix if needed and
# keep its wineserver running, with the prefix's services already started, so
# that the test programs start fast and their pipes close on time.
set -eu
[ $# -eq 1 ] || { echo "usage: prefix_up.sh PREFIX" >&2; exit 2; }
prefix=$(realpath -m "$1")
here=$(dirname "$0")
loader=${CHATDRAFT_WINE:-$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || echo wine)}
server=${CHATDRAFT_WINESERVER:-wineserver}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    "$loader" wineboot -i </dev/null >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    "$server" -w </dev/null >/dev/null 2>&1
fi
# Its standard handles on /dev/null: a test driver waits for the ends of its pipes.
# A wineserver already serving the prefix (say, a run left standing) is fine.
"$server" -p </dev/null >/dev/null 2>&1 || true
# The first process starts the prefix's services; they inherit its handles.
"$loader" cmd /c exit 0 </dev/null >/dev/null 2>&1
[ -f "$prefix/system.reg" ] || { echo "prefix_up.sh: no prefix at $prefix" >&2; exit 1; }
