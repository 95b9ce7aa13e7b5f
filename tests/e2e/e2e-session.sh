# Sourced by the end-to-end tests and scripts/e2e-screens: the unmodified program on a private
# Xvfb display, talking to a virtual keyboard and a local firmware server in its own namespaces
# (tools/virtual-hl73/hl73-sandbox), and helpers that read the outcome from the window itself.

e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$e2e_dir/../window/x11-session.sh"

title="VelmorHL73Updater Version 1.1.0"
sandbox="$e2e_dir/../../tools/virtual-hl73/hl73-sandbox"

# Where the screen shows what, in window coordinates.
button_area="200x60+200+190"
bar_area="520x16+40+270"
status_area="580x90+10+296"

# Fails unless everything the tests need is here, so that a missing tool is a failure and never
# a silent pass.
check_environment()
{
    local tool
    for tool in Xvfb openbox xdotool wmctrl xwininfo import convert tesseract unshare openssl ip; do
        command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"
    done
    [ -r /dev/fuse ] && [ -w /dev/fuse ] || fail "/dev/fuse is missing or not open to $(id -un): the virtual keyboard's drive needs FUSE"
    unshare --user --map-root-user --mount --net --pid --fork true 2>/dev/null \
        || fail "this system does not let $(id -un) make user, mount, network and PID namespaces"
}

# Makes a work folder (removed on success, kept on failure) with the firmware the tests serve:
# old.bin (the keyboard's current flash), new.bin and its image new.uf2, and broken.uf2 (new.uf2
# without its last block).
make_work()
{
    work=$(mktemp -d "${TMPDIR:-/tmp}/hl73-e2e.XXXXXX")
    e2e_keep=1
    trap 'e2e_cleanup' EXIT
    head -c 100000 /dev/urandom >"$work/old.bin"
    head -c 100000 /dev/urandom >"$work/new.bin"
    "$tools/hl73-uf2" "$work/new.bin" "$work/new.uf2"
    head -c -512 "$work/new.uf2" >"$work/broken.uf2"
    mkdir -p "$work/sandbox/keyboard"
    cp "$work/old.bin" "$work/sandbox/keyboard/flash.bin"
}

# Fails with the screen and its window tree kept in the work folder.
fail_with_screen()
{
    import -window root "$work/screen.png" 2>/dev/null || true
    xwininfo -root -tree >"$work/windows.txt" 2>&1 || true
    fail "$* (display $DISPLAY: $work/screen.png, $work/windows.txt)"
}

e2e_cleanup()
{
    local code=$?
    x11_cleanup
    if [ "$code" = 0 ] && [ "${e2e_keep:-1}" = 0 ]; then
        rm -rf "$work"
    elif [ -n "${work:-}" ]; then
        echo "kept for a look: $work (keyboard events: $work/sandbox/keyboard/events)" >&2
    fi
}

# Starts the program in its sandbox; the arguments go to hl73-sandbox (image, faults...). A
# command in program_wrapper (an array, e.g. strace and its options) runs the program.
program_wrapper=()
start_program()
{
    "$sandbox" --tools "$tools" --work "$work/sandbox" --host "$host" "$@" -- "${program_wrapper[@]}" "$program" \
        >"$work/sandbox.log" 2>&1 &
    program_pid=$!
    x11_pids+=("$program_pid")
    win=$(wait_for_window "$title" 30) || fail_with_screen "no window titled '$title' (see $work/sandbox.log)"
    sleep 0.5 # first paint

    # Every position read from the window assumes its fixed size.
    local w h
    read -r _ _ w h < <(client_geometry "$win")
    [ "$w" = 600 ] && [ "$h" = 400 ] || fail_with_screen "the window came up at ${w}x${h}, not 600x400"
}

