#!/bin/sh
# A whole session of the real pintool on a virtual X display, by keyboard alone, with a fresh
# HOME and XDG folders: the main window must be a normal window (not a modal dialog), the file
# dialog German; the PIN dialog, owned by the main window, must keep painting while a change
# of a file with 3,200,000 iterations runs; afterwards the file must open with the new PIN, and
# nothing but the file may have been written.
set -eu
binary=$1
. "$(dirname "$0")/program_session.sh"

start_xvfb "$work"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# The user's folders, fresh and empty; and a soft certificate whose derivations take seconds.
mkdir -p "$work/home" "$work/config" "$work/cache" "$work/data" "$work/state" "$work/runtime" \
    "$work/certs"
chmod 700 "$work/runtime"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -subj "/CN=Max Mustermann" -days 30 2>/dev/null
certificate="$work/certs/langsam.p12"
openssl pkcs12 -export -iter 3200000 -macalg sha512 -inkey "$work/key.pem" -in "$work/cert.pem" \
    -passout pass:alte-PIN -out "$certificate"
cp "$certificate" "$work/original.p12"
# Everything in the user's folders, and the certificate's folder but for the certificate (its
# folder's time changes when the new file takes the old one's place).
listing() {
    (cd "$work" && find home config cache data state runtime certs -printf '%p %s %T@\n' |
        grep -v -e '^certs/langsam.p12 ' -e '^certs ' | sort)
}
listing >"$work/before.txt"

title='^Quintara\(R\) Tessaplan für Softzertifikate$'
property() { xprop -id "$1" "$2" 2>/dev/null || true; }
# Watches the PIN dialog on the screen, each wait in one process, polling up to two minutes:
#   painted WINDOW         once its labels are drawn, prints the digests of its labels (the left
#                          fifth, above the buttons) and of its lower left corner
#   repaints WINDOW LABELS CORNER FILE ORIGINAL
#                          once the corner shows the busy bar (only a running change shows it),
#                          hides and shows the window, which asks it to paint itself anew, and
#                          waits for its labels as before; fails where the change ends first
#                          (its message shows, or FILE is no longer ORIGINAL): a window that does
#                          not answer shows no labels.
cat >"$work/watch.py" <<'PY'
import filecmp, hashlib, struct, subprocess, sys, time

def parts(window):
    data = subprocess.run(["xwd", "-silent", "-id", window], capture_output=True).stdout
    header = struct.unpack(">25I", data[:100])
    size, width, height, line = header[0], header[4], header[5], header[12]
    pixels = data[size + header[19] * 12:]
    def digest(rows):  # "blank" for a part all of one colour: not painted, or nothing there
        part = [pixels[y * line: y * line + width // 5 * 4] for y in rows]
        return hashlib.sha256(b"".join(part)).hexdigest() if len(set(part)) > 1 else "blank"
    return digest(range(height * 2 // 3)), digest(range(height * 2 // 3, height))

def ended(file, original):
    message = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                              r"^Quintara\(R\) Tessaplan$"], capture_output=True).stdout
    return message.strip() != b"" or not filecmp.cmp(file, original, shallow=False)

def fail(why):
    print(why)
    sys.exit(1)

def wait(holds, why):
    for _ in range(1200):
        if holds():
            return
        time.sleep(0.1)
    fail(why)

def repaints(window, labels, corner, file, original):
    def busy():
        if parts(window)[1] != corner:
            return True
        if ended(file, original):
            fail("the change ended before the PIN dialog showed its busy bar")
        return False
    wait(busy, "the PIN dialog shows no busy bar")
    subprocess.run(["xdotool", "windowunmap", "--sync", window], check=True)
    subprocess.run(["xdotool", "windowmap", "--sync", window], check=True)
    def painted():  # a picture counts only if the change still runs once it is taken
        same = parts(window)[0] == labels
        if ended(file, original):
            fail("the PIN dialog did not paint its labels while the change ran")
        return same
    wait(painted, "the PIN dialog did not paint its labels while the change ran")

if sys.argv[1] == "painted":
    found = []
    wait(lambda: found.append(parts(sys.argv[2])) or found[-1][0] != "blank",
         "the PIN dialog shows no labels")
    print(*found[-1])
else:
    repaints(*sys.argv[2:])
PY

HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" \
    "$binary" >"$work/out.log" 2>&1 &
pid=$!

wait_for "$title" 1
main=$(printf '%s\n' "$found" | head -n 1)
type=$(property "$main" _NET_WM_WINDOW_TYPE)
state=$(property "$main" _NET_WM_STATE)
echo "$type" | grep -q '= _NET_WM_WINDOW_TYPE_NORMAL$' || fail "main window: $type"
echo "$state" | grep -q MODAL && fail "main window: $state"
property "$main" WM_TRANSIENT_FOR | grep -q 'window id' && fail "main window has an owner"
property "$main" WM_CLASS | grep -q '"pintool", "pintool"' || fail "$(property "$main" WM_CLASS)"
echo "main window: type NORMAL, not modal, no owner, class pintool"

choose_file "$main" "$certificate"

# Tab to "Ausführen", an arrow selects "PIN ändern", back up, Enter: the PIN dialog.
keys "$main" Tab Down Up Return
wait_for "$title" 2
pin=$(printf '%s\n' "$found" | grep -vx "$main" | head -n 1)
property "$pin" WM_TRANSIENT_FOR | grep -qi "$(printf '0x%x' "$main")" ||
    fail "the PIN dialog is not owned by the main window: $(property "$pin" WM_TRANSIENT_FOR)"
echo "PIN dialog owned by the main window"
keys "$pin" Tab Tab
typed "$pin" alte-PIN
keys "$pin" Tab
typed "$pin" neue-PIN
keys "$pin" Tab
typed "$pin" neue-PIN
# The dialog as painted before the change; then Enter starts it.
drawn=$(python3 "$work/watch.py" painted "$pin") || fail "$drawn"
keys "$pin" Return
# shellcheck disable=SC2086  # $drawn: the two digests, as two words
said=$(python3 "$work/watch.py" repaints "$pin" $drawn "$certificate" "$work/original.p12") ||
    fail "$said"
echo "the PIN dialog painted its controls while the change ran"

wait_for '^Quintara\(R\) Tessaplan$' 1
box=$(printf '%s\n' "$found" | head -n 1)
keys "$box" Return
gone '^Quintara\(R\) Tessaplan$' 1
gone "$title" 2  # the PIN dialog closed after the change
keys "$main" Escape
timeout 60 tail --pid="$pid" -f /dev/null || fail "pintool did not end"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "pintool ended with status $status"

openssl pkcs12 -in "$certificate" -passin pass:neue-PIN -noout 2>/dev/null ||
    fail "the file does not open with the new PIN"
echo "the file opens with the new PIN"
listing >"$work/after.txt"
diff "$work/before.txt" "$work/after.txt" || fail "pintool wrote more than the certificate"
echo "nothing but the certificate was written (HOME and XDG folders empty)"
