#!/bin/sh
# The installer under Wine, in the ways it is meant to be used: for the user who runs it,
# without administrator rights (%LOCALAPPDATA%\Programs, HKCU), and for all users with
# ALLUSERS=1 (Program Files, HKLM), each into its own folder and into one given as INSTALLDIR.
# Each time `msiexec /i /qn` puts the program, its licences and the Start-menu entry in place
# and registers the version, the program starts from the Start-menu entry and shows its main
# window, and `msiexec /x /qn` takes all of it away again, finding the folder by itself. The
# prefix is new for every run, so that a run that failed cannot hide what the next one leaves
# behind.
#
# "Nothing left behind" is checked against a listing of drive_c (Windows' own folders aside,
# but with its installer cache) and exports of HKCU and HKLM\Software taken before each
# installation: after removal nothing may differ but the empty folders and keys Windows
# Installer makes for its own bookkeeping the first time it installs anything for a user or for
# the machine (they are not the package's, and Windows has them already).
# Usage: installer_under_wine.sh MSI PINTOOL_EXE VERSION WINDOW_PROBE_EXE
set -eu
[ -z "${PINTOOL_TRACE:-}" ] || set -x
msi=$1
exe=$2
version=$3
probe_exe=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_session.sh"
prefix=$work/wine
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

title="Quintara(R) Tessaplan für Softzertifikate"

sh "$here/make_wine_prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all LOCPATH="$prefix/locale" LC_ALL=de_DE.UTF-8 \
    WINEDLLOVERRIDES="winemenubuilder.exe=d"
wineserver -w
# One wineserver for the whole run, ended by the clean-up: one that ends when idle may be going
# just as the next command connects, which then fails. msiexec works within its own process
# here, so each command has done its work when it returns.
wineserver -p </dev/null >/dev/null 2>&1
start_xvfb "$work"

# A Windows path of the prefix as the build machine sees it.
unix_path() {
    winepath -u "$1" 2>/dev/null
}
# The value of %NAME% in the prefix.
windows_variable() {
    wine cmd /c "echo %$1%" 2>/dev/null | tr -d '\r'
}
# Every file and folder in drive_c, with the size of each file, except Windows' own folders,
# whose contents Wine changes by itself; Windows Installer's cache among them is listed.
list_files() {
    (cd "$prefix/drive_c" &&
        find . -path ./windows -prune -o -printf '%y %s %p\n' &&
        find ./windows/Installer -printf '%y %s %p\n' 2>/dev/null) |
        sed 's/^d [0-9]* /d /' | LC_ALL=C sort
}
# The keys of registry hive KEY below PREFIX, one a line as "[KEY]", and each value as
# "[KEY] NAME=VALUE", a value continued over several lines joined. Wine's own settings aside,
# which Wine changes by itself (the first window adds "Temporary System Parameters").
list_registry() {
    wine reg export "$1" "$work/export.reg" /y >/dev/null 2>&1 || fail "reg export $1 failed"
    iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' | awk -v prefix="[$2" '
        { line = $0; if (held != "") sub(/^ +/, "", line); line = held line; held = "" }
        /\\$/ { sub(/\\$/, "", line); held = line; next }
        /^\[/ {
            key = line
            keep = index(key, prefix) == 1 && key !~ /^\[HKEY_CURRENT_USER\\Software\\Wine[]\\]/
            if (keep) print key
            next
        }
        keep && line != "" { print key " " line }' | LC_ALL=C sort
}
snapshot() {
    list_files >"$work/$1.files"
    list_registry HKCU 'HKEY_CURRENT_USER' >"$work/$1.hkcu"
    list_registry HKLM 'HKEY_LOCAL_MACHINE\Software' >"$work/$1.hklm"
}

local_app_data=$(unix_path "$(windows_variable LOCALAPPDATA)")
app_data=$(unix_path "$(windows_variable APPDATA)")
[ -d "$local_app_data" ] && [ -d "$app_data" ] || fail "no user folders in the prefix"
# Wine puts the Start-menu entry into the user's Start menu also for all users (its msi takes
# ProgramMenuFolder from the user's profile whatever ALLUSERS says); Windows into the common one.
start_menu="$app_data/Microsoft/Windows/Start Menu/Programs"
shortcut="$start_menu/$title.lnk"
# Windows shows the package's language from its summary: German.
msiinfo suminfo "$msi" | grep -qx 'Template: x64;1031' ||
    fail "the installer's summary does not say x64;1031: $(msiinfo suminfo "$msi" | grep Template)"
product_code=$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
[ -n "$product_code" ] || fail "the installer has no ProductCode"
uninstall='Software\Microsoft\Windows\CurrentVersion\Uninstall'
msi_path=$(winepath -w "$msi" 2>/dev/null)

# The empty bookkeeping folders and keys Windows Installer makes, for the user and for the
# machine (a value in them would be the package's: it is listed under its key).
user_dir="./users/$(basename "$(dirname "$(dirname "$local_app_data")")")"
printf 'd %s\n' "$user_dir/AppData/Roaming/Microsoft/Installer" ./windows/Installer |
    sed 's/[.]/[.]/g' >"$work/allowed"
cat >>"$work/allowed" <<'ALLOWED'
\[HKEY_CURRENT_USER\\Software\\Microsoft\\Installer(\\Features|\\Products|\\UpgradeCodes)?\]
\[HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer(\\Features|\\Products|\\UpgradeCodes)?\]
\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\]
\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData(\\S-[0-9-]+(\\Components|\\Products)?)?\]
ALLOWED

