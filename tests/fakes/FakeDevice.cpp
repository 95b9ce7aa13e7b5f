#include "FakeDevice.h"

#include "device/BootloaderDrive.h"
#include "device/BootloaderEntry.h"
#include "device/SerialPortDiscovery.h"
#include "device/SystemAwake.h"

#include <mutex>

namespace FakeDevice
{
namespace
{
std::mutex lock;
Hooks hooks;
Calls counts;

/** Counts the call and hands out a copy of its hook, so the hook runs without the lock. */
template <typename Hook>
Hook take (Hook Hooks::*hook, int Calls::*counter)
{
    const std::scoped_lock guard (lock);
    ++(counts.*counter);
    return hooks.*hook;
}
} // namespace

void script (Hooks newHooks)
{
    const std::scoped_lock guard (lock);
    hooks = std::move (newHooks);
    counts = {};
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

juce::File findBootloaderDrive()
{
    const auto hook = take (&Hooks::findBootloaderDrive, &Calls::findBootloaderDrive);
    return hook ? hook() : juce::File();
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

bool isOnMountedDrive (const juce::File& driveRoot, const juce::File& item)
{
    const auto hook = take (&Hooks::isOnMountedDrive, &Calls::isOnMountedDrive);
    return hook ? hook (driveRoot, item) : false;
}

int mountNewBootloaderDrives (const std::vector<std::string>& leaveAlone)
{
    std::function<int (const std::vector<std::string>&)> hook;

    {
        const std::scoped_lock guard (FakeDevice::lock);
        ++counts.mountNewBootloaderDrives;
        counts.mountLeaveAlone.push_back (leaveAlone);
        hook = hooks.mountNewBootloaderDrives;
    }

    return hook ? hook (leaveAlone) : 0;
}

std::optional<std::vector<std::string>> listKnownBootloaderDrives()
{
    const auto hook = take (&Hooks::listKnownBootloaderDrives, &Calls::listKnownBootloaderDrives);
    return hook ? hook() : std::nullopt;
}

struct KeepSystemAwake::Hold
{
};

KeepSystemAwake::KeepSystemAwake()
    : hold (std::make_unique<Hold>())
{
    const auto hook = take (&Hooks::keepSystemAwake, &Calls::systemAwakeTaken);

    if (hook)
        hook (true);
}

KeepSystemAwake::~KeepSystemAwake()
{
    const auto hook = take (&Hooks::keepSystemAwake, &Calls::systemAwakeReleased);

    if (hook)
        hook (false);
}

bool KeepSystemAwake::isHeld() const noexcept
{
    return true;
}
