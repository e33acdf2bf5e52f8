#!/bin/sh
# pintool.exe built with protections the system refuses, under Wine on a virtual X display: it
# says so in a message box and, once that is confirmed, ends with a failure, having shown no
# other window.
# Usage: refused_start.sh PINTOOL_EXE WINE_PREFIX WINDOW_PROBE_EXE
set -eu
exe=$1
prefix=$2
probe_exe=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_session.sh"

sh "$here/make_wine_prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all LOCPATH="$prefix/locale" LC_ALL=de_DE.UTF-8
wineserver -w
start_xvfb "$work"

wine "$exe" >"$work/wine.log" 2>&1 &
program=$!
box=$(wine "$probe_exe" find "Quintara(R) Tessaplan" $IDOK) || fail "no message box"
said=$(wine "$probe_exe" text "${box% *}") || fail "the message box cannot be read"
expected="Das Programm kann PINs und Schlüssel nicht vor anderen Programmen schützen und wird deshalb nicht gestartet."
[ "$said" = "$expected" ] || fail "pintool.exe said: $said"
shown=$(wine "$probe_exe" screen 2>&1)
case "$shown" in
*"Tessaplan für Softzertifikate"*) fail "the main window was shown: $shown" ;;
esac
xdotool windowfocus "${box#* }"
wine "$probe_exe" focus "${box% *}" $IDOK || fail "OK did not get the focus"
xdotool key Return
expect_program_ended "$work/wine.log" failed
echo "pintool.exe said \"$said\" and ended with status $status"
