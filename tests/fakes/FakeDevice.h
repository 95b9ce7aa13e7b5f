#pragma once

#include "device/BootloaderDrive.h"

#include <juce_core/juce_core.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

/** A scriptable stand-in for the device layer, linked in place of an OS implementation.

    It defines findSerialPort, listBootloaderDrives, listCandidateDrives, enterBootloader and
    isOnDrive. Each one calls its hook when the test has set one; without a hook it answers
    "nothing present": no port, no drive, no candidates, a refused restart request, and no volume
    mounted anywhere. Every call is counted.

    It can also make the files on a drive fail as a real drive does when it breaks off or restarts
    (FileFaults): it stands in for the C library's write and fsync in the test program, and lets
    every call through unchanged that does not concern a file below the scripted folder.

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
    std::function<std::vector<BootloaderDrive>()> listBootloaderDrives;
    std::function<std::vector<std::string>()> listCandidateDrives;
    std::function<bool (const std::string& portName)> enterBootloader;
    std::function<bool (const BootloaderDrive& drive, const juce::File& item)> isOnDrive;
};

/** How often each operation has been called since the last script or reset. */
struct Calls
{
    int findSerialPort = 0;
    int listBootloaderDrives = 0;
    int listCandidateDrives = 0;
    int enterBootloader = 0;
    int isOnDrive = 0;

    /** The port names passed to enterBootloader, in call order. */
    std::vector<std::string> enterBootloaderPorts;

    /** Bytes written to files below the FileFaults folder, and syncs of them, successful or not. */
    juce::int64 bytesWritten = 0;
    int syncs = 0;
};

/** How the files below one folder (a drive's root) fail. */
struct FileFaults
{
    /** Only files below this folder are affected. */
    juce::File root;

    /** Writes take this many bytes in all: the write that reaches the limit is cut short there,
        and every later one fails. Negative: no limit.
    */
    juce::int64 bytesTaken = -1;

    /** The syncs from this one on fail, counting from 1; 0: none fails. */
    int failingSyncsFrom = 0;

    /** The error of a failing call. */
    int errorNumber = EIO;

    /** Called once, at the first call that fails or is cut short, before it returns; on the
        calling thread, without the fake's lock held. Where the drive vanishes, say.
    */
    std::function<void()> onFirstFailure;
};

/** Replaces every hook, clears the file faults and the call counts. */
void script (Hooks hooks);

/** Sets the file faults, until the next script or reset. */
void scriptFileFaults (FileFaults faults);

/** Back to "nothing present" and no file faults, with the call counts cleared. */
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
