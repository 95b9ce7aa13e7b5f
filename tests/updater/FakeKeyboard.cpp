#include "FakeKeyboard.h"

namespace
{
FakeDevice::Hooks hooksFor (std::function<std::string()> port,
                            std::function<juce::File()> drive,
                            std::function<bool (const std::string&)> enter,
                            std::function<bool (const juce::File&, const juce::File&)> mounted)
{
    FakeDevice::Hooks hooks;
    hooks.findSerialPort = std::move (port);
    hooks.findBootloaderDrive = std::move (drive);
    hooks.enterBootloader = std::move (enter);
    hooks.isOnMountedDrive = std::move (mounted);
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
                        { return findBootloaderDrive(); },
                        [this] (const std::string&)
                        { return enterBootloader(); },
                        [this] (const juce::File& root, const juce::File& item)
                        { return isOnMountedDrive (root, item); }))
{
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
    }

    return {};
}

juce::File FakeKeyboard::findBootloaderDrive()
{
    const std::scoped_lock guard (lock);

    if (state == State::bootloader && script.restartsWhenImageWritten && imageArrived())
        state = State::restarted;

    if (state == State::bootloader)
        return drive.root;

    return state == State::restarted && script.anotherDriveStays ? otherDrive.root : juce::File();
}

bool FakeKeyboard::enterBootloader()
{
    const std::scoped_lock guard (lock);
    busyAtRequests.push_back (isBusy());

    if (script.acceptsRestartRequest && script.driveAppearsAfterRequest)
        state = State::bootloader;

    return script.acceptsRestartRequest;
}

bool FakeKeyboard::isOnMountedDrive (const juce::File& root, const juce::File& item)
{
    const std::scoped_lock guard (lock);
    return script.driveTakesTheFile && state == State::bootloader && root == drive.root
           && (item == root || item.isAChildOf (root));
}
