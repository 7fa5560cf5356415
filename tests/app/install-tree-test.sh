#!/usr/bin/env bash
# `cmake --install` into a temporary DESTDIR holds exactly the app's files, and the desktop entry
# and AppStream metainfo pass Debian's validators. Usage: install-tree-test.sh <build folder>
set -euo pipefail
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$1" --prefix /usr >/dev/null
expected="usr/bin/orvan-mirror
usr/share/applications/orvan-mirror.desktop
usr/share/doc/orvan-mirror/changelog.gz
usr/share/doc/orvan-mirror/copyright
usr/share/icons/hicolor/256x256/apps/orvan-mirror.png
usr/share/icons/hicolor/48x48/apps/orvan-mirror.png
usr/share/icons/hicolor/scalable/apps/orvan-mirror.svg
usr/share/man/man1/orvan-mirror.1.gz
usr/share/metainfo/com.orvan.mirror.metainfo.xml"
actual=$(cd "$dest" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
diff <(echo "$expected") <(echo "$actual")
desktop-file-validate "$dest/usr/share/applications/orvan-mirror.desktop"
appstreamcli validate --no-net --pedantic "$dest/usr/share/metainfo/com.orvan.mirror.metainfo.xml"
