#!/bin/sh
# if_loader_runs.sh LOADER COMMAND...: runs COMMAND, unless this machine's
# kernel cannot execute LOADER at all (a 64-bit kernel built without 32-bit
# support cannot run Wine's 32-bit loader); then it says so and exits 77,
# which the tests registered with it report as skipped.
[ $# -ge 2 ] || { echo "usage: if_loader_runs.sh LOADER COMMAND..." >&2; exit 2; }
loader=$1
shift
"$loader" --version >/dev/null 2>&1
if [ $? -eq 126 ]; then
    echo "skipped: this machine cannot execute $loader ($(uname -srm))"
    exit 77
fi
exec "$@"
