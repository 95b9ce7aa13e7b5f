# Sourced by the window tests: starts a private Xvfb display with openbox on it, and helpers to
# find and inspect the program's window. Everything started here is stopped on exit.

set -euo pipefail

x11_pids=()
x11_cleanup()
{
    local pid
    for pid in "${x11_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap x11_cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts Xvfb on the first free display number and exports DISPLAY.
start_x11()
{
    local fifo_dir display
    fifo_dir=$(mktemp -d)
    mkfifo "$fifo_dir/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo_dir/display" 2>/dev/null &
    x11_pids+=($!)
    read -r -t 10 display <"$fifo_dir/display" || { rm -rf "$fifo_dir"; fail "Xvfb did not start"; }
    rm -rf "$fifo_dir"
    export DISPLAY=":$display"

    # Ready once it has published its work area, which it does after taking over the screen;
    # a loaded machine can take several seconds. Seen rarely on a busy machine: openbox ending at
    # start without a word; it is then started again (at most three times), and what it said is
    # shown if it never comes up.
    local wm_log wm_pid starts=0 start
    wm_log=$(mktemp)
    start=$(date +%s)
    while [ $(($(date +%s) - start)) -lt 45 ]; do
        if [ -z "${wm_pid:-}" ] || ! kill -0 "$wm_pid" 2>/dev/null; then
            [ "$starts" -lt 3 ] || break
            openbox --sm-disable >>"$wm_log" 2>&1 &
            wm_pid=$!
            x11_pids+=($wm_pid)
            starts=$((starts + 1))
        fi
        if xprop -root _NET_WORKAREA 2>/dev/null | grep -q =; then
            rm -f "$wm_log"
            return 0
        fi
        sleep 0.1
    done
    echo "openbox, started $starts times, said:" >&2
    cat "$wm_log" >&2
    rm -f "$wm_log"
    fail "openbox did not start within 45 s"
}

# Prints the id of the first visible window whose title is $1, waiting up to $2 seconds.
wait_for_window()
{
    local title=$1 limit=${2:-15} id
    for _ in $(seq $((limit * 10))); do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# Waits up to $2 seconds for child process $1 to end and sets exit_code to its status. Call it
# directly, not in $(...): only the shell that started a process can collect its status.
wait_for_exit()
{
    local pid=$1 limit=${2:-10}
    for _ in $(seq $((limit * 10))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            exit_code=0
            wait "$pid" || exit_code=$?
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Inner geometry of window $1 as "x y width height" (root coordinates of the client area).
client_geometry()
{
    xwininfo -id "$1" | awk '
        /Absolute upper-left X/ { x = $NF }
        /Absolute upper-left Y/ { y = $NF }
        /^ *Width:/ { w = $NF }
        /^ *Height:/ { h = $NF }
        END { print x, y, w, h }'
}
