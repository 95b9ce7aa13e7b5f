#include "FakeKeyboard.h"
#include "SequenceSupport.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

// How the sequence uses the system's services around the keyboard's change: the hold that keeps
// the computer awake, and the disk service that mounts a drive no desktop mounted.
namespace
{
using namespace SequenceSupport;

struct AwakeCase
{
    const char* name;
    KeyboardScript keyboard;
    std::string path;
    bool held; // whether the run reaches the busy phase at all
    juce::String message;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const AwakeCase& c, std::ostream* os)
{
    *os << c.name;
}

KeyboardScript keyboardWith (std::function<void (KeyboardScript&)> change)
{
    KeyboardScript script;
    change (script);
    return script;
}

class KeepAwakeSpan : public ::testing::TestWithParam<AwakeCase>
{
};

// Taken as the busy phase begins, released before it ends on every way out of it, and never
// taken by a run that changes nothing.
TEST_P (KeepAwakeSpan, CoversTheBusyPhaseExactly)
{
    const auto& c = GetParam();
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url (c.path);
    FakeKeyboard device (c.keyboard, firmwareImage(), [&updater]
                         { return updater.isBusy(); });

    struct Moment
    {
        bool taken, busy;
        std::vector<UpdaterEvent> eventsSoFar;
    };

    std::mutex lock;
    std::vector<Moment> moments;
    device.onKeepSystemAwake = [&] (bool taken)
    {
        const std::scoped_lock guard (lock);
        moments.push_back ({ taken, updater.isBusy(), updater.events() });
    };

    ASSERT_TRUE (updater.runToEnd());
    ASSERT_EQ (updater.finishes().size(), 1u);
    EXPECT_EQ (updater.finishes().front().text, c.message);

    if (! c.held)
    {
        EXPECT_TRUE (moments.empty());
        return;
    }

    ASSERT_EQ (moments.size(), 2u);
    EXPECT_TRUE (moments[0].taken);
    EXPECT_FALSE (moments[1].taken);

    // Both inside the busy phase: after "Preparing the device...", before the finish.
    EXPECT_TRUE (moments[0].busy);
    EXPECT_TRUE (moments[1].busy);
    ASSERT_FALSE (moments[0].eventsSoFar.empty());
    EXPECT_EQ (moments[0].eventsSoFar.back().text, "Preparing the device...");
    EXPECT_EQ (moments[1].eventsSoFar.size(), updater.events().size() - 1);
}

INSTANTIATE_TEST_SUITE_P (
    Runs,
    KeepAwakeSpan,
    ::testing::Values (
        AwakeCase { "Updated", {}, "/firmware", true, Messages::success },
        AwakeCase { "UpdatedFromTheBootloader", keyboardWith ([] (auto& k)
                                                              { k.serialPortAtStart = false; k.driveAtStart = true; }),
                    "/firmware",
                    true,
                    Messages::success },
        AwakeCase { "RestartRequestRefused", keyboardWith ([] (auto& k)
                                                           { k.acceptsRestartRequest = false; }),
                    "/firmware",
                    true,
                    Messages::error4 },
        AwakeCase { "CablePulledDuringTheCopy", keyboardWith ([] (auto& k)
                                                              { k.cablePulledAfterBytes = 40000; }),
                    "/firmware",
                    true,
                    Messages::error6 },
        AwakeCase { "ImageRefused", {}, "/invalid", false, Messages::error3 },
        AwakeCase { "DownloadFails", {}, "/missing", false, Messages::error2 }),
    CaseName());

bool contains (const std::vector<std::string>& list, const std::string& item)
{
    return std::find (list.begin(), list.end(), item) != list.end();
}

// The disk service is asked to mount a new drive only, leaving alone every device that either the
// system or the service knew before the restart request; never the keyboard's own.
TEST (DiskService, AsksToMountOnlyWhatWasNotThereBeforeTheRequest)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device (keyboardWith ([] (auto& k)
                                       {
                                           k.otherBoard = KeyboardScript::OtherBoard::mounted;
                                           k.knownToDiskService = std::vector<std::string> { "8:97" }; }),
                         firmwareImage(),
                         [&updater]
                         { return updater.isBusy(); });

    ASSERT_TRUE (updater.runToEnd());
    EXPECT_EQ (updater.finishes().front().text, Messages::success);

    const auto calls = FakeDevice::calls();
    ASSERT_FALSE (calls.mountLeaveAlone.empty());

    for (const auto& leaveAlone : calls.mountLeaveAlone)
    {
        EXPECT_TRUE (contains (leaveAlone, "8:97")) << "known to the service before the request";
        EXPECT_TRUE (contains (leaveAlone, FakeKeyboard::otherIdentity)) << "present before the request";
        EXPECT_FALSE (contains (leaveAlone, FakeKeyboard::driveIdentity));
    }
}

// A service that cannot say what it knew is asked for nothing: an old device could not be told
// from the keyboard's.
TEST (DiskService, ThatCannotListIsAskedForNothing)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device ({}, firmwareImage(), [&updater]
                         { return updater.isBusy(); });

    ASSERT_TRUE (updater.runToEnd());
    EXPECT_EQ (updater.finishes().front().text, Messages::success);
    EXPECT_EQ (FakeDevice::calls().mountNewBootloaderDrives, 0);
}

// No port and no mounted drive, but the service knows an unmounted boot ROM drive: the keyboard
// stuck in its bootloader. It is mounted, and only it gets the image.
TEST (DiskService, MountsAStuckKeyboardsDriveAtTheStart)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    TempDrive stuck;
    std::atomic<bool> mounted { false };

    const auto restarted = [&stuck]
    { return stuck.image().existsAsFile(); };

    FakeDevice::Hooks hooks;
    hooks.findSerialPort = [&]
    { return restarted() ? std::string (FakeKeyboard::portName) : std::string(); };
    hooks.listKnownBootloaderDrives = []
    { return std::optional<std::vector<std::string>> ({ "8:33" }); };
    hooks.mountNewBootloaderDrives = [&] (const std::vector<std::string>&)
    {
        mounted = true;
        return 1;
    };
    hooks.listBootloaderDrives = [&]
    {
        if (restarted())
            return std::vector<BootloaderDrive>();

        return std::vector<BootloaderDrive> { { "8:33", mounted ? stuck.root : juce::File() } };
    };
    hooks.isOnDrive = [] (const BootloaderDrive& drive, const juce::File& item)
    { return item == drive.root || item.isAChildOf (drive.root); };
    const FakeDevice::ScopedScript device (hooks);

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (updater.finishes().front().text, Messages::success);
    EXPECT_EQ (FakeDevice::calls().enterBootloader, 0);
    ASSERT_FALSE (FakeDevice::calls().mountLeaveAlone.empty());
    EXPECT_TRUE (FakeDevice::calls().mountLeaveAlone.front().empty());
    EXPECT_TRUE (restarted());
}
} // namespace
