#include "device/BootloaderDrive.h"
#include "device/BootloaderEntry.h"
#include "device/SerialPortDiscovery.h"
#include "updater/FirmwareUpdater.h"
#include "updater/Uf2Image.h"

#include <string>

void FirmwareUpdater::run()
{
    const auto finish = [this] (bool success, const juce::String& message)
    {
        leaveBusyPhase();
        onFinished (success, message);
    };

    onProgress ("Looking for the device...", -1.0);

    const std::string portName = findSerialPort();
    juce::File driveRoot = findBootloaderDrive();

    if (portName.empty() && driveRoot == juce::File())
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

    // From here until the drive has gone the keyboard is being changed, and no quit is accepted.
    // A quit accepted before this point wins: the program is ending, so leave the keyboard alone.
    if (! enterBusyPhase())
        return;

    onProgress ("Preparing the device...", -1.0);

    if (driveRoot == juce::File())
    {
        if (! enterBootloader (portName))
        {
            finish (false,
                    "Error 4: unable to talk to the device.\nClose any other application that may be using it, "
                    "disconnect and reconnect it, then retry.");
            return;
        }

        const auto driveFound = [&driveRoot]
        {
            driveRoot = findBootloaderDrive();
            return driveRoot != juce::File();
        };

        if (! waitUntil (driveFound, 30000))
        {
            finish (false, "Error 5: the device did not respond.\nDisconnect and reconnect it, then retry.");
            return;
        }
    }

    copyFirmwareToDrive (image, driveRoot);

    onProgress ("Restarting the device...", -1.0);

    // Any bootloader drive still present counts, not only the one that was written to.
    const auto driveGone = []
    { return ! findBootloaderDrive().exists(); };

    if (! waitUntil (driveGone, 20000))
    {
        finish (false, "Error 6: the update did not complete.\nDo not disconnect the device, and retry.");
        return;
    }

    // A quit held back while the keyboard was being changed goes ahead now, without waiting for
    // the port: nobody is left to show the outcome.
    if (leaveBusyPhase())
        return;

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
