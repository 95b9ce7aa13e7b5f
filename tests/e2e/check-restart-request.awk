# Checks the restart request on the keyboard's port in one thread's system calls, as recorded by
# `strace -ff -ttt -e trace=openat,close,flock,ioctl`: the port opened exclusively and locked, the
# line set to 1200 baud 8N1 with DTR asserted, at least 40 ms, DTR dropped, at least 40 ms, the
# port closed. Prints the calls on the port; exits 1 with the reason when the sequence is wrong.
# Only lower bounds are checked for the pauses: a loaded machine can only make them longer.
# Usage: awk -v port=/dev/ttyACM1 -f check-restart-request.awk TRACE_FILE

function fail(reason)
{
    print "restart request: " reason > "/dev/stderr"
    failed = 1
    exit 1
}

function result(line)
{
    # The number after the last " = ".
    sub(/.* = /, "", line)
    return line + 0
}

BEGIN { fd = -1; minPause = 0.040 }

fd < 0 && index($0, "openat(AT_FDCWD, \"" port "\", ") {
    print
    if ($0 !~ /O_RDWR/ || $0 !~ /O_NOCTTY/ || $0 !~ /O_NONBLOCK/)
        fail("the port was not opened read-write with O_NOCTTY and O_NONBLOCK")
    fd = result($0)
    if (fd < 0)
        fail("the port could not be opened")
    opened = $1
    next
}

fd < 0 || closed { next }

# Only the calls on the port's descriptor count from here.
index($2, "(" fd ",") == 0 && index($2, "(" fd ")") == 0 { next }

{
    print
    time = $1
}

$2 ~ /^flock\(/ {
    if ($0 !~ /LOCK_EX\|LOCK_NB/ || result($0) != 0)
        fail("the port was not locked with flock(LOCK_EX|LOCK_NB)")
    if (calls++ > 0)
        fail("flock was not the first call on the port")
    locked = 1
    next
}

{ calls++ }

/TIOCEXCL/ {
    if (! locked || result($0) != 0)
        fail("TIOCEXCL failed or came before the lock")
    exclusive = 1
    next
}

/TCSETS[WF]?,/ {
    if (! exclusive)
        fail("the line was changed before the port was held exclusively")
    if (lineSetAt != "")
        next
    cflag = $0
    sub(/.*c_cflag=/, "", cflag)
    sub(/,.*/, "", cflag)
    if (cflag !~ /(^|\|)B1200(\||$)/ || cflag !~ /(^|\|)CS8(\||$)/ || cflag ~ /PARENB|CSTOPB/)
        fail("the line was set to c_cflag " cflag ", not 1200 baud 8N1")
    if (result($0) != 0)
        fail("setting the line failed")
    lineSetAt = time
    next
}

/TIOCMBIS, \[TIOCM_DTR/ {
    if (! exclusive)
        fail("DTR was raised before the port was held exclusively")
    dtrUpAt = time
    next
}

/TIOCMBIC, \[TIOCM_DTR/ {
    if (lineSetAt == "" || dtrUpAt == "")
        fail("DTR was dropped before the line was set to 1200 baud with DTR asserted")
    if (dtrDownAt != "")
        next
    ready = lineSetAt > dtrUpAt ? lineSetAt : dtrUpAt
    if (time - ready < minPause)
        fail(sprintf("DTR was dropped %.1f ms after the line was set, not at least 40 ms", (time - ready) * 1000))
    dtrDownAt = time
    next
}

$2 ~ /^close\(/ {
    closed = 1
    closedAt = time
    next
}

END {
    if (failed)
        exit 1
    if (fd < 0)
        fail("the port " port " was never opened")
    if (lineSetAt == "")
        fail("the line was never set to 1200 baud 8N1")
    if (dtrUpAt == "")
        fail("DTR was never asserted (TIOCMBIS)")
    if (dtrDownAt == "")
        fail("DTR was never dropped (TIOCMBIC)")
    if (! closed)
        fail("the port was not closed")
    if (closedAt - dtrDownAt < minPause)
        fail(sprintf("the port was closed %.1f ms after DTR was dropped, not at least 40 ms", (closedAt - dtrDownAt) * 1000))
    printf "restart request: line set and DTR asserted, %.1f ms, DTR dropped, %.1f ms, closed\n", \
        (dtrDownAt - (lineSetAt > dtrUpAt ? lineSetAt : dtrUpAt)) * 1000, (closedAt - dtrDownAt) * 1000
}
