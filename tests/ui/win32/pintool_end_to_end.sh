#!/bin/sh
# pintool.exe under Wine on a virtual X display, driven like a user with xdotool: "..." chooses
# a real file in the common file dialog, "PIN ändern" and "Ausführen" open the PIN dialog, the
# three PINs are typed, the message box is read and confirmed and Esc ends the program. Linux's
# openssl then reads the file with the new PIN, refuses the old one and finds the same
# certificate and key. With PINTOOL_SCREENSHOTS=DIR the dialogs are also saved as PNG files.
#
# Nothing here assumes speed. window_probe.exe, run beside pintool.exe in the same Wine
# session, reports its dialogs, where the keyboard focus is, how many characters a field holds
# and what a message box says: a key is sent only once the control it is meant for has the
# focus, a field must hold all that was typed before the next one, and every wait polls up to
# a long deadline. A failure says what pintool.exe showed (its message, the windows there were).
# Usage: pintool_end_to_end.sh PINTOOL_EXE WINE_PREFIX WINDOW_PROBE_EXE
set -eu
[ -z "${PINTOOL_TRACE:-}" ] || set -x
exe=$1
prefix=$2
probe_exe=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_session.sh"

sh "$here/make_wine_prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all LOCPATH="$prefix/locale" LC_ALL=de_DE.UTF-8
wineserver -w

# The certificate: an RSA key and its certificate under the old PIN.
old="alt-1234"
new="neu-Grüße€"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -subj "/CN=Wine end to end" -days 30 2>/dev/null
mkdir "$work/Zertifikate"
file="$work/Zertifikate/${PINTOOL_E2E_NAME:-Prüfung.p12}"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -name "Schlüssel" \
    -out "$file" -passout "pass:$old"
openssl pkcs12 -in "$file" -passin "pass:$old" -nodes >"$work/before.txt" 2>/dev/null

# -noreset: the keyboard map below stays while no X client is connected.
mkdir "$work/fb"
start_xvfb "$work" -noreset -fbdir "$work/fb"
# The German letters and the euro sign on keys of their own, before Wine reads the map. xdotool
# would otherwise bind a missing character to a spare key for a moment and unbind it right
# after the key; Wine, reading the map a little later on a busy machine, would see another
# character or none. Without the multimedia keys of the usual map Wine has virtual-key codes
# left for these keys.
xkbcomp -w 0 - "$DISPLAY" <<'XKB'
xkb_keymap {
    xkb_keycodes { include "evdev+aliases(qwerty)" };
    xkb_types { include "complete" };
    xkb_compat { include "complete" };
    xkb_symbols {
        include "pc+us"
        key <I248> { [ adiaeresis, Adiaeresis ] };
        key <I230> { [ odiaeresis, Odiaeresis ] };
        key <I222> { [ udiaeresis, Udiaeresis ] };
        key <I219> { [ ssharp ] };
        key <I217> { [ EuroSign ] };
    };
};
XKB

