#include "device/BootloaderEntry.h"
#include "device/linux/LineSettings.h"

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

/** A pseudo terminal standing in for the keyboard's port: a port without modem lines. */
class FakePort
{
public:
    FakePort()
    {
        master = ::posix_openpt (O_RDWR | O_NOCTTY | O_CLOEXEC);

        if (master >= 0 && ::grantpt (master) == 0 && ::unlockpt (master) == 0)
            if (const auto* name = ::ptsname (master))
                slavePath = name;

        // Settings the call must change (speed, stop bits) and leave alone (the rest). A pty
        // keeps 8 data bits without parity whatever it is told; LineSettings covers those.
        termios settings {};
        ::tcgetattr (master, &settings);
        cfsetispeed (&settings, B9600);
        cfsetospeed (&settings, B9600);
        settings.c_cflag = static_cast<tcflag_t> ((settings.c_cflag & ~static_cast<tcflag_t> (CSIZE)) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS);
        settings.c_iflag |= IXON | IXOFF;
        settings.c_lflag &= ~static_cast<tcflag_t> (ICANON | ECHO);
        settings.c_cc[VMIN] = 5;
        settings.c_cc[VTIME] = 3;
        settings.c_cc[VSTART] = 0x11;
        ::tcsetattr (master, TCSANOW, &settings);
    }

    ~FakePort()
    {
        if (master >= 0)
            ::close (master);
    }

    /** The port's settings as seen from the master side. */
    termios settings() const
    {
        termios current {};
        ::tcgetattr (master, &current);
        return current;
    }

