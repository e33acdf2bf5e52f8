#!/bin/sh
# Checks what the tool installs: the desktop entry and the AppStream metainfo validate, and
# the Debian package cpack builds holds the program, its desktop entry and its icons.
set -eu
source_dir=$1
build_dir=$2

desktop-file-validate "$source_dir/res/de.quintara.pintool.desktop"
appstreamcli validate --no-net "$build_dir/de.quintara.pintool.metainfo.xml"
grep -q "<release version=\"$(sed -n 's/^FILEVERSION //p' "$source_dir/res/version.txt")\"" \
    "$build_dir/de.quintara.pintool.metainfo.xml"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build_dir" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
package=$(ls "$work"/*.deb)
dpkg-deb -c "$package" >"$work/contents"
for file in ./usr/bin/pintool ./usr/share/applications/de.quintara.pintool.desktop \
    ./usr/share/metainfo/de.quintara.pintool.metainfo.xml \
    ./usr/share/icons/hicolor/16x16/apps/de.quintara.pintool.png \
    ./usr/share/icons/hicolor/32x32/apps/de.quintara.pintool.png \
    ./usr/share/icons/hicolor/128x128/apps/de.quintara.pintool.png; do
    grep -q " $file\$" "$work/contents" || { echo "missing in package: $file"; exit 1; }
done
dpkg-deb -f "$package" Depends | grep -q libqt6widgets6 || { echo "no dependency on Qt"; exit 1; }
echo "package $(basename "$package") holds the program, desktop entry, metainfo and icons"
