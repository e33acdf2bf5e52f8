#!/bin/sh
# pintool.exe under Wine on a virtual X display, driven like a user with xdotool: "..." chooses
# a real file in the common file dialog, "PIN ändern" and "Ausführen" open the PIN dialog, the
# three PINs are typed, the message box is confirmed and Esc ends the program. Linux's openssl
# then reads the file with the new PIN, refuses the old one and finds the same certificate and
# key. With PINTOOL_SCREENSHOTS=DIR the two dialogs are also saved as PNG files there.
# Usage: pintool_end_to_end.sh PINTOOL_EXE WINE_PREFIX
set -eu
[ -z "${PINTOOL_TRACE:-}" ] || set -x
exe=$1
prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
. "$here/../xvfb.sh"
program=""
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

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

mkdir "$work/fb"
start_xvfb "$work" -fbdir "$work/fb"

# The visible window whose title matches, once it is there.
window() {
    for _ in $(seq 150); do
        found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1)
        [ -n "$found" ] && { echo "$found"; return 0; }
        sleep 0.2
    done
    return 1
}
focus() {
    xdotool windowfocus --sync "$1"
    sleep 0.3
}
# A click at dialog units (x, y) of a dialog's client area: base units 6 x 13 ("MS Sans Serif"
# 8 pt) and Wine's own frame, as thick at the bottom as at the sides, above the client area.
click_at() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    frame=$(((WIDTH - $4) / 2))
    top=$((HEIGHT - $5 - frame))
    xdotool mousemove --window "$1" $((frame + $2 * 6 / 4)) $((top + $3 * 13 / 8)) click 1
    sleep 0.3
}
screenshot() {
    [ -n "${PINTOOL_SCREENSHOTS:-}" ] || return 0
    xdotool mousemove 0 0
    sleep 0.3
    eval "$(xdotool getwindowgeometry --shell "$1")"
    python3 "$here/xwd_to_png.py" "$work/fb/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" \
        "$PINTOOL_SCREENSHOTS/$2"
}

title="Quintara(R) Tessaplan für Softzertifikate"
wine "$exe" >"$work/wine.log" 2>&1 &
program=$!
main=$(window "^Quintara\(R\) Tessaplan f.*r Softzertifikate$") || fail "no main window"
[ "$(xdotool getwindowname "$main")" = "$title" ] || fail "main window's title"
# 320 x 79 dialog units are 480 x 128 pixels.
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$WIDTH" -gt 480 ] && [ "$WIDTH" -lt 500 ] || fail "main window is $WIDTH pixels wide"

# "..." is the second tab stop after "Beenden".
focus "$main"
xdotool key Tab space
dialog=$(window "ffnen$") || { xdotool search --name . getwindowname %@ >&2; fail "no file dialog"; }
focus "$dialog"
xdotool key ctrl+a BackSpace
xdotool type --delay 100 "Z:$(printf '%s' "$file" | tr / '\\')"
screenshot "$dialog" file-dialog-wine.png
xdotool key Return
for _ in $(seq 50); do
    xdotool search --onlyvisible --name "ffnen$" >/dev/null 2>&1 || break
    sleep 0.2
done

# "PIN ändern" (77, 39), then "Ausführen" (263, 35, 50 x 17).
click_at "$main" 90 45 480 128
screenshot "$main" main-window-wine.png
click_at "$main" 288 43 480 128
pin=""
for _ in $(seq 100); do
    pin=$(xdotool search --onlyvisible --name "^Quintara\(R\) Tessaplan f.*r Softzertifikate$" |
        grep -v "^$main\$" | tail -n 1 || true)
    [ -n "$pin" ] && break
    sleep 0.2
done
[ -n "$pin" ] || fail "no PIN dialog"
focus "$pin"
# The focus starts on "PIN ändern"; "Abbrechen", then the old PIN.
xdotool key Tab Tab
xdotool type --delay 100 "$old"
xdotool key Tab
xdotool type --delay 100 "$new"
xdotool key Tab
xdotool type --delay 100 "$new"
screenshot "$pin" pin-dialog-wine.png
xdotool key Return
box=$(window "^Quintara\(R\) Tessaplan$") || fail "no message box"
focus "$box"
xdotool key Return
for _ in $(seq 50); do
    [ "$(xdotool search --onlyvisible --name "^Quintara\(R\) Tessaplan f.*r Softzertifikate$" | wc -l)" -eq 1 ] && break
    sleep 0.2
done
focus "$main"
xdotool key Escape
for _ in $(seq 100); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$program" 2>/dev/null && fail "pintool.exe did not end on Esc"
status=0
wait "$program" || status=$?
program=""
[ "$status" -eq 0 ] || fail "pintool.exe ended with $status: $(cat "$work/wine.log")"

openssl pkcs12 -in "$file" -passin "pass:$old" -noout 2>/dev/null && fail "the old PIN still opens it"
openssl pkcs12 -in "$file" -passin "pass:$new" -nodes >"$work/after.txt" 2>/dev/null ||
    fail "the new PIN does not open it"
cmp -s "$work/before.txt" "$work/after.txt" || fail "certificate or key differ after the change"
[ "$(ls -A "$work/Zertifikate")" = "$(basename "$file")" ] || fail "files left beside it: $(ls -A "$work/Zertifikate")"
echo "pintool.exe changed the PIN under Wine; openssl reads the file with the new PIN"
