// The device layer against a private system bus with fake UDisks2 and logind services.

#include "PrivateSystemBus.h"
#include "device/BootloaderDrive.h"
#include "device/SystemAwake.h"

#include <gtest/gtest.h>

namespace
{
using Clock = std::chrono::steady_clock;

// The keyboard's boot ROM drive, unmounted, next to a stick that borrowed its label and the
// machine's own disk.
const char* const disks = R"({
  "blocks": [
    { "path": "/org/freedesktop/UDisks2/block_devices/nvme0n1p2", "dev": [259, 2], "type": "ext4",
      "hintSystem": true, "mountPoints": ["/"], "drive": "/org/freedesktop/UDisks2/drives/SSD" },
    { "path": "/org/freedesktop/UDisks2/block_devices/sdc1", "dev": [8, 33], "label": "RPI-RP2", "type": "vfat",
      "drive": "/org/freedesktop/UDisks2/drives/Cruzer" },
    { "path": "/org/freedesktop/UDisks2/block_devices/sdb1", "dev": [8, 17], "label": "RPI-RP2", "type": "vfat",
      "drive": "/org/freedesktop/UDisks2/drives/RPI_RP2" }
  ],
  "drives": [
    { "path": "/org/freedesktop/UDisks2/drives/SSD", "model": "Samsung SSD 980", "bus": "" },
    { "path": "/org/freedesktop/UDisks2/drives/Cruzer", "vendor": "SanDisk", "model": "Cruzer" },
    { "path": "/org/freedesktop/UDisks2/drives/RPI_RP2", "vendor": "RPI", "model": "RP2" }
  ]
})";

const char* const keyboardPath = "/org/freedesktop/UDisks2/block_devices/sdb1";

int listings (const juce::var& report)
{
    return static_cast<int> (report["listings"]);
}

/** Polls as the updater's waits do, until the fake has answered `answers` more listings. */
int pollUntilListed (PrivateSystemBus& bus, const std::vector<std::string>& leaveAlone, int answers = 3)
{
    const int target = listings (bus.report()) + answers;
    int asked = 0;

    for (int i = 0; i < 100 && listings (bus.report()) < target; ++i)
    {
        asked += mountNewBootloaderDrives (leaveAlone);
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
    }

    // One more, to take the last answer.
    return asked + mountNewBootloaderDrives (leaveAlone);
}

double millisecondsSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
}
} // namespace

TEST (UdisksMounting, AsksOnceToMountANewBootRomDriveWithoutUserInteraction)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--udisks", "--disks", disks });

    EXPECT_EQ (pollUntilListed (bus, { "259:2" }), 1);

    const auto report = bus.report();
    const auto* calls = report["mountCalls"].getArray();
    ASSERT_EQ (calls->size(), 1);
    EXPECT_EQ ((*calls)[0][0].toString(), keyboardPath);
    EXPECT_TRUE (static_cast<bool> ((*calls)[0][1]["auth.no_user_interaction"]));
    EXPECT_EQ ((*calls)[0][1].getDynamicObject()->getProperties().size(), 1) << "no other option";
    EXPECT_EQ (report["blocks"][2]["mountPoints"][0].toString(), "/media/fake/RPI-RP2");
}

TEST (UdisksMounting, LeavesAloneADriveThatWasThereBefore)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--udisks", "--disks", disks });

    EXPECT_EQ (pollUntilListed (bus, { "8:17" }), 0);
    EXPECT_EQ (bus.report()["mountCalls"].size(), 0);
}

TEST (UdisksMounting, AsksAgainWhenTheDriveComesBack)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--udisks", "--disks", disks });
    EXPECT_EQ (pollUntilListed (bus, {}), 1);

    bus.setDisks ("{}");
    EXPECT_EQ (pollUntilListed (bus, {}), 0);

    bus.setDisks (disks);
    EXPECT_EQ (pollUntilListed (bus, {}), 1);
    EXPECT_EQ (bus.report()["mountCalls"].size(), 2);
}

TEST (UdisksMounting, ARefusalIsSilentAndNotRepeated)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--udisks", "--refuse", "--disks", disks });

    EXPECT_EQ (pollUntilListed (bus, {}), 1);
    const auto report = bus.report();
    EXPECT_EQ (report["mountCalls"].size(), 1);
    EXPECT_EQ (report["blocks"][2]["mountPoints"].size(), 0);
}

TEST (UdisksMounting, ASlowServiceDoesNotHoldUpThePolls)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--udisks", "--delay-ms", "1500", "--disks", disks });

    // Each poll gives up waiting after a fraction of the 200 ms polling; the late answer is
    // taken by a later poll and the drive is still mounted.
    double slowest = 0;
    int asked = 0;

    for (int i = 0; i < 100 && asked == 0; ++i)
    {
        const auto start = Clock::now();
        asked += mountNewBootloaderDrives ({});
        slowest = std::max (slowest, millisecondsSince (start));
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
    }

    EXPECT_EQ (asked, 1);
    EXPECT_LT (slowest, 150.0) << "a poll waited for the slow service";
    EXPECT_EQ (bus.waitForReport ([] (const juce::var& r)
                                  { return r["mountCalls"].size() == 1; })["mountCalls"]
                   .size(),
               1);
}

