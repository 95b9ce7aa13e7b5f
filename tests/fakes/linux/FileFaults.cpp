// The C library's write and fsync, as the program under test calls them (JUCE's file streams
// among others), defined again in the test program so that the fake device's file faults apply.
// Calls on anything but a file below the scripted folder go straight to the system.

#include "FileFaultHooks.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <sys/syscall.h>
#include <unistd.h>

namespace
{
using namespace FakeDevice::FileFaultHooks;

std::string pathOfDescriptor (int fd)
{
    char path[PATH_MAX] = {};
    const auto link = "/proc/self/fd/" + std::to_string (fd);
    const auto length = ::readlink (link.c_str(), path, sizeof (path) - 1);
    return length > 0 ? std::string (path, (size_t) length) : std::string();
}

/** Runs the callback (if any) without disturbing errno. */
void notify (const std::function<void()>& callback)
{
    if (! callback)
        return;

    const auto savedErrno = errno;
    callback();
    errno = savedErrno;
}
} // namespace

std::string FakeDevice::FileFaultHooks::canonicalFolderPath (const juce::File& folder)
{
    char* real = ::realpath (folder.getFullPathName().toRawUTF8(), nullptr);
    const std::string path = real != nullptr ? std::string (real) + "/" : std::string();
    std::free (real);
    return path;
}

extern "C" ssize_t write (int fd, const void* data, size_t count)
{
    if (! isScripted())
        return (ssize_t)::syscall (SYS_write, fd, data, count);

    const auto decision = beforeWrite (pathOfDescriptor (fd), count);

    if (decision.fails)
    {
        notify (decision.onFailure);
        errno = decision.errorNumber;
        return -1;
    }

    const auto written = (ssize_t)::syscall (SYS_write, fd, data, decision.affected ? decision.allowedBytes : count);

    if (decision.affected)
        afterWrite (written);

    notify (decision.onFailure);
    return written;
}

extern "C" int fsync (int fd)
{
    if (isScripted())
    {
        const auto decision = beforeSync (pathOfDescriptor (fd));

        if (decision.fails)
        {
            notify (decision.onFailure);
            errno = decision.errorNumber;
            return -1;
        }
    }

    return (int) ::syscall (SYS_fsync, fd);
}
