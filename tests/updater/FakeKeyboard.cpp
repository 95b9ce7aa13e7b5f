#include "FakeKeyboard.h"

namespace
{
FakeDevice::Hooks hooksFor (std::function<std::string()> port,
                            std::function<std::vector<BootloaderDrive>()> drives,
                            std::function<bool (const std::string&)> enter,
                            std::function<bool (const BootloaderDrive&, const juce::File&)> onDrive)
{
    FakeDevice::Hooks hooks;
    hooks.findSerialPort = std::move (port);
    hooks.listBootloaderDrives = std::move (drives);
    hooks.enterBootloader = std::move (enter);
    hooks.isOnDrive = std::move (onDrive);
    return hooks;
}
} // namespace

FakeKeyboard::FakeKeyboard (KeyboardScript scriptToUse, juce::MemoryBlock image, std::function<bool()> isBusyFunction)
    : script (scriptToUse)
    , expectedImage (std::move (image))
    , isBusy (std::move (isBusyFunction))
    , state (scriptToUse.driveAtStart ? State::bootloader : State::firmware)
    , device (hooksFor ([this]
                        { return findSerialPort(); },
                        [this]
                        { return listBootloaderDrives(); },
                        [this] (const std::string&)
                        { return enterBootloader(); },
                        [this] (const BootloaderDrive& target, const juce::File& item)
                        { return isOnDrive (target, item); }))
{
    if (script.cablePulledAfterBytes >= 0 || script.failingSyncsFrom > 0)
    {
        FakeDevice::FileFaults faults;
        faults.root = drive.root;
        faults.bytesTaken = script.cablePulledAfterBytes;
        faults.failingSyncsFrom = script.failingSyncsFrom;

        if (script.cablePulledAfterBytes >= 0)
            faults.onFirstFailure = [this]
            {
                const std::scoped_lock guard (lock);
                state = State::unplugged;
            };

        FakeDevice::scriptFileFaults (faults);
    }
}

std::vector<bool> FakeKeyboard::busyAtRestartRequests() const
{
    const std::scoped_lock guard (lock);
    return busyAtRequests;
}

std::vector<bool> FakeKeyboard::busyAtPortTestsAfterRestart() const
{
    const std::scoped_lock guard (lock);
    return busyAtPortTests;
}

bool FakeKeyboard::imageArrived() const
{
    juce::MemoryBlock written;
    return drive.image().loadFileAsData (written) && written == expectedImage;
}

std::string FakeKeyboard::findSerialPort()
{
    const std::scoped_lock guard (lock);

    switch (state)
    {
        case State::firmware:
            return portName;

        case State::bootloader:
            // Both at once: a second keyboard, say, still runs its firmware.
            return script.serialPortAtStart && script.driveAtStart ? portName : "";

        case State::restarted:
            busyAtPortTests.push_back (isBusy());
            return script.portReturnsAfterRestart && (int) busyAtPortTests.size() > script.emptyPortTestsAfterRestart ? portName : "";

        case State::unplugged:
            return {};
    }

    return {};
}

std::vector<BootloaderDrive> FakeKeyboard::listBootloaderDrives()
{
    const std::scoped_lock guard (lock);

    if (state == State::bootloader && script.restartsWhenImageWritten && imageArrived())
        state = State::restarted;

    auto drives = presentDrives();
    ++looksAtDrives;
    return drives;
}

std::vector<BootloaderDrive> FakeKeyboard::presentDrives() const
{
    using OtherBoard = KeyboardScript::OtherBoard;
    std::vector<BootloaderDrive> drives;

    const auto otherThere = script.otherBoard == OtherBoard::mounted || script.otherBoard == OtherBoard::mountedAfterRequest
                            || (script.otherBoard == OtherBoard::appearsAfterRequest && requestSent)
                            || (script.otherBoard == OtherBoard::appearsAfterRestart && state == State::restarted);
    const auto otherMounted = otherThere && (script.otherBoard != OtherBoard::mountedAfterRequest || requestSent);

    // The listing's order: mounted drives by path, then devices without a volume mounted.
    if (otherMounted)
        drives.push_back ({ otherIdentity, otherDrive.root });

    if (state == State::bootloader)
    {
        const auto pluggedBack = script.drivePluggedBackAfterFirstLook && looksAtDrives > 0;
        drives.push_back ({ pluggedBack ? pluggedBackIdentity : driveIdentity, drive.root });
    }

    if (otherThere && ! otherMounted)
        drives.push_back ({ otherIdentity, {} });

    return drives;
}

bool FakeKeyboard::enterBootloader()
{
    const std::scoped_lock guard (lock);
    busyAtRequests.push_back (isBusy());
    requestSent = true;

    if (script.acceptsRestartRequest && script.driveAppearsAfterRequest)
        state = State::bootloader;

    return script.acceptsRestartRequest;
}

bool FakeKeyboard::isOnDrive (const BootloaderDrive& target, const juce::File& item)
{
    const std::scoped_lock guard (lock);

    if (target.root == drive.root && ! script.driveTakesTheFile)
        return false;

    const auto drives = presentDrives();
    const auto mountedNow = std::find (drives.begin(), drives.end(), target) != drives.end();
    return mountedNow && target.isMounted() && (item == target.root || item.isAChildOf (target.root));
}
