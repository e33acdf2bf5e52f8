#!/bin/sh
# The real pintool on a virtual X display with a German keyboard map: xdotool types an old and a
# new PIN with umlauts, ß, € and a dead key into the three fields of the PIN dialog, and pin_scan
# reads the process's memory. While the dialog is open, every copy of the PINs must lie in the
# locked arena, which stays out of swap and of core dumps whatever /proc/PID/coredump_filter
# says (VmFlags lo and dd); once "PIN ändern" has changed the PIN and the dialog has closed, none
# may be left anywhere. pintool makes itself not dumpable, so that no other process of its user
# may read its memory: the test runs it and the scanner in a user namespace of their own, whose
# root may, as root may on the machine.
# Usage: pins_in_memory_under_xvfb.sh PINTOOL PIN_SCAN
set -eu
if [ -z "${PINTOOL_TEST_NAMESPACE:-}" ]; then
    exec unshare --user --map-root-user env PINTOOL_TEST_NAMESPACE=1 sh "$0" "$@"
fi
binary=$1
scan=$2
. "$(dirname "$0")/program_session.sh"

# -noreset: the keyboard map stays while no X client is connected.
start_xvfb "$work" -noreset
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
setxkbmap -layout de || fail "no German keyboard map"

old='alt-Äöüß€-7319'
new='Neu€ßüöä-2846é'
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
    -out "$work/cert.pem" -subj "/CN=Max Mustermann" -days 30 2>/dev/null
certificate="$work/zertifikat.p12"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout "pass:$old" \
    -out "$certificate"

# Where pintool holds a copy of either PIN, into $work/scan.txt.
scan() {
    "$scan" "$pid" "$old" "$new" >"$work/scan.txt" || fail "pintool's memory cannot be read"
}
copies() { # pin form: how many copies of that PIN's form the last scan found
    grep -c "^pin $1, PIN $2:" "$work/scan.txt" || true
}

"$binary" >"$work/out.log" 2>&1 &
pid=$!
title='^Quintara\(R\) Tessaplan für Softzertifikate$'
wait_for "$title" 1
main=$(printf '%s\n' "$found" | head -n 1)
choose_file "$main" "$certificate"
keys "$main" Tab Down Up Return
wait_for "$title" 2
pin=$(printf '%s\n' "$found" | grep -vx "$main" | head -n 1)
keys "$pin" Tab Tab
typed "$pin" "$old"
# The new PIN ends in é, which no key has: a dead key (´, then e) that Qt's input method
# composes.
for _ in new repeated; do
    keys "$pin" Tab
    typed "$pin" "${new%é}"
    keys "$pin" dead_acute e
done

# Until the fields hold all that was typed: the old PIN in one, the new one in two. A scan takes
# a while of its own, longer on a busy machine: fewer tries than the window waits make.
for _ in $(seq 400); do
    scan
    [ "$(copies 1 UTF-8)" -ge 1 ] && [ "$(copies 2 UTF-8)" -ge 2 ] && break
    sleep 0.1
done
[ "$(copies 1 UTF-8)" -ge 1 ] && [ "$(copies 2 UTF-8)" -ge 2 ] ||
    fail "the fields do not hold the PINs typed: $(cat "$work/scan.txt")"
outside=$(grep 'outside the locked arena' "$work/scan.txt" || true)
[ -z "$outside" ] || fail "while the PIN dialog is open, PINs outside the locked arena:
$outside"
echo "PIN dialog open: $(grep -c . "$work/scan.txt") copies of the PINs, all in the locked arena"

keys "$pin" Return
wait_for '^Quintara\(R\) Tessaplan$' 1
box=$(printf '%s\n' "$found" | head -n 1)
keys "$box" Return
gone '^Quintara\(R\) Tessaplan$' 1
gone "$title" 2 # the PIN dialog closes after a change only
# "Ausführen" once more: the PIN dialog opens again once the one before is gone with all it
# held.
keys "$main" Return
wait_for "$title" 2
again=$(printf '%s\n' "$found" | grep -vx "$main" | head -n 1)
scan
[ ! -s "$work/scan.txt" ] || fail "after the change, PINs left in pintool's memory:
$(cat "$work/scan.txt")"
echo "after the change no copy of either PIN is left"
keys "$again" Escape
gone "$title" 2
keys "$main" Escape
timeout 60 tail --pid="$pid" -f /dev/null || fail "pintool did not end"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "pintool ended with status $status"
openssl pkcs12 -in "$certificate" -passin "pass:$new" -noout 2>/dev/null ||
    fail "the file does not open with the new PIN"
echo "the file opens with the new PIN"
