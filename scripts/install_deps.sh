#!/usr/bin/env bash
# Installs what one of the project's commands needs on Debian or Ubuntu, and
# nothing more. Does nothing when everything is there already.
#   install_deps.sh package   build chatdraft.exe, the command and the .deb
#   install_deps.sh demo      the package set, and 64-bit Wine to run it
#   install_deps.sh [test]    everything the tests need (the default)
set -euo pipefail

# The preloaders reserve Wine's fixed address ranges before the C library
# loads. Without them the kernel may start the loader's heap (placed anywhere
# in the GiB above 0x7d000000) on the shared user data page at 0x7ffe0000, and
# about one Wine start in a few thousand dies at once with exit code 1.
package=(
  cmake make g++ g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686 nlohmann-json3-dev libxcb1-dev help2man dpkg-dev
)
demo=("${package[@]}" wine wine64 wine64-preloader python3 procps)
# wine32 runs chatdraft32.exe in the 32-bit tests; only they need the i386 architecture.
test=("${demo[@]}" clang libclang-rt-14-dev libgtest-dev wine32:i386 wine32-preloader:i386 lintian)

case ${1:-test} in
  package) packages=("${package[@]}") ;;
  demo) packages=("${demo[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: install_deps.sh [package|demo|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The desktop test group (a headless X server, the four window managers it
# measures the focus on, X tools) skips what it lacks, so these are installed
# apart and may fail. mutter runs under dbus-run-session (dbus-daemon).
desktop=(xvfb openbox mutter kwin-x11 xfwm4 dbus-daemon x11-utils xdotool)
desktop_missing=()
if [ "${1:-test}" = test ]; then
  for p in "${desktop[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || desktop_missing+=("$p")
  done
fi
# The MCP tests run the official TypeScript SDK under Node: Debian's nodejs
# and npm where the machine has no Node of its own.
if [ "${1:-test}" = test ] && ! { command -v node && command -v npm; } >/dev/null; then
  missing+=(nodejs npm)
fi
[ ${#missing[@]} -eq 0 ] && [ ${#desktop_missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]} ${desktop_missing[*]}"
if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ ${#desktop_missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${desktop_missing[@]}" ||
    echo "install_deps.sh: could not install ${desktop_missing[*]}: the desktop test group will be skipped" >&2
fi
