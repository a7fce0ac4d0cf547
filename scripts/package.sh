#!/usr/bin/env bash
# Builds chatdraft.exe, chatdraft32.exe and the chatdraft command, and makes
# the Debian package build/package/chatdraft_VERSION_ARCH.deb from them. The
# version is the one `chatdraft --version` prints. lintian checks the package
# when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022

bash scripts/install_deps.sh package
for preset in windows windows32 package; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j2 >/dev/null
done

version=$(build/command/cli/chatdraft --version | sed -n '1s/^chatdraft //p')
arch=$(dpkg --print-architecture)
out=build/package
root=$out/root
deb=$out/chatdraft_${version}_${arch}.deb
rm -rf "$out"
mkdir -p "$root/DEBIAN" "$out/shlibs/debian"
DESTDIR="$PWD/$root" cmake --install build/command --strip >/dev/null

doc=$root/usr/share/doc/chatdraft
gzip -9n "$root/usr/share/man/man1/chatdraft.1"
cat > "$doc/copyright" <<COPYRIGHT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: chatdraft

Files: *
Copyright: 2026 chatdraft developers
License: MIT
 Permission is hereby granted, free of charge, to any person obtaining a copy
 of this software and associated documentation files (the "Software"), to deal
 in the Software without restriction, including without limitation the rights
 to use, copy, modify, merge, publish, distribute, sublicense, and/or sell
 copies of the Software, and to permit persons to whom the Software is
 furnished to do so, subject to the following conditions:
 .
 The above copyright notice and this permission notice shall be included in all
 copies or substantial portions of the Software.
 .
 THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR
 IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY,
 FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE
 AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER
 LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,
 OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE
 SOFTWARE.
COPYRIGHT
printf 'chatdraft (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- chatdraft developers <chatdraft@users.noreply.github.com>  %s\n' \
  "$version" "$version" "$(date -uR)" | gzip -9n > "$doc/changelog.gz"

# The shared libraries the command links, as Debian names their packages.
printf 'Source: chatdraft\n\nPackage: chatdraft\nArchitecture: any\n' > "$out/shlibs/debian/control"
shlibs=$(cd "$out/shlibs" && dpkg-shlibdeps -O -e "$OLDPWD/$root/usr/bin/chatdraft" 2>/dev/null \
         | sed -n 's/^shlibs:Depends=//p')
cat > "$root/DEBIAN/control" <<CONTROL
Package: chatdraft
Version: $version
Architecture: $arch
Maintainer: chatdraft developers <chatdraft@users.noreply.github.com>
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $shlibs, wine64
Recommends: wine64-preloader
Suggests: wine32
Section: utils
Priority: optional
Description: write messages into KakaoTalk chat rooms through Wine
 chatdraft puts a message into a chat room of the KakaoTalk desktop client
 running under Wine, reads it back to verify it, and on request sends it and
 confirms the send. It reaches the client only through window messages: it
 never moves the cursor, takes the focus or touches the clipboard.
 .
 The chatdraft command finds the client's Wine prefix, runs chatdraft.exe
 there and prints the outcome, with exit codes a script can act on.
CONTROL
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb"
fi
echo "$deb"
