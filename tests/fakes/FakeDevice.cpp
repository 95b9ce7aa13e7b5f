#include "FakeDevice.h"

#include "device/BootloaderDrive.h"
#include "device/BootloaderEntry.h"
#include "device/SerialPortDiscovery.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <mutex>

#include <sys/syscall.h>
#include <unistd.h>

namespace FakeDevice
{
namespace
{
std::mutex lock;
Hooks hooks;
Calls counts;
FileFaults faults;
std::string faultFolder; // the real path of faults.root, with a trailing slash
bool failureSeen = false;
std::atomic<bool> faultsScripted { false };

/** Counts the call and hands out a copy of its hook, so the hook runs without the lock. */
template <typename Hook>
Hook take (Hook Hooks::*hook, int Calls::*counter)
{
    const std::scoped_lock guard (lock);
    ++(counts.*counter);
    return hooks.*hook;
}

std::string pathOfDescriptor (int fd)
{
    char path[PATH_MAX] = {};
    const auto link = "/proc/self/fd/" + std::to_string (fd);
    const auto length = ::readlink (link.c_str(), path, sizeof (path) - 1);
    return length > 0 ? std::string (path, (size_t) length) : std::string();
}

/** With the lock held: the failure callback, the first time only. */
std::function<void()> takeFirstFailureCallback()
{
    if (failureSeen)
        return {};

    failureSeen = true;
    return faults.onFirstFailure;
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

/** What a write or a sync of a descriptor may do under the scripted faults. */
struct Interception
{
    bool affected = false;
    size_t allowedBytes = 0;
    bool fails = false;
    int errorNumber = 0;
    std::function<void()> onFailure;
};

Interception interceptWrite (int fd, size_t count)
{
    Interception result;
    result.allowedBytes = count;

    if (! faultsScripted.load())
        return result;

    const auto path = pathOfDescriptor (fd);
    const std::scoped_lock guard (lock);

    if (faultFolder.empty() || path.rfind (faultFolder, 0) != 0)
        return result;

    result.affected = true;

    if (faults.bytesTaken >= 0)
    {
        const auto left = (size_t) juce::jmax ((juce::int64) 0, faults.bytesTaken - counts.bytesWritten);

        if (count > left)
        {
            result.allowedBytes = left;
            result.fails = left == 0;
            result.errorNumber = faults.errorNumber;
            result.onFailure = takeFirstFailureCallback();
        }
    }

    return result;
}

void countWritten (ssize_t written)
{
    if (written <= 0)
        return;

    const std::scoped_lock guard (lock);
    counts.bytesWritten += written;
}

Interception interceptSync (int fd)
{
    Interception result;

    if (! faultsScripted.load())
        return result;

    const auto path = pathOfDescriptor (fd);
    const std::scoped_lock guard (lock);

    if (faultFolder.empty() || path.rfind (faultFolder, 0) != 0)
        return result;

    result.affected = true;
    ++counts.syncs;

    if (faults.failingSyncsFrom > 0 && counts.syncs >= faults.failingSyncsFrom)
    {
        result.fails = true;
        result.errorNumber = faults.errorNumber;
        result.onFailure = takeFirstFailureCallback();
    }

    return result;
}
} // namespace

void script (Hooks newHooks)
{
    const std::scoped_lock guard (lock);
    hooks = std::move (newHooks);
    counts = {};
    faults = {};
    faultFolder.clear();
    failureSeen = false;
    faultsScripted = false;
}

void scriptFileFaults (FileFaults newFaults)
{
    char* real = ::realpath (newFaults.root.getFullPathName().toRawUTF8(), nullptr);
    const std::string folder = real != nullptr ? std::string (real) + "/" : std::string();
    std::free (real);

    const std::scoped_lock guard (lock);
    faults = std::move (newFaults);
    faultFolder = folder;
    failureSeen = false;
    counts.bytesWritten = 0;
    counts.syncs = 0;
    faultsScripted = ! faultFolder.empty();
}

void reset()
{
    script ({});
}

Calls calls()
{
    const std::scoped_lock guard (lock);
    return counts;
}

ScopedScript::ScopedScript (Hooks newHooks)
{
    script (std::move (newHooks));
}

ScopedScript::~ScopedScript()
{
    reset();
}
} // namespace FakeDevice

using namespace FakeDevice;

std::string findSerialPort()
{
    const auto hook = take (&Hooks::findSerialPort, &Calls::findSerialPort);
    return hook ? hook() : std::string();
}

std::vector<BootloaderDrive> listBootloaderDrives()
{
    const auto hook = take (&Hooks::listBootloaderDrives, &Calls::listBootloaderDrives);
    return hook ? hook() : std::vector<BootloaderDrive>();
}

std::vector<std::string> listCandidateDrives()
{
    const auto hook = take (&Hooks::listCandidateDrives, &Calls::listCandidateDrives);
    return hook ? hook() : std::vector<std::string>();
}

bool enterBootloader (const std::string& portName)
{
    std::function<bool (const std::string&)> hook;

    {
        const std::scoped_lock guard (FakeDevice::lock);
        ++counts.enterBootloader;
        counts.enterBootloaderPorts.push_back (portName);
        hook = hooks.enterBootloader;
    }

    return hook ? hook (portName) : false;
}

bool isOnDrive (const BootloaderDrive& drive, const juce::File& item)
{
    const auto hook = take (&Hooks::isOnDrive, &Calls::isOnDrive);
    return hook ? hook (drive, item) : false;
}

// The C library's write and fsync, as the program under test calls them (JUCE's file streams
// among others). Calls on anything but a file below the scripted folder go straight to the
// system; the others fail or are cut short as scripted.
extern "C" ssize_t write (int fd, const void* data, size_t count)
{
    const auto interception = interceptWrite (fd, count);

    if (interception.fails)
    {
        notify (interception.onFailure);
        errno = interception.errorNumber;
        return -1;
    }

    const auto written = (ssize_t)::syscall (SYS_write, fd, data, interception.allowedBytes);

    if (interception.affected)
        countWritten (written);

    notify (interception.onFailure);
    return written;
}

extern "C" int fsync (int fd)
{
    const auto interception = interceptSync (fd);

    if (interception.fails)
    {
        notify (interception.onFailure);
        errno = interception.errorNumber;
        return -1;
    }

    return (int) ::syscall (SYS_fsync, fd);
}
