#!/bin/sh
# Runs a Windows test program under Wine on a virtual X display of its own, in the tests' Wine
# prefix, and passes only when GoogleTest ran tests and all of them passed (a Wine that started
# nothing ends with status 0 too).
# Usage: run_under_xvfb.sh WINE_PREFIX PROGRAM.exe [ARGS...]
set -eu
prefix=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb=""
cleanup() {
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
sh "$here/make_wine_prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all LOCPATH="$prefix/locale" LC_ALL=de_DE.UTF-8
wineserver -w
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"
status=0
wine "$@" >"$work/out.txt" 2>&1 || status=$?
cat "$work/out.txt"
[ "$status" -eq 0 ] || exit "$status"
grep -q '^\[  PASSED  \] [1-9][0-9]* test' "$work/out.txt" || { echo "FAIL: no test passed" >&2; exit 1; }
! grep -q '^\[  FAILED  \]' "$work/out.txt"