    /** Opens the port as another program would. */
    int openSlave() const { return ::open (slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }

    int master = -1;
    std::string slavePath;
};

speed_t outputSpeed (const termios& settings) { return cfgetospeed (&settings); }

bool isExclusive (int fd)
{
    int exclusive = 0;
    return ::ioctl (fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

bool canLock (int fd)
{
    if (::flock (fd, LOCK_EX | LOCK_NB) != 0)
        return false;

    ::flock (fd, LOCK_UN);
    return true;
}
} // namespace

TEST (BootloaderEntry, SetsTheLineTo1200Baud8N1WhileHoldingThePortExclusively)
{
    FakePort port;
    ASSERT_FALSE (port.slavePath.empty());
    const auto before = port.settings();

    const int observer = port.openSlave();
    ASSERT_GE (observer, 0);

    const auto start = Clock::now();
    auto call = std::async (std::launch::async, [&]
                            { return enterBootloader (port.slavePath); });

    bool seen1200WhileHeld = false, seenExclusive = false, seenLocked = false;

    while (call.wait_for (1ms) != std::future_status::ready)
    {
        if (outputSpeed (port.settings()) == B1200 && ! seen1200WhileHeld)
        {
            seen1200WhileHeld = true;
            seenExclusive = isExclusive (observer);
            seenLocked = ! canLock (observer);
        }
    }

    const auto elapsed = Clock::now() - start;

    EXPECT_TRUE (call.get());
    EXPECT_TRUE (seen1200WhileHeld);
    EXPECT_TRUE (seenExclusive);
    EXPECT_TRUE (seenLocked);

    EXPECT_GE (elapsed, 100ms);
    EXPECT_LT (elapsed, 1000ms);

    // Released: other programs may open and lock the port again.
    EXPECT_FALSE (isExclusive (observer));
    EXPECT_TRUE (canLock (observer));
    ::close (observer);

    const auto after = port.settings();
    EXPECT_EQ (cfgetispeed (&after), B1200);
    EXPECT_EQ (cfgetospeed (&after), B1200);
    EXPECT_EQ (after.c_cflag & CSIZE, static_cast<tcflag_t> (CS8));
    EXPECT_EQ (after.c_cflag & (PARENB | CSTOPB), 0u);

    // Everything else as it was: flow control, odd-parity flag, modes, special characters.
    const auto changed = static_cast<tcflag_t> (CSIZE | PARENB | CSTOPB | CBAUD | CBAUDEX);
    EXPECT_EQ (after.c_cflag & ~changed, before.c_cflag & ~changed);
    EXPECT_EQ (after.c_iflag, before.c_iflag);
    EXPECT_EQ (after.c_oflag, before.c_oflag);
    EXPECT_EQ (after.c_lflag, before.c_lflag);

    for (size_t i = 0; i < NCCS; ++i)
        EXPECT_EQ (after.c_cc[i], before.c_cc[i]) << "c_cc[" << i << "]";
}

TEST (BootloaderEntry, RefusesAtOnceWhatItCannotOpenOrSet)
{
    TempTree tree;
    tree.write ("plain-file", "not a port");

    struct Case
    {
        const char* description;
        bool needsUnprivilegedUser; // root opens an exclusive tty anyway
        std::function<std::string (FakePort&, int& holder)> prepare;
    };

    const Case cases[] = {
        { "missing port", false, [&] (FakePort&, int&)
          { return tree.path ("ttyACM0"); } },
        { "a file that is not a port", false, [&] (FakePort&, int&)
          { return tree.path ("plain-file"); } },
        { "a device that is not a port", false, [] (FakePort&, int&)
          { return std::string ("/dev/null"); } },
        { "port locked by another program",
          false,
          [] (FakePort& port, int& holder)
          {
              holder = port.openSlave();
              ::flock (holder, LOCK_EX | LOCK_NB);
              return port.slavePath;
          } },
        { "port opened exclusively by another program",
          true,
          [] (FakePort& port, int& holder)
          {
              holder = port.openSlave();
              ::ioctl (holder, TIOCEXCL);
              return port.slavePath;
          } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.description);

        if (c.needsUnprivilegedUser && ::geteuid() == 0)
            continue;

        FakePort port;
        int holder = -1;
        const auto path = c.prepare (port, holder);

        const auto start = Clock::now();
        EXPECT_FALSE (enterBootloader (path));
        EXPECT_LT (Clock::now() - start, 50ms); // no pause taken

        EXPECT_EQ (outputSpeed (port.settings()), B9600); // nothing sent

        if (holder >= 0)
            ::close (holder);
    }
}

TEST (BootloaderEntry, LineSettingsChangeOnlySpeedAndCharacterFormat)
{
    termios settings {};
    cfsetispeed (&settings, B115200);
    cfsetospeed (&settings, B9600);
    settings.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | HUPCL | CREAD;
    settings.c_iflag = IXON | IXOFF | ICRNL;
    settings.c_lflag = ICANON;
    settings.c_cc[VMIN] = 7;
    const auto before = settings;

    EXPECT_FALSE (serial::isBootloaderRequestLine (settings));
    serial::setBootloaderRequestLine (settings);
    EXPECT_TRUE (serial::isBootloaderRequestLine (settings));

    EXPECT_EQ (cfgetispeed (&settings), B1200);
    EXPECT_EQ (cfgetospeed (&settings), B1200);
    EXPECT_EQ (settings.c_cflag & CSIZE, static_cast<tcflag_t> (CS8));
    EXPECT_EQ (settings.c_cflag & (PARENB | CSTOPB), 0u);

    const auto kept = static_cast<tcflag_t> (PARODD | CRTSCTS | CLOCAL | HUPCL | CREAD);
    EXPECT_EQ (settings.c_cflag & kept, before.c_cflag & kept);
    EXPECT_EQ (settings.c_iflag, before.c_iflag);
    EXPECT_EQ (settings.c_lflag, before.c_lflag);
    EXPECT_EQ (settings.c_cc[VMIN], 7);

    // What a driver might make of the request: each shortfall is caught.
    for (const auto& spoil : std::initializer_list<std::function<void (termios&)>> { [] (termios& t)
                                                                                     { cfsetospeed (&t, B9600); },
                                                                                     [] (termios& t)
                                                                                     { cfsetispeed (&t, B2400); },
                                                                                     [] (termios& t)
                                                                                     { t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t> (CSIZE)) | CS7; },
                                                                                     [] (termios& t)
                                                                                     { t.c_cflag |= PARENB; },
                                                                                     [] (termios& t)
                                                                                     { t.c_cflag |= CSTOPB; } })
    {
        auto spoilt = settings;
        spoil (spoilt);
        EXPECT_FALSE (serial::isBootloaderRequestLine (spoilt));
    }
}
