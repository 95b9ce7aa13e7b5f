#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

/** A scriptable stand-in for the device layer, linked in place of an OS implementation.

    It defines findSerialPort, findBootloaderDrive, listCandidateDrives, enterBootloader,
    isOnMountedDrive, mountNewBootloaderDrives, listKnownBootloaderDrives and KeepSystemAwake.
    Each one calls its hook when the test has set one; without a hook it answers "nothing
    present": no port, no drive, no candidates, a refused restart request, no volume mounted
    anywhere, nothing to mount, a disk service that cannot be asked, and a system that keeps
    awake. Every call is counted; KeepSystemAwake's taking and release are counted too, and its
    hook sees both as they happen.

    All functions are thread-safe. Each call runs a copy of its hook without the fake's lock held,
    so a hook may block, call other device operations or replace the script; keep a hook's state
    outside it (captured by reference), since a mutable lambda's own copy does not persist.

    @code
    FakeDevice::Hooks hooks;
    hooks.findSerialPort = [] { return std::string ("ttyACM0"); };
    const FakeDevice::ScopedScript device (hooks);
    ...
    EXPECT_EQ (FakeDevice::calls().enterBootloader, 1);
    @endcode
*/
namespace FakeDevice
{
/** One hook per device operation; an empty hook means "nothing present". */
struct Hooks
{
    std::function<std::string()> findSerialPort;
    std::function<juce::File()> findBootloaderDrive;
    std::function<std::vector<std::string>()> listCandidateDrives;
    std::function<bool (const std::string& portName)> enterBootloader;
    std::function<bool (const juce::File& driveRoot, const juce::File& item)> isOnMountedDrive;
    std::function<int (const std::vector<std::string>& leaveAlone)> mountNewBootloaderDrives;
    std::function<std::optional<std::vector<std::string>>()> listKnownBootloaderDrives;

    /** Called with true when a KeepSystemAwake is made and false when it is destroyed. */
    std::function<void (bool taken)> keepSystemAwake;
};

/** How often each operation has been called since the last script or reset. */
struct Calls
{
    int findSerialPort = 0;
    int findBootloaderDrive = 0;
    int listCandidateDrives = 0;
    int enterBootloader = 0;
    int isOnMountedDrive = 0;

    int mountNewBootloaderDrives = 0;
    int listKnownBootloaderDrives = 0;

    /** How many KeepSystemAwake objects were made, and how many of them destroyed. */
    int systemAwakeTaken = 0;
    int systemAwakeReleased = 0;

    /** The port names passed to enterBootloader, in call order. */
    std::vector<std::string> enterBootloaderPorts;

    /** The identities passed to mountNewBootloaderDrives, one list per call. */
    std::vector<std::vector<std::string>> mountLeaveAlone;
};

/** Replaces every hook and clears the call counts. */
void script (Hooks hooks);

/** Back to "nothing present", with the call counts cleared. */
void reset();

/** A copy of the call counts. */
Calls calls();

/** Sets a script for the lifetime of the object and resets the fake afterwards. */
class ScopedScript
{
public:
    /** Scripts the fake with these hooks. */
    explicit ScopedScript (Hooks hooks);

    /** Resets the fake. */
    ~ScopedScript();

    JUCE_DECLARE_NON_COPYABLE (ScopedScript)
};
} // namespace FakeDevice
