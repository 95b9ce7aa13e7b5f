#include "device/BootloaderEntry.h"

#include "device/linux/LineSettings.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{
/** Owns an open descriptor; closes it on every path out of the call. */
class ScopedFd
{
public:
    explicit ScopedFd (int fdToOwn) noexcept
        : fd (fdToOwn) {}
    ~ScopedFd()
    {
        if (fd >= 0)
            ::close (fd);
    }

    ScopedFd (const ScopedFd&) = delete;
    ScopedFd& operator= (const ScopedFd&) = delete;

    int get() const noexcept { return fd; }
    bool isValid() const noexcept { return fd >= 0; }

private:
    int fd;
};

/** Clears our exclusive-open flag before the descriptor closes: on a tty that stays open
        elsewhere (a pty whose master is held) the flag would otherwise outlive this call.
    */
class ScopedExclusive
{
public:
    explicit ScopedExclusive (int ttyFd) noexcept
        : fd (ttyFd), held (::ioctl (fd, TIOCEXCL) == 0) {}
    ~ScopedExclusive()
    {
        if (held)
            ::ioctl (fd, TIOCNXCL);
    }

    ScopedExclusive (const ScopedExclusive&) = delete;
    ScopedExclusive& operator= (const ScopedExclusive&) = delete;

    bool isHeld() const noexcept { return held; }

private:
    int fd;
    bool held;
};

/** Raises or lowers DTR. A driver that has no modem control lines (a pty) answers ENOTTY or
        EINVAL. That does not fail the request: the keyboard restarts on the change to 1200 baud,
        which such a port still takes.
    */
bool setDtr (int fd, bool asserted)
{
    int lines = TIOCM_DTR;

    if (::ioctl (fd, asserted ? TIOCMBIS : TIOCMBIC, &lines) == 0)
        return true;

    return errno == ENOTTY || errno == EINVAL;
}
} // namespace

namespace serial
{

void setBootloaderRequestLine (termios& settings)
{
    cfsetispeed (&settings, B1200);
    cfsetospeed (&settings, B1200);
    settings.c_cflag &= ~static_cast<tcflag_t> (CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8;
}

bool isBootloaderRequestLine (const termios& settings)
{
    return cfgetospeed (&settings) == B1200
           && cfgetispeed (&settings) == B1200
           && (settings.c_cflag & CSIZE) == CS8
           && (settings.c_cflag & (PARENB | CSTOPB)) == 0;
}

} // namespace serial

bool enterBootloader (const std::string& portName)
{
    // No controlling terminal, and no waiting for carrier on open. No byte is read or written,
    // so the descriptor can stay non-blocking.
    ScopedFd port (::open (portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));

    if (! port.isValid())
        return false;

    // flock is the lock other serial tools honour; TIOCEXCL refuses later opens (root excepted).
    // A port that another program has locked fails here at once, before any pause.
    if (::flock (port.get(), LOCK_EX | LOCK_NB) != 0)
        return false;

    ScopedExclusive exclusive (port.get());

    if (! exclusive.isHeld())
        return false;

    termios settings {};

    if (::tcgetattr (port.get(), &settings) != 0)
        return false;

    serial::setBootloaderRequestLine (settings);

    if (! setDtr (port.get(), true))
        return false;

    if (::tcsetattr (port.get(), TCSANOW, &settings) != 0)
        return false;

    // tcsetattr succeeds when any part of the request was taken, so check what stuck. A read
    // that fails means the keyboard is already restarting, which is what was asked for.
    if (termios applied {}; ::tcgetattr (port.get(), &applied) == 0 && ! serial::isBootloaderRequestLine (applied))
        return false;

    using namespace std::chrono_literals;

    std::this_thread::sleep_for (50ms);

    // The keyboard may already have left for its bootloader, so a failure here means nothing.
    setDtr (port.get(), false);

    std::this_thread::sleep_for (50ms);
    return true;
}
