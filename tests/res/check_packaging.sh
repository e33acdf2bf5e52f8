#!/bin/sh
# Checks what the tool installs: the desktop entry and the AppStream metainfo validate, the
# version block names one version in all its places, and the Debian package cpack builds holds
# the program, its desktop entry, icons, manual page, copyright and changelog, carries that
# version, depends on Qt's translations and passes lintian without errors or warnings.
set -eu
source_dir=$1
build_dir=$2

desktop-file-validate "$source_dir/res/de.quintara.pintool.desktop"
appstreamcli validate --no-net "$build_dir/de.quintara.pintool.metainfo.xml"
grep -q '^StartupWMClass=pintool$' "$source_dir/res/de.quintara.pintool.desktop" ||
    { echo "the desktop entry does not name the window class"; exit 1; }
version=$(sed -n 's/^FILEVERSION //p' "$source_dir/res/version.txt")
commas=$(echo "$version" | sed 's/\./, /g')
for line in "PRODUCTVERSION $version" "FileVersion=$commas" "ProductVersion=$commas"; do
    grep -qx "$line" "$source_dir/res/version.txt" || { echo "version block: no '$line'"; exit 1; }
done
grep -q "<release version=\"$version\"" "$build_dir/de.quintara.pintool.metainfo.xml"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build_dir" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
package=$(ls "$work"/*.deb)
dpkg-deb -c "$package" >"$work/contents"
for file in ./usr/bin/pintool ./usr/share/applications/de.quintara.pintool.desktop \
    ./usr/share/metainfo/de.quintara.pintool.metainfo.xml \
    ./usr/share/icons/hicolor/16x16/apps/de.quintara.pintool.png \
    ./usr/share/icons/hicolor/32x32/apps/de.quintara.pintool.png \
    ./usr/share/icons/hicolor/128x128/apps/de.quintara.pintool.png \
    ./usr/share/man/man1/pintool.1.gz ./usr/share/doc/pintool/copyright \
    ./usr/share/doc/pintool/changelog.gz; do
    grep -q " $file\$" "$work/contents" || { echo "missing in package: $file"; exit 1; }
done
dpkg-deb -f "$package" Depends | grep -q libqt6widgets6 || { echo "no dependency on Qt"; exit 1; }
dpkg-deb -f "$package" Depends | grep -q qt6-translations-l10n ||
    { echo "no dependency on Qt's translations"; exit 1; }
[ "$(dpkg-deb -f "$package" Version)" = "$version" ] ||
    { echo "package version $(dpkg-deb -f "$package" Version), version block $version"; exit 1; }
zcat "$build_dir/changelog.gz" | head -n 1 | grep -q "^pintool ($version)" ||
    { echo "the changelog does not start with $version"; exit 1; }
zcat "$build_dir/pintool.1.gz" | grep -q "^.TH PINTOOL 1 .*pintool $version" ||
    { echo "the manual page does not name $version"; exit 1; }
lintian --fail-on error,warning --tag-display-limit 0 "$package" >"$work/lintian.log" 2>&1 ||
    { grep -v 'root privileges' "$work/lintian.log"; exit 1; }
echo "package $(basename "$package") holds the program, desktop entry, metainfo, icons and"
echo "documentation, version $version, lintian without errors or warnings"
