// virtual-hl73: a VELMOR HL73 keyboard without the hardware. It shows up as the keyboard's USB
// serial port; a switch to 1200 baud makes it restart into the RP2040 boot ROM, whose drive takes
// a UF2 image into the keyboard's flash and restarts it back into its firmware. Faults of real
// keyboards can be asked for. Its flash and what was written to its drive are kept in a state
// folder, with a log of what happened.

#include "BootDrive.h"
#include "BootRom.h"
#include "UsbSerialPort.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
std::atomic<bool> stopRequested { false };

const char* const usage =
    "usage: virtual-hl73 --state DIR [options]\n"
    "  --state DIR          keeps flash.bin, drive/ (the files last written to the drive) and events\n"
    "  --sysfs DIR          sysfs root that the port's entry goes into (default /sys)\n"
    "  --dev DIR            folder for the port's device node (default /dev)\n"
    "  --tty NAME           the port's name (default ttyACM0)\n"
    "  --drive PATH         where the bootloader drive is mounted (default /media/$USER/RPI-RP2)\n"
    "  --start MODE         serial (default), bootloader (already in its bootloader) or absent\n"
    "  --fault FAULT        no-restart, drive-stays, no-port-back, port-held, read-only-drive\n"
    "                       (may be given more than once)\n"
    "  --pull-cable-after N the cable is pulled once the drive has taken N bytes of files: that\n"
    "                       write and later ones fail with EIO, the drive goes, the port never returns\n"
    "  --board BOARD        keyboard (default), or other: another maker's RP2040 board, whose port\n"
    "                       (if it ever shows) is a Raspberry Pi Pico's, 2e8a:000a on USB port 1-5\n"
    "  --restart-ms N       from the 1200-baud touch to the drive's appearance (default 800)\n"
    "  --reboot-ms N        from the last block to the drive's departure (default 1000, as the boot ROM)\n"
    "  --enumerate-ms N     from the drive's departure to the port's return (default 700)\n"
    "  --drive-rate N       bytes per second that the drive takes (default: no limit)\n";

struct Options
{
    fs::path stateDir;
    std::string sysfsRoot = "/sys", devDir = "/dev", ttyName = "ttyACM0", drivePath;
    std::string start = "serial";
    std::set<std::string> faults;
    int restartMs = 800, rebootMs = 1000, enumerateMs = 700;
    std::size_t driveRate = 0;
    std::optional<std::size_t> cablePulledAfterBytes;
    UsbDevice usbDevice;

    bool has (const std::string& fault) const { return faults.count (fault) != 0; }
};

[[noreturn]] void fail (const std::string& message)
{
    std::cerr << "virtual-hl73: " << message << "\n";
    std::exit (2);
}

Options parseOptions (int argc, char** argv)
{
    static const std::set<std::string> knownFaults { "no-restart", "drive-stays", "no-port-back", "port-held", "read-only-drive" };
    Options options;
    const char* user = std::getenv ("USER");
    options.drivePath = std::string ("/media/") + (user != nullptr && *user != 0 ? user : "root") + "/RPI-RP2";

    for (int i = 1; i < argc; ++i)
    {
        const std::string option = argv[i];

        if (option == "--help")
        {
            std::cout << usage;
            std::exit (0);
        }

        if (i + 1 >= argc)
            fail ("missing value after " + option + "\n" + usage);

        const std::string value = argv[++i];
        const auto number = [&]
        {
            char* end = nullptr;
            const auto parsed = std::strtol (value.c_str(), &end, 10);

            if (end == value.c_str() || *end != 0 || parsed < 0)
                fail ("not a number: " + option + " " + value);

            return parsed;
        };

        if (option == "--state")
            options.stateDir = value;
        else if (option == "--sysfs")
            options.sysfsRoot = value;
        else if (option == "--dev")
            options.devDir = value;
        else if (option == "--tty")
            options.ttyName = value;
        else if (option == "--drive")
            options.drivePath = value;
        else if (option == "--start" && (value == "serial" || value == "bootloader" || value == "absent"))
            options.start = value;
        else if (option == "--fault" && knownFaults.count (value) != 0)
            options.faults.insert (value);
        else if (option == "--restart-ms")
            options.restartMs = static_cast<int> (number());
        else if (option == "--reboot-ms")
            options.rebootMs = static_cast<int> (number());
        else if (option == "--enumerate-ms")
            options.enumerateMs = static_cast<int> (number());
        else if (option == "--drive-rate")
            options.driveRate = static_cast<std::size_t> (number());
        else if (option == "--pull-cable-after")
            options.cablePulledAfterBytes = static_cast<std::size_t> (number());
        else if (option == "--board" && value == "keyboard")
            options.usbDevice = {};
        else if (option == "--board" && value == "other")
            options.usbDevice = { "1-5", "2e8a", "000a", "Raspberry Pi", "Pico", "E660583883443C2F" };
        else
            fail ("unknown option or value: " + option + " " + value + "\n" + usage);
    }

    if (options.stateDir.empty())
        fail (std::string ("--state is required\n") + usage);

    return options;
}

std::vector<uint8_t> readFile (const fs::path& path)
{
    std::ifstream in (path, std::ios::binary);
    return std::vector<uint8_t> (std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>());
}