# Prints the process id of the program itself, which runs a few processes below program_pid (the
# sandbox and its namespaces are in between).
program_process()
{
    local wanted pid queue=("$program_pid")
    wanted=$(realpath "$program")
    while [ ${#queue[@]} -gt 0 ]; do
        pid=${queue[0]}
        queue=("${queue[@]:1}")
        if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$wanted" ]; then
            echo "$pid"
            return 0
        fi
        queue+=($(cat /proc/"$pid"/task/*/children 2>/dev/null || true))
    done
    return 1
}

# Sends signal $1 (a name: TERM, INT, HUP) to the program itself.
signal_program()
{
    local pid
    pid=$(program_process) || fail "the program's process was not found below $program_pid"
    kill -s "$1" "$pid"
    echo "SIG$1 sent to the program (process $pid)"
}

# True while the program's window is on the screen.
window_shown()
{
    xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1
}

# Saves the program's window (inner area, 600x400) as $1.
capture()
{
    import -window "$win" "$1" 2>/dev/null
}

# Prints the text of one area of the window ($1: WxH+X+Y), read by OCR. The label's white text
# on dark grey is turned dark-on-light and scaled up, which tesseract reads reliably.
read_area()
{
    local area=$1 shot
    shot=$(mktemp "$work/shot.XXXXXX.png")
    capture "$shot"
    convert "$shot" +repage -crop "$area" +repage -colorspace Gray -negate -resize 300% "$shot.ocr.png"
    tesseract "$shot.ocr.png" stdout --psm 6 2>/dev/null | tr -s ' \n' '  ' | sed 's/^ *//; s/ *$//'
    rm -f "$shot" "$shot.ocr.png"
}

read_status() { read_area "$status_area"; }
read_button() { read_area "$button_area"; }

# True while the progress bar is on screen: its area is then more than the background's one colour.
bar_visible()
{
    local shot colours
    shot=$(mktemp "$work/bar.XXXXXX.png")
    capture "$shot"
    colours=$(convert "$shot" +repage -crop "$bar_area" +repage -format %k info:)
    rm -f "$shot"
    [ "$colours" -gt 1 ]
}

click_button()
{
    local x y
    read -r x y _ < <(client_geometry "$win")
    xdotool mousemove $((x + 300)) $((y + 220)) click 1
}

# The eight texts that end a run, with line breaks as spaces (OCR reads the lines, not the breaks).
message_error_1="Error 1: device not found. Make sure your VELMOR HL73 is connected to this computer."
message_error_2="Error 2: unable to download the firmware. Check your internet connection and retry."
message_error_3="Error 3: the downloaded firmware is not valid. Your device has not been changed."
message_error_4="Error 4: unable to talk to the device. Close any other application that may be using it, disconnect and reconnect it, then retry."
message_error_5="Error 5: the device did not respond. Disconnect and reconnect it, then retry."
message_error_6="Error 6: the update did not complete. Do not disconnect the device, and retry."
message_not_restarted="The firmware has been copied, but the device did not restart as expected. Turn it off and on again. If it does not work, contact support."
message_success="Your VELMOR HL73 has been updated."

is_final_message()
{
    case "$1" in
        "$message_error_1" | "$message_error_2" | "$message_error_3" | "$message_error_4" | "$message_error_5" \
            | "$message_error_6" | "$message_not_restarted" | "$message_success") return 0 ;;
    esac
    return 1
}

# Waits up to $1 seconds for the run to end: the bar gone and a closing message in the status
# line. Prints that message.
wait_for_outcome()
{
    local limit=$1 start text=""
    start=$(date +%s)
    while [ $(($(date +%s) - start)) -lt "$limit" ]; do
        if ! bar_visible; then
            text=$(read_status)
            is_final_message "$text" && { echo "$text"; return 0; }
        fi
        sleep 0.5
    done
    fail_with_screen "no closing message within $limit s; the status line reads '$text'"
}

# Waits up to $3 seconds for the area $1 of the window to read $2.
wait_for_text()
{
    local area=$1 wanted=$2 limit=$3 start text=""
    start=$(date +%s)
    while [ $(($(date +%s) - start)) -lt "$limit" ]; do
        text=$(read_area "$area")
        [ "$text" = "$wanted" ] && return 0
        sleep 0.3
    done
    fail_with_screen "the window did not read '$wanted' at $area within $limit s; it reads '$text'"
}

wait_for_status() { wait_for_text "$status_area" "$1" "$2"; }

# Waits up to $2 seconds for the virtual keyboard to log an event that starts with $1.
wait_for_event()
{
    local event=$1 limit=$2
    for _ in $(seq $((limit * 20))); do
        grep -q "^[0-9]* $event" "$work/sandbox/keyboard/events" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "the keyboard did not log '$event' within $limit s"
}

count_events() { grep -c "^[0-9]* $1" "$work/sandbox/keyboard/events" || true; }