# window_probe.exe's answer on stdout; when it fails, its account of the screen on stderr
# (Wine's own notes before it left out).
probe() {
    status=0
    wine "$probe_exe" "$@" 2>"$work/probe.err" || status=$?
    [ "$status" -eq 0 ] && return 0
    sed -n '/^window_probe:/,$p' "$work/probe.err" >&2
    : >"$work/reported"
    return "$status"
}
# The handle of pintool.exe's dialog of this title with control ID, once it is shown, and the
# X window that shows it: "HWND XWINDOW".
dialog() {
    probe find "$1" "$2" || fail "no dialog \"$1\" with control $2"
}
# Until control ID of the dialog has the keyboard focus.
wait_focus() {
    probe focus "$1" "$2" || fail "control $2 did not get the focus"
}
# The dialog "HWND XWINDOW" in front, as a click on it would put it (X focus), until control
# ID has the keyboard focus (ID 0: any).
bring_forward() {
    xdotool windowfocus "${1#* }"
    wait_focus "${1% *}" "$2"
}
# Types TEXT into control ID of the dialog, which has the focus, and waits until it holds it
# all (a PIN field shows its length only).
type_into() {
    xdotool type --delay 100 "$3"
    probe length "$1" "$2" "$(printf '%s' "$3" | wc -m)" ||
        fail "control $2 does not hold all that was typed"
}
# A click in the middle of control ID of the dialog, where the dialog shows it.
click() {
    at=$(probe center "$1" "$2") || fail "no control $2"
    xdotool mousemove "${at% *}" "${at#* }" click 1
}
screenshot() {
    [ -n "${PINTOOL_SCREENSHOTS:-}" ] || return 0
    xdotool mousemove 0 0
    sleep 0.3
    eval "$(xdotool getwindowgeometry --shell "${1#* }")"
    python3 "$here/xwd_to_png.py" "$work/fb/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" \
        "$PINTOOL_SCREENSHOTS/$2"
}

title="Quintara(R) Tessaplan für Softzertifikate"
caption="Quintara(R) Tessaplan"
wine "$exe" >"$work/wine.log" 2>&1 &
program=$!
main=$(dialog "$title" $IDC_BUTTON_RUN)
# 320 x 79 dialog units are 480 x 128 pixels.
eval "$(xdotool getwindowgeometry --shell "${main#* }")"
[ "$WIDTH" -gt 480 ] && [ "$WIDTH" -lt 500 ] || fail "main window is $WIDTH pixels wide"

# The focus starts on "Beenden"; "..." is the next tab stop.
bring_forward "$main" $IDOK
xdotool key Tab
wait_focus "${main% *}" $IDC_BUTTON_BROWSE
xdotool key space
chooser=$(dialog "Öffnen" $FILE_NAME_FIELD)
bring_forward "$chooser" $FILE_NAME_FIELD
path="Z:$(printf '%s' "$file" | tr / '\\')"
xdotool key ctrl+a BackSpace
type_into "${chooser% *}" $FILE_NAME_FIELD "$path"
screenshot "$chooser" file-dialog-wine.png
xdotool key Return
probe gone "${chooser% *}" || fail "the file dialog stayed open"
probe length "${main% *}" $IDC_EDIT_FILE "$(printf '%s' "$path" | wc -m)" ||
    fail "the main window does not show the file chosen"

click "${main% *}" $IDC_RADIO_CHANGE_PIN
probe checked "${main% *}" $IDC_RADIO_CHANGE_PIN || fail "\"PIN ändern\" is not selected"
screenshot "$main" main-window-wine.png
click "${main% *}" $IDC_BUTTON_RUN
pin=$(dialog "$title" $IDC_EDIT_OLD_PIN)
pin_dialog=${pin% *}
# The focus starts on "PIN ändern"; "Abbrechen", then the old PIN.
bring_forward "$pin" $IDOK
xdotool key Tab
wait_focus "$pin_dialog" $IDCANCEL
xdotool key Tab
wait_focus "$pin_dialog" $IDC_EDIT_OLD_PIN
type_into "$pin_dialog" $IDC_EDIT_OLD_PIN "$old"
xdotool key Tab
wait_focus "$pin_dialog" $IDC_EDIT_NEW_PIN
type_into "$pin_dialog" $IDC_EDIT_NEW_PIN "$new"
xdotool key Tab
wait_focus "$pin_dialog" $IDC_EDIT_NEW_PIN_REPEAT
type_into "$pin_dialog" $IDC_EDIT_NEW_PIN_REPEAT "$new"
screenshot "$pin" pin-dialog-wine.png
xdotool key Return

box=$(dialog "$caption" $IDOK)
said=$(probe text "${box% *}") || fail "the message box cannot be read"
[ "$said" = "Die PIN wurde geändert." ] || fail "pintool.exe said: $said"
bring_forward "$box" $IDOK
xdotool key Return
probe gone "${box% *}" || fail "the message box stayed open"
probe gone "$pin_dialog" || fail "the PIN dialog stayed open after \"$said\""
bring_forward "$main" 0
xdotool key Escape
expect_program_ended "$work/wine.log"

openssl pkcs12 -in "$file" -passin "pass:$old" -noout 2>/dev/null &&
    fail "the old PIN still opens it, though pintool.exe said: $said"
openssl pkcs12 -in "$file" -passin "pass:$new" -nodes >"$work/after.txt" 2>/dev/null ||
    fail "the new PIN does not open it, though pintool.exe said: $said"
cmp -s "$work/before.txt" "$work/after.txt" || fail "certificate or key differ after the change"
[ "$(ls -A "$work/Zertifikate")" = "$(basename "$file")" ] || fail "files left beside it: $(ls -A "$work/Zertifikate")"
echo "pintool.exe changed the PIN under Wine and said \"$said\"; openssl reads the file with the new PIN"
