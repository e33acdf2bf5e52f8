# What a script that drives a Wine program on a virtual X display sets up, sourced once it has
# set `here` (its folder): a work folder `work`, the Xvfb helpers, a clean-up at exit that
# ends the program started as `program`, the wineserver of the Wine prefix `prefix` (set by the
# script, at the latest right after this) and the display, and removes the work folder; the
# control ids the scripts use, `fail MESSAGE` and the check that the program ended.
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

# Says what failed and, while pintool.exe runs, which windows it shows (unless window_probe.exe,
# which the script has as `probe_exe`, has just said so in $work/reported).
fail() {
    echo "FAIL: $*" >&2
    if [ ! -f "$work/reported" ] && [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then
        wine "$probe_exe" screen >&2 2>/dev/null || true
    fi
    exit 1
}

# Control ids of res/resource.h and the system's dialogs.
IDOK=1
IDCANCEL=2
IDC_EDIT_FILE=1000
IDC_BUTTON_BROWSE=1001
IDC_BUTTON_RUN=1002
IDC_RADIO_CHANGE_PIN=1003
IDC_EDIT_OLD_PIN=1004
IDC_EDIT_NEW_PIN=1005
IDC_EDIT_NEW_PIN_REPEAT=1006
FILE_NAME_FIELD=1148 # cmb13, the file name box of the common file dialog

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
