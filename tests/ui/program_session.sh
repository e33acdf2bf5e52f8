# What a script that drives the real pintool on a virtual X display sets up, sourced once: a work
# folder `work`, the Xvfb helpers and window helpers of xvfb.sh, `pid` for the program it starts,
# a clean-up at exit that ends the program and the display and removes the work folder, and
# `fail MESSAGE`, which says what failed and what the program wrote to $work/out.log.
work=$(mktemp -d)
pid=""
. "$(dirname "$0")/xvfb.sh"
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    [ -f "$work/out.log" ] && cat "$work/out.log"
    exit 1
}

# From the main window, "..." (the tab stop after "Beenden") and the file dialog, titled "Öffnen"
# as in German: chooses the file at PATH. X hands the dialog the typed name before the Return,
# and it takes the name once it has it.
choose_file() { # main path
    keys "$1" Tab Return
    wait_for '^Öffnen$' 1
    files=$(printf '%s\n' "$found" | head -n 1)
    typed "$files" "$2"
    keys "$files" Return
    gone '^Öffnen$' 1
}
