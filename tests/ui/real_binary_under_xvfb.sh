#!/bin/sh
# Starts the real pintool on a virtual X display, finds its window by its title, closes it
# with Escape and checks that the process ends with status 0; once without and once with
# command-line arguments, which the tool ignores. While it runs, its core file limit must be 0;
# and it must be linked to resolve every symbol at start-up. Built with protections the system
# refuses, it shows a message box instead, and ends with a failure once that is confirmed.
set -eu
binary=$1
refusing=$2
title='Quintara(R) Tessaplan für Softzertifikate'
work=$(mktemp -d)
. "$(dirname "$0")/xvfb.sh"
cleanup() {
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

start_xvfb "$work"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

run_and_close() {
    "$binary" "$@" >"$work/out.log" 2>&1 &
    pid=$!
    window=$(timeout 30 xdotool search --sync --name "^Quintara\(R\) Tessaplan für Softzertifikate$" | head -n 1)
    if [ -z "$window" ]; then
        echo "no window titled '$title'"
        kill "$pid"
        return 1
    fi
    core=$(grep '^Max core file size' "/proc/$pid/limits" | awk '{print $5 " " $6}')
    if [ "$core" != "0 0" ]; then
        echo "pintool may write a core file: $(grep '^Max core file size' "/proc/$pid/limits")"
        kill "$pid"
        return 1
    fi
    xdotool windowfocus --sync "$window"
    xdotool key Escape
    status=0
    timeout 30 tail --pid="$pid" -f /dev/null || { echo "pintool did not end"; kill "$pid"; return 1; }
    wait "$pid" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "pintool ended with status $status"
        cat "$work/out.log"
        return 1
    fi
    echo "core file size 0, closed with Escape, status 0 ($*)"
}

if ! readelf -d "$binary" | grep -q 'BIND_NOW'; then
    echo "pintool resolves its symbols lazily"
    exit 1
fi

run_and_close
run_and_close --help -style fusion -reverse "$work/irgendeine.p12"

"$refusing" >"$work/out.log" 2>&1 &
pid=$!
box=$(timeout 120 xdotool search --sync --name '^Quintara\(R\) Tessaplan$' | head -n 1)
[ -n "$box" ] || { echo "no message box from the program that may not start"; kill "$pid"; exit 1; }
if xdotool search --name 'für Softzertifikate' >/dev/null; then
    echo "the main window was shown although the protections were refused"
    kill "$pid"
    exit 1
fi
xdotool windowfocus --sync "$box"
xdotool key Return
timeout 120 tail --pid="$pid" -f /dev/null || { echo "it went on after the message"; kill "$pid"; exit 1; }
status=0
wait "$pid" || status=$?
[ "$status" -ne 0 ] || { echo "it ended with status 0 after refusing to start"; exit 1; }
echo "refused to start with a message box, status $status"
