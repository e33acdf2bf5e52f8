# What a script that drives a Wine program on a virtual X display sets up, sourced once it has
# set `here` (its folder): a work folder `work`, the Xvfb helpers, and a clean-up at exit that
# ends the program started as `program`, the wineserver of the Wine prefix `prefix` (set by the
# script, at the latest right after this) and the display, and removes the work folder.
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
