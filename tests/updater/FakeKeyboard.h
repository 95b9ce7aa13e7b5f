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

    /** The drive present at the start is unplugged and plugged back after the first look at
        the drives: the same folder, another device.
    */
    bool drivePluggedBackAfterFirstLook = false;

    /** The cable is pulled once the drive has taken this many bytes of files: the write that
        gets there is cut short, later ones fail with EIO, the drive is gone and the keyboard
        never comes back. Negative: never.
    */
    juce::int64 cablePulledAfterBytes = -1;

    /** The drive's syncs from this one on fail with EIO (counting from 1); 0: none fails. */
    int failingSyncsFrom = 0;

    /** Another RP2 board in its bootloader, beside the keyboard. */
    enum class OtherBoard
    {
        none,
        mounted, // its drive is mounted all along
        mountedAfterRequest, // its device is there all along, its drive mounted only after the restart request
        appearsAfterRequest, // plugged in just after the restart request, at the keyboard's drive's moment
        appearsAfterRestart // plugged in after the keyboard restarted, and stays
    };

    OtherBoard otherBoard = OtherBoard::none;
};

/** A keyboard played through the fake device layer: a serial port, a bootloader drive in a
    temporary directory, and a restart once the whole image has been written to that drive;
    optionally another board's bootloader drive beside it.
*/
class FakeKeyboard
{
public:
    FakeKeyboard (KeyboardScript script, juce::MemoryBlock expectedImage, std::function<bool()> isBusy);

    /** Port name while the keyboard runs its firmware. */
    static constexpr const char* portName = "ttyACM7";

    /** Device identities: the keyboard's drive, the same after being plugged back, the other
        board's drive.
    */
    static constexpr const char* driveIdentity = "8:33";
    static constexpr const char* pluggedBackIdentity = "8:49";
    static constexpr const char* otherIdentity = "8:17";

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
        restarted,
        unplugged
    };

    std::string findSerialPort();
    std::vector<BootloaderDrive> listBootloaderDrives();
    bool enterBootloader();
    bool isOnDrive (const BootloaderDrive& target, const juce::File& item);

    /** With the lock held: the drives present now. */
    std::vector<BootloaderDrive> presentDrives() const;

    const KeyboardScript script;
    const juce::MemoryBlock expectedImage;
    const std::function<bool()> isBusy;

    mutable std::mutex lock;
    State state;
    bool requestSent = false;
    int looksAtDrives = 0;
    std::vector<bool> busyAtRequests, busyAtPortTests;
    FakeDevice::ScopedScript device;
};
