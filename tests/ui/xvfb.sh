# A virtual X display of a test's own. Sourced by the scripts that drive a real program:
#   start_xvfb DIR [XVFB_ARGS...]  starts Xvfb, sets and exports DISPLAY once the server answers
#   start_openbox DIR              starts the openbox window manager on it, once it manages windows
#   stop_xvfb                      ends both and waits until they are gone
# and the helpers below that find and drive a program's windows.
# Xvfb chooses a free display number itself. Its number is read only once its line is complete
# (":1" of ":12" is another server's), and the display is used only once it answers: a program
# started earlier fails with "could not connect". The next test's Xvfb may take the same number,
# so stop_xvfb waits until this one has let go of it.
xvfb=""
openbox=""

start_xvfb() {
    xvfb_dir=$1
    shift
    : >"$xvfb_dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp "$@" 3>"$xvfb_dir/display" \
        >"$xvfb_dir/xvfb.log" 2>&1 &
    xvfb=$!
    # Generous: on a busy machine the server can take many seconds to come up.
    for _ in $(seq 600); do
        if [ "$(wc -l <"$xvfb_dir/display")" -ge 1 ]; then
            DISPLAY=":$(head -n 1 "$xvfb_dir/display")"
            export DISPLAY
            xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        fi
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    echo "Xvfb did not start:" >&2
    cat "$xvfb_dir/xvfb.log" >&2
    return 1
}

# Openbox with its default settings (a HOME of its own: the user's are not read), once it has
# said on the root window that it manages the display. Xvfb must run with -noreset: a server
# that resets when its last client leaves refuses connections meanwhile.
start_openbox() {
    mkdir -p "$1/openbox-home"
    HOME="$1/openbox-home" openbox --sm-disable >"$1/openbox.log" 2>&1 &
    openbox=$!
    for _ in $(seq 600); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        kill -0 "$openbox" 2>/dev/null || break
        sleep 0.1
    done
    echo "openbox did not start:" >&2
    cat "$1/openbox.log" >&2
    return 1
}

stop_xvfb() {
    if [ -n "$openbox" ]; then
        kill "$openbox" 2>/dev/null || true
        wait "$openbox" 2>/dev/null || true
        openbox=""
    fi
    [ -n "$xvfb" ] || return 0
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    xvfb=""
}

# A program's windows, found by title and driven with xdotool. The sourcing script sets $pid to
# the program's process and defines fail MESSAGE. The waits are generous: on a busy machine a
# window can take half a minute. They run in the sourcing shell, not in $(...), so that their
# fail ends the test; a program that has ended shows no window, which fails at once.
windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
wait_for() { # pattern count: waits for count windows with the title; they are in $found
    for _ in $(seq 1200); do
        found=$(windows "$1")
        [ "$(printf '%s\n' "$found" | grep -c .)" -ge "$2" ] && return 0
        # shellcheck disable=SC2154  # $pid: the sourcing script's
        kill -0 "$pid" 2>/dev/null || fail "the program ended while waiting for '$1'"
        sleep 0.1
    done
    fail "no window '$1' ($2)"
}
gone() { # pattern count: waits until fewer than count windows have the title
    for _ in $(seq 1200); do
        [ "$(windows "$1" | grep -c .)" -lt "$2" ] && return 0
        sleep 0.1
    done
    fail "window '$1' still open"
}
keys() { # window keys...
    target=$1
    shift
    xdotool windowfocus --sync "$target"
    xdotool key --delay 50 "$@"
}
typed() { # window text
    xdotool windowfocus --sync "$1"
    xdotool type --delay 20 "$2"
}
