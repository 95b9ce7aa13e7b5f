#include "device/BootloaderDrive.h"
#include "device/BootloaderEntry.h"
#include "device/SerialPortDiscovery.h"
#include "updater/FirmwareUpdater.h"
#include "updater/Uf2Image.h"

#include <algorithm>
#include <string>
#include <vector>

namespace
{
// A boot ROM that restarts on its last block does so within about a second of taking it; a
// drive that is still there 2 s after its last sync failed did not take the image.
constexpr int limitForDriveToGoAfterFailedLastSyncMs = 2000;

bool isListed (const std::vector<BootloaderDrive>& drives, const std::string& identity)
{
    return std::any_of (drives.begin(), drives.end(), [&] (const BootloaderDrive& drive)
                        { return drive.identity == identity; });
}

/** The first mounted drive of the list; no drive when none is mounted. */
BootloaderDrive firstMounted (const std::vector<BootloaderDrive>& drives)
{
    const auto found = std::find_if (drives.begin(), drives.end(), [] (const BootloaderDrive& drive)
                                     { return drive.isMounted(); });
    return found == drives.end() ? BootloaderDrive() : *found;
}

/** The one mounted drive whose device was not present before; no drive when there is none, or
    more than one (then nothing tells which is the keyboard).
*/
BootloaderDrive newlyMounted (const std::vector<BootloaderDrive>& drives, const std::vector<BootloaderDrive>& presentBefore)
{
    BootloaderDrive found;

    for (const auto& drive : drives)
    {
        if (! drive.isMounted() || isListed (presentBefore, drive.identity))
            continue;

        if (found.isMounted())
            return {};

        found = drive;
    }

    return found;
}
} // namespace

void FirmwareUpdater::run()
{
    const auto finish = [this] (bool success, const juce::String& message)
    {
        busy = false;
        onFinished (success, message);
    };

    onProgress ("Looking for the device...", -1.0);

    const std::string portName = findSerialPort();

    // Without the keyboard's port, a bootloader drive present now is taken for the keyboard held
    // in its bootloader: the way to recover one whose update failed. With the port, the keyboard
    // is restarted and only a drive that appears afterwards will do (below): a drive present now
    // belongs to another board.
    BootloaderDrive drive;

    if (portName.empty())
        drive = firstMounted (listBootloaderDrives());

    if (portName.empty() && ! drive.isMounted())
    {
        finish (false,
                juce::String ("Error 1: device not found.\nMake sure your ") + deviceName
                    + " is connected to this computer.");
        return;
    }

    juce::MemoryBlock image;

    if (! downloadFirmware (image))
    {
        // Asked to stop (the program is closing): nobody is left to show a message.
        if (threadShouldExit())
            return;

        finish (false, "Error 2: unable to download the firmware.\nCheck your internet connection and retry.");
        return;
    }

    if (! isValidUf2Image (image))
    {
        finish (false, "Error 3: the downloaded firmware is not valid.\nYour device has not been changed.");
        return;
    }

    // From here until the drive has gone the keyboard is being changed, and quitting is refused.
    busy = true;
    onProgress ("Preparing the device...", -1.0);

    if (! portName.empty())
    {
        // Every bootloader device known at the moment of the request, mounted or not, is some
        // other board's, and stays so when it is mounted later.
        const auto presentBefore = listBootloaderDrives();

        if (! enterBootloader (portName))
        {
            finish (false,
                    "Error 4: unable to talk to the device.\nClose any other application that may be using it, "
                    "disconnect and reconnect it, then retry.");
            return;
        }

        const auto driveFound = [&drive, &presentBefore]
        {
            drive = newlyMounted (listBootloaderDrives(), presentBefore);
            return drive.isMounted();
        };

        if (! waitUntil (driveFound, 30000))
        {
            finish (false, "Error 5: the device did not respond.\nDisconnect and reconnect it, then retry.");
            return;
        }
    }

    const juce::String error6 ("Error 6: the update did not complete.\nDo not disconnect the device, and retry.");
    const auto copied = copyFirmwareToDrive (image, drive);

    // Part of the image may be in the keyboard's flash: it must not be disconnected.
    if (copied == CopyResult::incomplete)
    {
        finish (false, error6);
        return;
    }

    onProgress ("Restarting the device...", -1.0);

    // The drive that was written to, known by its identity: another board's drive may stay.
    const auto driveGone = [identity = drive.identity]
    { return ! isListed (listBootloaderDrives(), identity); };

    const auto limitMs = copied == CopyResult::complete ? 20000 : limitForDriveToGoAfterFailedLastSyncMs;

    if (! waitUntil (driveGone, limitMs))
    {
        finish (false, error6);
        return;
    }

    busy = false;

    const auto portBack = []
    { return ! findSerialPort().empty(); };

    if (! waitUntil (portBack, 15000))
    {
        finish (true,
                "The firmware has been copied, but the device did not restart as expected.\nTurn it off and on "
                "again. If it does not work, contact support.");
        return;
    }

    finish (true, juce::String ("Your ") + deviceName + " has been updated.");
}
