#!/bin/sh
# The real pintool under a window manager (openbox): however the PIN dialog closes ("Abbrechen",
# Esc, the window manager's close, a changed PIN's message confirmed, the message that the file
# is gone confirmed), the X server's keyboard focus goes back to the main window, and a key
# there reaches its control (Enter on "Ausführen" opens the PIN dialog again). Keys are sent
# only once the window meant has the focus; nothing gives it the focus but the program and the
# window manager.
set -eu
binary=$1
. "$(dirname "$0")/program_session.sh"

start_xvfb "$work" -noreset
start_openbox "$work"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -subj "/CN=Fokus" -days 30 2>/dev/null
certificate="$work/fokus.p12"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:alt \
    -out "$certificate"

title='^Quintara\(R\) Tessaplan für Softzertifikate$'
caption='^Quintara\(R\) Tessaplan$'
# Each wait polls up to two minutes: long enough for a loaded machine.
wait_until() { # what condition...: until the condition holds
    what=$1
    shift
    for _ in $(seq 1200); do
        "$@" && return 0
        kill -0 "$pid" 2>/dev/null || fail "pintool ended while waiting: $what"
        sleep 0.1
    done
    fail "$what (the focus is on $(xdotool getwindowfocus getwindowname 2>&1))"
}
shown() { # pattern: the first window shown with the title other than the main window
    window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -vx "${main:-none}" |
        head -n 1) && [ -n "$window" ]
}
focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
closed() { ! xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -qx "$2"; }

"$binary" >"$work/out.log" 2>&1 &
pid=$!
main=""
wait_until "no main window" shown "$title"
main=$window
wait_until "the main window does not get the focus" focused "$main"

# "..." is the tab stop after "Beenden"; the file dialog takes the path.
xdotool key Tab Return
wait_until "no file dialog" shown '^Öffnen$'
files=$window
wait_until "the file dialog does not get the focus" focused "$files"
xdotool type --delay 20 "$certificate"
xdotool key Return
wait_until "the file dialog stays open" closed '^Öffnen$' "$files"
wait_until "the focus does not come back from the file dialog" focused "$main"
# Tab to "Ausführen" through "PIN ändern", which an arrow selects.
xdotool key Tab Down Up

# Enter on "Ausführen" opens the PIN dialog: its focus starts on "PIN ändern".
open_pin_dialog() {
    xdotool key Return
    wait_until "no PIN dialog" shown "$title"
    pin=$window
    wait_until "the PIN dialog does not get the focus" focused "$pin"
}
type_pins() { # old new
    xdotool key Tab Tab
    xdotool type --delay 20 "$1"
    xdotool key Tab
    xdotool type --delay 20 "$2"
    xdotool key Tab
    xdotool type --delay 20 "$2"
    xdotool key Return
}
confirm_message() {
    wait_until "no message" shown "$caption"
    box=$window
    wait_until "the message does not get the focus" focused "$box"
    xdotool key Return
}
back_in_main_window() { # how the PIN dialog closed
    wait_until "the PIN dialog stays open after $1" closed "$title" "$pin"
    wait_until "the focus does not come back to the main window after $1" focused "$main"
    echo "the focus came back to the main window after $1"
}

open_pin_dialog
xdotool key Tab Return
back_in_main_window '"Abbrechen"'
open_pin_dialog
xdotool key Escape
back_in_main_window "Esc"
open_pin_dialog
xdotool key alt+F4
back_in_main_window "the window manager's close"
open_pin_dialog
type_pins alt neu
confirm_message
back_in_main_window "the PIN was changed"
open_pin_dialog
rm "$certificate"
type_pins neu neuer
confirm_message
back_in_main_window "the message that the file is gone"
# Esc there ends the program.
xdotool key Escape
timeout 120 tail --pid="$pid" -f /dev/null || fail "pintool did not end on Esc"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "pintool ended with status $status"
