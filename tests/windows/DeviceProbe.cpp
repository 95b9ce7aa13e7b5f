// Runs one device operation of the Windows program under Wine and prints its result, for the
// device tests (device-test.sh), which set up the ports and drives from the Linux side.
//
//   device-probe find-port               the port name, or an empty line
//   device-probe request NAME            "sent" or "refused", and the milliseconds it took
//   device-probe drives                  "candidate ROOT" per candidate, then "drive ROOT IDENTITY"
//                                        per bootloader drive ("-" for a root when unmounted)
//   device-probe on-drive ROOT ITEM      "on" or "off", for the drive listed at ROOT now
//   device-probe awake                   "held" or "not held": whether Windows granted the request
//                                        to stay up, and that it is undone again

#include "device/BootloaderDrive.h"
#include "device/BootloaderEntry.h"
#include "device/SerialPortDiscovery.h"
#include "device/SystemAwake.h"

#include <chrono>
#include <iostream>
#include <string>

namespace
{
int usage()
{
    std::cerr << "usage: device-probe find-port | request NAME | drives | on-drive ROOT ITEM | awake\n";
    return 2;
}
} // namespace

int main (int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";

    if (command == "find-port" && argc == 2)
    {
        std::cout << findSerialPort() << "\n";
        return 0;
    }

    if (command == "request" && argc == 3)
    {
        const auto start = std::chrono::steady_clock::now();
        const auto sent = enterBootloader (argv[2]);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - start);
        std::cout << (sent ? "sent" : "refused") << " " << took.count() << "\n";
        return 0;
    }

    if (command == "drives" && argc == 2)
    {
        for (const auto& root : listCandidateDrives())
            std::cout << "candidate " << root << "\n";

        for (const auto& drive : listBootloaderDrives())
            std::cout << "drive " << (drive.isMounted() ? drive.root.getFullPathName().toStdString() : "-") << " " << drive.identity << "\n";

        return 0;
    }

    if (command == "on-drive" && argc == 4)
    {
        const juce::File root (argv[2]);

        for (const auto& drive : listBootloaderDrives())
            if (drive.root == root)
                std::cout << (isOnDrive (drive, juce::File (argv[3])) ? "on" : "off") << "\n";

        return 0;
    }

    if (command == "awake" && argc == 2)
    {
        bool held = false;

        {
            const KeepSystemAwake awake;
            held = awake.isHeld();
        }

        std::cout << (held ? "held" : "not held") << "\n";
        return 0;
    }

    return usage();
}
