#pragma once

#include "FakeDevice.h"
#include "TempDrive.h"

#include <functional>
#include <mutex>

/** How the scripted keyboard behaves during a run. It starts as a serial port, as a bootloader
    drive, or as both (a second keyboard, say).
*/
struct KeyboardScript
{
    bool serialPortAtStart = true;
    bool driveAtStart = false;
    bool acceptsRestartRequest = true;
    bool driveAppearsAfterRequest = true;
    bool driveTakesTheFile = true; // false: its volume never accepts a file
    bool restartsWhenImageWritten = true;
    bool portReturnsAfterRestart = true;
    int emptyPortTestsAfterRestart = 0; // port tests after the restart that still see nothing
    bool anotherDriveStays = false; // after the restart, another bootloader drive is there
};

/** A keyboard played through the fake device layer: a serial port, a bootloader drive in a
    temporary directory, and a restart once the whole image has been written to that drive.
*/
class FakeKeyboard
{
public:
    FakeKeyboard (KeyboardScript script, juce::MemoryBlock expectedImage, std::function<bool()> isBusy);

    /** Port name while the keyboard runs its firmware. */
    static constexpr const char* portName = "ttyACM7";

    const TempDrive drive;
    const TempDrive otherDrive;

    /** isBusy at each restart request. */
    std::vector<bool> busyAtRestartRequests() const;

    /** isBusy at each port test after the keyboard restarted. */
    std::vector<bool> busyAtPortTestsAfterRestart() const;

    bool imageArrived() const;

private:
    enum class State
    {
        firmware,
        bootloader,
        restarted
    };

    std::string findSerialPort();
    juce::File findBootloaderDrive();
    bool enterBootloader();
    bool isOnMountedDrive (const juce::File& root, const juce::File& item);

    const KeyboardScript script;
    const juce::MemoryBlock expectedImage;
    const std::function<bool()> isBusy;

    mutable std::mutex lock;
    State state;
    std::vector<bool> busyAtRequests, busyAtPortTests;
    FakeDevice::ScopedScript device;
};
