#!/bin/sh
# Makes a Wine prefix for the Windows UI tests: Wine's own fonts in it (Debian's Wine does not
# load /usr/share/wine/fonts by itself, and dialog units follow "MS Sans Serif" only with them),
# no window management of Wine's, so that a window closes without a two-second wait, and a
# German UTF-8 locale of its own in PREFIX/locale. Wine takes its language (that of the common
# file dialog) from the locale and its file names' encoding too: a locale the system lacks
# would give it ASCII names. Run Wine with LOCPATH=PREFIX/locale LC_ALL=de_DE.UTF-8. With a DPI,
# the display runs at that scale (LogPixels, which Wine reads from the user's desktop settings:
# 144 is Windows' 150%, 192 its 200%). Wine's menu builder stays off: it would write menu
# entries for the prefix's Start menu into the user's own desktop (~/.local/share). With
# "managed", a window manager places, decorates and focuses the windows, as on a user's desktop.
# Usage: make_wine_prefix.sh PREFIX [DPI [managed]]
set -eu
prefix=$1
dpi=${2:-96}
managed=N
[ "${3:-}" != managed ] || managed=Y
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$prefix/.pintool-ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    wine wineboot --init >/dev/null 2>&1
    wineserver -w
    cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f >/dev/null 2>&1
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
    mkdir -p "$prefix/locale"
    localedef -i de_DE -f UTF-8 "$prefix/locale/de_DE.UTF-8"
    touch "$prefix/.pintool-ready"
fi
