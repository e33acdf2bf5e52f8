#!/bin/sh
# Runs a Windows test program under Wine on a virtual X display of its own, in the tests' Wine
# prefix, and passes only when GoogleTest ran tests and all of them passed (a Wine that started
# nothing ends with status 0 too). PINTOOL_WINE_DPI sets the display scale of a new prefix.
# Usage: run_under_xvfb.sh WINE_PREFIX PROGRAM.exe [ARGS...]
set -eu
prefix=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
. "$here/../xvfb.sh"
cleanup() {
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
sh "$here/make_wine_prefix.sh" "$prefix" "${PINTOOL_WINE_DPI:-96}"
export WINEPREFIX="$prefix" WINEDEBUG=-all LOCPATH="$prefix/locale" LC_ALL=de_DE.UTF-8
wineserver -w
start_xvfb "$work"
status=0
wine "$@" >"$work/out.txt" 2>&1 || status=$?
cat "$work/out.txt"
[ "$status" -eq 0 ] || exit "$status"
grep -q '^\[  PASSED  \] [1-9][0-9]* test' "$work/out.txt" || { echo "FAIL: no test passed" >&2; exit 1; }
! grep -q '^\[  FAILED  \]' "$work/out.txt"