TEST (UdisksMounting, NothingHappensWithoutTheService)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--logind" });

    for (int i = 0; i < 5; ++i)
        EXPECT_EQ (mountNewBootloaderDrives ({}), 0);

    EXPECT_FALSE (listKnownBootloaderDrives().has_value());
}

TEST (UdisksMounting, NothingHappensWithoutABus)
{
    PrivateSystemBus bus;
    ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", bus.absentBusAddress().c_str(), 1);

    for (int i = 0; i < 5; ++i)
        EXPECT_EQ (mountNewBootloaderDrives ({}), 0);

    EXPECT_FALSE (listKnownBootloaderDrives().has_value());
}

TEST (UdisksMounting, FindsTheServiceAgainAfterTheBusRestarted)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--udisks", "--disks", "{}" });
    EXPECT_EQ (pollUntilListed (bus, {}), 0);

    bus.restartDaemon();
    bus.startServices ({ "--udisks", "--disks", disks });

    // The broken connection is noticed, left alone a few seconds, then replaced.
    int asked = 0;

    for (int i = 0; i < 100 && asked == 0; ++i)
    {
        asked += mountNewBootloaderDrives ({});
        std::this_thread::sleep_for (std::chrono::milliseconds (100));
    }

    EXPECT_EQ (asked, 1);
}

TEST (UdisksMounting, ListsTheBootRomDrivesPresentMountedOrNot)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--udisks", "--disks", disks });

    // Asked again should a loaded machine hold the fake's answer past the budget.
    auto known = listKnownBootloaderDrives();

    for (int attempt = 1; attempt < 5 && ! known; ++attempt)
        known = listKnownBootloaderDrives();

    ASSERT_TRUE (known.has_value());
    EXPECT_EQ (*known, std::vector<std::string> { "8:17" });

    // With that list as the drives present before the request, nothing is mounted.
    EXPECT_EQ (pollUntilListed (bus, *known), 0);
}

TEST (SystemAwake, HoldsALogindBlockLockUntilDestroyed)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--logind" });

    // A machine so loaded that the fake answers after the wait's budget gets another try; the
    // lock of a missed answer goes back to the fake by itself.
    bool held = false;

    for (int attempt = 0; attempt < 5 && ! held; ++attempt)
    {
        const KeepSystemAwake awake;
        held = awake.isHeld();

        if (held)
        {
            const auto report = bus.report();
            const auto& call = report["inhibitCalls"][report["inhibitCalls"].size() - 1];
            EXPECT_EQ (call[0].toString(), "sleep:shutdown:idle");
            EXPECT_EQ (call[1].toString(), "VelmorHL73Updater");
            EXPECT_EQ (call[2].toString(), "Updating the keyboard's firmware");
            EXPECT_EQ (call[3].toString(), "block");
            EXPECT_GE (static_cast<int> (report["inhibitorsOpen"]), 1);
        }
    }

    ASSERT_TRUE (held);

    // Every lock handed out has been closed.
    const auto allClosed = [] (const juce::var& r)
    { return static_cast<int> (r["inhibitorsOpen"]) == 0 && static_cast<int> (r["inhibitorsReleased"]) == r["inhibitCalls"].size(); };

    EXPECT_TRUE (allClosed (bus.waitForReport (allClosed)));
}

TEST (SystemAwake, WithoutLogindOrWhenRefusedNothingIsHeld)
{
    {
        PrivateSystemBus bus;
        ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", bus.absentBusAddress().c_str(), 1);
        EXPECT_FALSE (KeepSystemAwake().isHeld()) << "no bus";
    }

    {
        PrivateSystemBus bus;
        bus.startServices ({ "--udisks" });
        EXPECT_FALSE (KeepSystemAwake().isHeld()) << "no logind";
    }

    {
        PrivateSystemBus bus;
        bus.startServices ({ "--logind", "--refuse" });
        EXPECT_FALSE (KeepSystemAwake().isHeld()) << "refused";
        EXPECT_EQ (bus.report()["inhibitCalls"].size(), 1);
    }
}

TEST (SystemAwake, ASlowLogindDelaysTheStartOnlyBrieflyAndKeepsNoLock)
{
    PrivateSystemBus bus;
    bus.startServices ({ "--logind", "--delay-ms", "1000" });

    const auto start = Clock::now();
    EXPECT_FALSE (KeepSystemAwake().isHeld());
    EXPECT_LT (millisecondsSince (start), 900.0) << "waited for the slow answer";

    // The lock logind hands out late goes nowhere and is released at once.
    const auto report = bus.waitForReport ([] (const juce::var& r)
                                           { return static_cast<int> (r["inhibitorsReleased"]) == 1; });
    EXPECT_EQ (static_cast<int> (report["inhibitorsOpen"]), 0);
}
