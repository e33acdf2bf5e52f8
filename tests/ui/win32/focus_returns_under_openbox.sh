#!/bin/sh
# pintool.exe under Wine with a window manager (openbox) that places and focuses its windows, as
# on a user's desktop: however the PIN dialog closes ("Abbrechen", Esc, the window manager's
# close, a changed PIN's message confirmed, the message that the file is gone confirmed), the X
# server's keyboard focus goes back to the main window, where "Ausführen" has Wine's focus.
# window_probe.exe reports Wine's side (see pintool_end_to_end.sh); keys are sent only once the
# control meant has the focus, and nothing gives the focus but the program and openbox.
# Usage: focus_returns_under_openbox.sh PINTOOL_EXE WINE_PREFIX WINDOW_PROBE_EXE
set -eu
exe=$1
prefix=$2
probe_exe=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_session.sh"

sh "$here/make_wine_prefix.sh" "$prefix" 96 managed
export WINEPREFIX="$prefix" WINEDEBUG=-all LOCPATH="$prefix/locale" LC_ALL=de_DE.UTF-8
wineserver -w

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -subj "/CN=Fokus" -days 30 2>/dev/null
certificate="$work/fokus.p12"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:alt \
    -out "$certificate"

start_xvfb "$work" -noreset
start_openbox "$work"

probe() {
    wine "$probe_exe" "$@" 2>"$work/probe.err" && return 0
    sed -n '/^window_probe:/,$p' "$work/probe.err" >&2
    return 1
}
# "HWND XWINDOW" of the dialog of this title with this control, once it is shown.
dialog() { probe find "$1" "$2" || fail "no dialog \"$1\" with control $2"; }
# Until control ID of the dialog "HWND XWINDOW" has Wine's focus, and its X window the X
# server's (polled up to two minutes: long enough for a loaded machine).
focus_on() { # dialog id what
    probe focus "${1% *}" "$2" || fail "$3: control $2 does not get the focus"
    for _ in $(seq 1200); do
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "${1#* }" ] && return 0
        sleep 0.1
    done
    fail "$3: the X focus is on $(xdotool getwindowfocus getwindowname 2>&1)"
}
type_into() { # dialog id text
    xdotool type --delay 50 "$3"
    probe length "${1% *}" "$2" "$(printf '%s' "$3" | wc -m)" ||
        fail "control $2 does not hold all that was typed"
}

title="Quintara(R) Tessaplan für Softzertifikate"
wine "$exe" >"$work/wine.log" 2>&1 &
program=$!
main=$(dialog "$title" $IDC_BUTTON_RUN)
focus_on "$main" $IDOK "the program's start"

# "..." opens the file dialog, which takes the file's path.
xdotool key Tab
focus_on "$main" $IDC_BUTTON_BROWSE "Tab"
xdotool key space
files=$(dialog "Öffnen" $FILE_NAME_FIELD)
focus_on "$files" $FILE_NAME_FIELD "the file dialog"
xdotool key ctrl+a BackSpace
type_into "$files" $FILE_NAME_FIELD "Z:$(printf '%s' "$certificate" | tr / '\\')"
xdotool key Return
probe gone "${files% *}" || fail "the file dialog stays open"
focus_on "$main" $IDC_BUTTON_BROWSE "the file dialog's end"
# Tab to "Ausführen"; an arrow selects "PIN ändern", the other goes back.
xdotool key Tab
focus_on "$main" $IDC_BUTTON_RUN "Tab"
xdotool key Down
focus_on "$main" $IDC_RADIO_CHANGE_PIN "Down"
probe checked "${main% *}" $IDC_RADIO_CHANGE_PIN || fail "\"PIN ändern\" is not selected"
xdotool key Up
focus_on "$main" $IDC_BUTTON_RUN "Up"

open_pin_dialog() {
    xdotool key Return
    pin=$(dialog "$title" $IDC_EDIT_OLD_PIN)
    focus_on "$pin" $IDOK "the PIN dialog"
}
type_pins() { # old new
    xdotool key Tab
    focus_on "$pin" $IDCANCEL "Tab"
    xdotool key Tab
    focus_on "$pin" $IDC_EDIT_OLD_PIN "Tab"
    type_into "$pin" $IDC_EDIT_OLD_PIN "$1"
    xdotool key Tab
    focus_on "$pin" $IDC_EDIT_NEW_PIN "Tab"
    type_into "$pin" $IDC_EDIT_NEW_PIN "$2"
    xdotool key Tab
    focus_on "$pin" $IDC_EDIT_NEW_PIN_REPEAT "Tab"
    type_into "$pin" $IDC_EDIT_NEW_PIN_REPEAT "$2"
    xdotool key Return
}
confirm_message() {
    box=$(dialog "Quintara(R) Tessaplan" $IDOK)
    focus_on "$box" $IDOK "the message"
    xdotool key Return
}
back_in_main_window() { # how the PIN dialog closed
    probe gone "${pin% *}" || fail "the PIN dialog stays open after $1"
    focus_on "$main" $IDC_BUTTON_RUN "after $1"
    echo "the focus came back to the main window after $1"
}

open_pin_dialog
xdotool key Tab
focus_on "$pin" $IDCANCEL "Tab"
xdotool key space
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
xdotool key Escape
expect_program_ended "$work/wine.log"
