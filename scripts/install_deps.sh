#!/usr/bin/env bash
# Installs what building and testing chatdraft needs on Debian or Ubuntu.
# Does nothing when everything is there already.
set -euo pipefail

# The preloaders reserve Wine's fixed address ranges before the C library
# loads. Without them the kernel may start the loader's heap (placed anywhere
# in the GiB above 0x7d000000) on the shared user data page at 0x7ffe0000, and
# about one Wine start in a few thousand dies at once with exit code 1.
packages=(
  cmake make clang libclang-rt-14-dev libgtest-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686 wine wine64 wine32:i386 wine64-preloader wine32-preloader:i386
  python3 procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The desktop test group (a headless X server, a window manager, X tools) is
# skipped without these, so they are installed apart and may fail.
desktop_missing=()
for p in xvfb openbox x11-utils xdotool; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || desktop_missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#desktop_missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]} ${desktop_missing[*]}"
# wine32 (for chatdraft32.exe in 32-bit prefixes) comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
if [ ${#desktop_missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${desktop_missing[@]}" ||
    echo "install_deps.sh: could not install ${desktop_missing[*]}: the desktop test group will be skipped" >&2
fi