void writeFileAtomically (const fs::path& path, const std::vector<uint8_t>& data)
{
    const auto temporary = fs::path (path.string() + ".new");
    std::ofstream (temporary, std::ios::binary).write (reinterpret_cast<const char*> (data.data()), static_cast<std::streamsize> (data.size()));
    fs::rename (temporary, path);
}

/** The keyboard: its flash, and whichever of its two USB faces is showing. */
class VirtualKeyboard
{
public:
    explicit VirtualKeyboard (Options optionsToUse)
        : options (std::move (optionsToUse))
        , port (options.sysfsRoot, options.devDir, options.ttyName, options.usbDevice)
    {
        fs::create_directories (options.stateDir);
        events.open (options.stateDir / "events", std::ios::app);

        if (fs::exists (flashPath()))
            flash.load (readFile (flashPath()));
    }

    void run()
    {
        if (options.start == "serial")
            showSerialPort();
        else if (options.start == "bootloader")
            showDrive();

        log ("ready");

        while (! stopRequested)
        {
            step (Clock::now());
            std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }

        if (drive != nullptr)
            removeDrive();

        port.unplug();
        writeFileAtomically (flashPath(), flash.content());
        log ("stopped");
    }

private:
    enum class State
    {
        serial,
        restarting,
        bootloader,
        rebooting,
        gone
    };

    void step (Clock::time_point now)
    {
        switch (state)
        {
            case State::serial:
            {
                const bool touched = port.isAt1200Baud();

                if (touched && ! touchSeen)
                {
                    log ("touch-1200");

                    if (options.has ("no-restart"))
                        log ("restart-ignored");
                    else
                    {
                        port.unplug();
                        log ("port-removed");
                        state = State::restarting;
                        deadline = now + std::chrono::milliseconds (options.restartMs);
                    }
                }

                touchSeen = touched;
                break;
            }

            case State::restarting:
                if (now >= deadline)
                    showDrive();

                break;

            case State::bootloader:
                if (drive->isCablePulled())
                {
                    removeDrive();
                    log ("port-not-back");
                    state = State::gone;
                }
                else if (const auto completed = drive->getCompletionTime())
                {
                    if (options.has ("drive-stays"))
                    {
                        if (! rebootRefused)
                            log ("reboot-refused");

                        rebootRefused = true;
                    }
                    else if (now >= *completed + std::chrono::milliseconds (options.rebootMs))
                    {
                        removeDrive();
                        state = State::rebooting;
                        deadline = now + std::chrono::milliseconds (options.enumerateMs);
                    }
                }

                break;

            case State::rebooting:
                if (now < deadline)
                    break;

                if (options.has ("no-port-back"))
                {
                    log ("port-not-back");
                    state = State::gone;
                }
                else
                {
                    showSerialPort();
                }

                break;

            case State::gone:
                break;
        }
    }

    void showSerialPort()
    {
        std::string error;

        if (! port.plugIn (error))
            fail (error);

        log ("port-added " + port.getNodePath());

        if (options.has ("port-held"))
        {
            if (! port.holdOpen (error))
                fail (error);

            log ("port-held");
        }

        touchSeen = port.isAt1200Baud();
        state = State::serial;
    }

    void showDrive()
    {
        rom = std::make_unique<BootRom> (flash);
        drive = std::make_unique<BootDrive> (*rom,
                                             BootDrive::Options { options.drivePath, options.has ("read-only-drive"), options.driveRate, options.cablePulledAfterBytes },
                                             [this] (const std::string& event)
                                             { log (event); });
        std::string error;

        if (! drive->mount (error))
            fail (error);

        rebootRefused = false;
        log ("drive-mounted " + options.drivePath + (options.has ("read-only-drive") ? " read-only" : ""));
        state = State::bootloader;
    }

    void removeDrive()
    {
        drive->unmount();
        log ("drive-removed");

        // What the host had written, kept for whoever checks what reached the keyboard.
        const auto written = options.stateDir / "drive";
        fs::remove_all (written);
        fs::create_directories (written);

        for (const auto& [name, data] : drive->getWrittenFiles())
            writeFileAtomically (written / name, data);

        writeFileAtomically (flashPath(), flash.content());
        drive.reset();
        rom.reset();
    }

    fs::path flashPath() const { return options.stateDir / "flash.bin"; }

    void log (const std::string& event)
    {
        const std::lock_guard<std::mutex> guard (logLock);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - startTime).count();
        events << elapsed << " " << event << std::endl;
        std::cerr << "virtual-hl73: " << event << std::endl;
    }

    Options options;
    UsbSerialPort port;
    FlashMemory flash;
    std::unique_ptr<BootRom> rom;
    std::unique_ptr<BootDrive> drive;
    State state = State::gone;
    Clock::time_point deadline, startTime = Clock::now();
    bool touchSeen = false, rebootRefused = false;
    std::mutex logLock;
    std::ofstream events;
};
} // namespace

int main (int argc, char** argv)
{
    const auto options = parseOptions (argc, argv);

    std::signal (SIGPIPE, SIG_IGN);
    std::signal (SIGTERM, [] (int)
                 { stopRequested = true; });
    std::signal (SIGINT, [] (int)
                 { stopRequested = true; });

    VirtualKeyboard keyboard (options);
    keyboard.run();
    return 0;
}
