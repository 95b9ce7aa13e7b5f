// Times the device layer's calls to the system bus: one poll of mountNewBootloaderDrives and the
// taking of the logind inhibitor, with no bus, a bus without the service, a service that answers
// at once and one that answers late. Each case runs in a fresh process, since the layer remembers
// an absent bus. Prints milliseconds; nothing here asserts a time.
//
// usage: hl73-bench-systembus [polls]

#include "PrivateSystemBus.h"
#include "device/BootloaderDrive.h"
#include "device/SystemAwake.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace
{
using Clock = std::chrono::steady_clock;

const char* const disks = R"({
  "blocks": [
    { "path": "/org/freedesktop/UDisks2/block_devices/nvme0n1p2", "dev": [259, 2], "type": "ext4",
      "hintSystem": true, "mountPoints": ["/"], "drive": "/org/freedesktop/UDisks2/drives/SSD" },
    { "path": "/org/freedesktop/UDisks2/block_devices/sdb1", "dev": [8, 17], "label": "RPI-RP2", "type": "vfat",
      "drive": "/org/freedesktop/UDisks2/drives/RPI_RP2" }
  ],
  "drives": [
    { "path": "/org/freedesktop/UDisks2/drives/SSD", "model": "Samsung SSD 980", "bus": "" },
    { "path": "/org/freedesktop/UDisks2/drives/RPI_RP2", "vendor": "RPI", "model": "RP2" }
  ]
})";

double since (Clock::time_point start)
{
    return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
}

// The polls as the updater's waits make them, 200 ms apart; the drive is left alone so that
// every poll lists (none mounts).
void timePolls (const char* label, int polls)
{
    std::vector<double> times;

    for (int i = 0; i < polls; ++i)
    {
        const auto start = Clock::now();
        mountNewBootloaderDrives ({ "8:17" });
        times.push_back (since (start));
        std::this_thread::sleep_for (std::chrono::milliseconds (200));
    }

    const auto first = times.front();
    std::sort (times.begin() + 1, times.end());
    std::printf ("%-44s first %8.3f ms   later: median %8.3f ms, max %8.3f ms\n", label, first, times[times.size() / 2 + 1], times.back());
}

void timeInhibitor (const char* label)
{
    const auto start = Clock::now();
    const KeepSystemAwake awake;
    std::printf ("%-44s %8.3f ms (%s)\n", label, since (start), awake.isHeld() ? "held" : "not held");
}

int runCase (const std::string& name, int polls)
{
    PrivateSystemBus bus;

    if (name == "no-bus")
    {
        ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", bus.absentBusAddress().c_str(), 1);
        timePolls ("poll, no system bus", polls);
    }
    else if (name == "no-service")
    {
        bus.startServices ({ "--logind" });
        timePolls ("poll, bus without UDisks2", polls);
    }
    else if (name == "service")
    {
        bus.startServices ({ "--udisks", "--disks", disks });
        timePolls ("poll, UDisks2 answering at once", polls);
    }
    else if (name == "slow-service")
    {
        bus.startServices ({ "--udisks", "--delay-ms", "1000", "--disks", disks });
        timePolls ("poll, UDisks2 answering after 1 s", polls);
    }
    else if (name == "inhibitor")
    {
        bus.startServices ({ "--logind" });
        timeInhibitor ("inhibitor, logind answering at once");
    }
    else if (name == "slow-inhibitor")
    {
        bus.startServices ({ "--logind", "--delay-ms", "1000" });
        timeInhibitor ("inhibitor, logind answering after 1 s");
    }
    else if (name == "no-bus-inhibitor")
    {
        ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", bus.absentBusAddress().c_str(), 1);
        timeInhibitor ("inhibitor, no system bus");
    }
    else
    {
        return 2;
    }

    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    const int polls = argc > 1 ? std::max (3, std::atoi (argv[1])) : 20;

    if (argc > 2)
        return runCase (argv[2], polls);

    for (const char* name : { "no-bus", "no-service", "service", "slow-service", "no-bus-inhibitor", "inhibitor", "slow-inhibitor" })
    {
        std::fflush (stdout);
        SpawnedProgram child ({ "/proc/self/exe", std::to_string (polls), name });

        for (auto line = child.readLine (120000); ! line.empty(); line = child.readLine (120000))
            std::printf ("%s\n", line.c_str());
    }

    return 0;
}
