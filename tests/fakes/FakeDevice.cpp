#include "FakeDevice.h"

#include "device/BootloaderDrive.h"
#include "device/BootloaderEntry.h"
#include "device/SerialPortDiscovery.h"

#include "FileFaultHooks.h"

#include <atomic>
#include <mutex>

namespace FakeDevice
{
namespace
{
std::mutex lock;
Hooks hooks;
Calls counts;
FileFaults faults;
std::string faultFolder; // the canonical path of faults.root, with a trailing separator
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

/** With the lock held: the failure callback, the first time only. */
std::function<void()> takeFirstFailureCallback()
{
    if (failureSeen)
        return {};

    failureSeen = true;
    return faults.onFirstFailure;
}

/** With the lock held: true when the file lies below the scripted folder. */
bool isFaulty (const std::string& filePath)
{
    return ! faultFolder.empty() && filePath.rfind (faultFolder, 0) == 0;
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
    const auto folder = FileFaultHooks::canonicalFolderPath (newFaults.root);

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
namespace FileFaultHooks
{
bool isScripted()
{
    return faultsScripted.load();
}

Decision beforeWrite (const std::string& filePath, size_t count)
{
    Decision decision;
    const std::scoped_lock guard (lock);

    if (! isFaulty (filePath))
        return decision;

    decision.affected = true;
    decision.allowedBytes = count;

    if (faults.bytesTaken >= 0)
    {
        const auto left = (size_t) juce::jmax ((juce::int64) 0, faults.bytesTaken - counts.bytesWritten);

        if (count > left)
        {
            decision.allowedBytes = left;
            decision.fails = left == 0;
            decision.errorNumber = faults.errorNumber;
            decision.onFailure = takeFirstFailureCallback();
        }
    }

    return decision;
}

void afterWrite (juce::int64 written)
{
    if (written <= 0)
        return;

    const std::scoped_lock guard (lock);
    counts.bytesWritten += written;
}

Decision beforeSync (const std::string& filePath)
{
    Decision decision;
    const std::scoped_lock guard (lock);

    if (! isFaulty (filePath))
        return decision;

    decision.affected = true;
    ++counts.syncs;

    if (faults.failingSyncsFrom > 0 && counts.syncs >= faults.failingSyncsFrom)
    {
        decision.fails = true;
        decision.errorNumber = faults.errorNumber;
        decision.onFailure = takeFirstFailureCallback();
    }

    return decision;
}
} // namespace FileFaultHooks
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
