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
