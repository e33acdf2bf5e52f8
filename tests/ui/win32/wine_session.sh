# What a script that drives a Wine program on a virtual X display sets up, sourced once it has
# set `here` (its folder): a work folder `work`, the Xvfb helpers, a clean-up at exit that
# ends the program started as `program`, the wineserver of the Wine prefix `prefix` (set by the
# script, at the latest right after this) and the display, and removes the work folder; and the
# check that the program ended.
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

# After the program was told to end: it must end within two minutes, with status 0 (or, with
# `failed` as the second argument, any other); otherwise the script's `fail` says so, with the
# log given.
expect_program_ended() { # log [failed]
    # Long enough for a loaded machine; the program ends at once when it works.
    for _ in $(seq 1200); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$program" 2>/dev/null && fail "pintool.exe did not end"
    status=0
    wait "$program" || status=$?
    program=""
    if [ "${2:-}" = failed ]; then
        [ "$status" -ne 0 ] || fail "pintool.exe ended with status 0: $(cat "$1")"
    else
        [ "$status" -eq 0 ] || fail "pintool.exe ended with $status: $(cat "$1")"
    fi
}