# One way of installing: `msiexec /i /qn` with the properties given; then the program is the one
# built, in FOLDER with its licences, the Start menu leads to it, the package's key is in HIVE
# (HKCU or HKLM) only and names FOLDER, the uninstall entry names the version; the program
# starts from the Start menu, shows its main window and ends on Esc; `msiexec /x /qn` with the
# properties REMOVAL (not the folder: it must find that itself) leaves nothing behind.
install_start_remove() { # FOLDER (Windows path) HIVE REMOVAL PROPERTY...
    folder=$1
    hive=$2
    removal=$3
    shift 3
    installed=$(unix_path "$folder")
    snapshot before
    wine msiexec /i "$msi_path" "$@" /qn >"$work/install.log" 2>&1 ||
        fail "msiexec /i $* ended with $?: $(cat "$work/install.log")"

    cmp -s "$exe" "$installed/pintool.exe" || fail "$*: no pintool.exe as built in $installed"
    for licence in OpenSSL.txt GCC-Laufzeitbibliotheken.txt MinGW-w64.txt; do
        [ -s "$installed/Lizenzen/$licence" ] || fail "$*: licence $licence missing in $installed"
    done
    [ -f "$shortcut" ] || fail "$*: no Start-menu entry \"$title\"; the Start menu holds:
$(ls -A "$start_menu")"
    recorded=$(wine reg query "$hive\\Software\\Quintara\\Tessaplan" /v Ordner 2>/dev/null |
        tr -d '\r' | sed -n 's/^ *Ordner *REG_SZ *//p')
    [ "$recorded" = "$folder\\" ] ||
        fail "$*: $hive\\Software\\Quintara\\Tessaplan names the folder \"$recorded\", not $folder"
    other=HKLM
    [ "$hive" = HKCU ] || other=HKCU
    ! wine reg query "$other\\Software\\Quintara" >/dev/null 2>&1 ||
        fail "$*: the package wrote into $other as well as $hive"

    # The entry in the list of installed programs. Windows Installer keeps a user's in the
    # user's part of its store; Wine also writes it under the machine's Uninstall key.
    found=""
    for entry_hive in HKCU HKLM; do
        wine reg export "$entry_hive\\$uninstall\\$product_code" "$work/entry.reg" /y \
            >/dev/null 2>&1 || continue
        found=$entry_hive
        entry=$(iconv -f UTF-16 -t UTF-8 "$work/entry.reg" | tr -d '\r')
        printf '%s\n' "$entry" | grep -qx "\"DisplayVersion\"=\"$version\"" ||
            fail "uninstall entry in $entry_hive does not say version $version: $entry"
        printf '%s\n' "$entry" | grep -qx "\"DisplayName\"=\"$title\"" ||
            fail "uninstall entry in $entry_hive is not named \"$title\": $entry"
    done
    [ -n "$found" ] || fail "$*: no uninstall entry $product_code"

    wine start /wait /unix "$shortcut" >"$work/program.log" 2>&1 &
    program=$!
    main=$(wine "$probe_exe" find "$title" $IDC_BUTTON_RUN 2>"$work/probe.err") ||
        fail "$*: no main window from the Start-menu entry:
$(cat "$work/probe.err" "$work/program.log")"
    xdotool windowfocus "${main#* }"
    wine "$probe_exe" focus "${main% *}" 0 2>"$work/probe.err" ||
        fail "$*: the main window did not get the focus: $(cat "$work/probe.err")"
    xdotool key Escape
    expect_program_ended "$work/program.log"

    # shellcheck disable=SC2086 # REMOVAL is a list of properties
    wine msiexec /x "$msi_path" $removal /qn >"$work/remove.log" 2>&1 ||
        fail "msiexec /x $removal ended with $?: $(cat "$work/remove.log")"
    snapshot after
    : >"$work/left"
    for kind in files hkcu hklm; do
        LC_ALL=C comm -13 "$work/before.$kind" "$work/after.$kind" |
            { grep -vxEf "$work/allowed" || true; } | sed 's/^/+ /' >>"$work/left"
        LC_ALL=C comm -23 "$work/before.$kind" "$work/after.$kind" | sed 's/^/- /' >>"$work/left"
    done
    [ ! -s "$work/left" ] || fail "$*: removal left these differences (+ new, - gone):
$(cat "$work/left")"
    printf 'installed, started and removed with "%s" in %s\n' "$*" "$folder"
}

# For this user, as `msiexec /i` without properties (and a double click) does it.
install_start_remove "$(windows_variable LOCALAPPDATA)\\Programs\\Quintara Tessaplan" HKCU ""
# For all users, as deployment tools do it. Wine's msiexec /x does not take the context from
# the installation: it is told, as docs/windows-installer.md tells administrators to.
install_start_remove "$(windows_variable ProgramW6432)\\Quintara Tessaplan" HKLM ALLUSERS=1 \
    ALLUSERS=1
# Either way into a folder of one's choice, below one that was there already.
mkdir "$prefix/drive_c/Werkzeuge"
install_start_remove 'C:\Werkzeuge\Tessaplan' HKCU "" 'INSTALLDIR=C:\Werkzeuge\Tessaplan'
install_start_remove 'C:\Werkzeuge\Tessaplan' HKLM ALLUSERS=1 ALLUSERS=1 \
    'INSTALLDIR=C:\Werkzeuge\Tessaplan'
rmdir "$prefix/drive_c/Werkzeuge"
echo "$product_code ($version): nothing left behind in any of the four ways"
