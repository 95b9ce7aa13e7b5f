#include "FakeKeyboard.h"
#include "SequenceSupport.h"

#include "CaseName.h"

#include <gtest/gtest.h>

namespace
{
using namespace SequenceSupport;

TEST (Sequence, NothingPresentEndsWithError1BeforeAnyDownload)
{
    const FakeDevice::ScopedScript nothingPresent ({});
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (describe (updater.events()), expectedEvents ({ Stage::looking }, false, Messages::error1));
    EXPECT_EQ (server.requestCount(), 0);
    EXPECT_EQ (FakeDevice::calls().findSerialPort, 1);
    EXPECT_EQ (FakeDevice::calls().listBootloaderDrives, 1);
}

/** What a run leaves on the keyboard's drive. */
enum class DriveFile
{
    none,
    part, // the start of the image
    whole
};

struct OutcomeCase
{
    const char* name;
    KeyboardScript keyboard;
    std::string path;
    std::vector<std::string> expected;
    std::vector<bool> busyAtRestartRequests;
    DriveFile driveFile;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const OutcomeCase& c, std::ostream* os)
{
    *os << c.name;
}

KeyboardScript keyboard (std::function<void (KeyboardScript&)> change = {})
{
    KeyboardScript script;

    if (change)
        change (script);

    return script;
}

using OtherBoard = KeyboardScript::OtherBoard;

const std::initializer_list<Stage> wholeRun { Stage::looking, Stage::downloading, Stage::preparing, Stage::copying, Stage::restarting };

class SequenceOutcomes : public ::testing::TestWithParam<OutcomeCase>
{
};

TEST_P (SequenceOutcomes, ReportsBusyPhaseAndMessage)
{
    const auto& c = GetParam();
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url (c.path);
    FakeKeyboard device (c.keyboard, firmwareImage(), [&updater]
                         { return updater.isBusy(); });

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (describe (updater.events()), c.expected);
    EXPECT_EQ (device.busyAtRestartRequests(), c.busyAtRestartRequests);

    if (! c.busyAtRestartRequests.empty())
    {
        EXPECT_EQ (FakeDevice::calls().enterBootloaderPorts, std::vector<std::string> { FakeKeyboard::portName });
    }

    juce::MemoryBlock written;
    device.drive.image().loadFileAsData (written);

    switch (c.driveFile)
    {
        case DriveFile::none:
            EXPECT_FALSE (device.drive.image().exists());
            break;

        case DriveFile::part:
            EXPECT_GT (written.getSize(), 0u);
            EXPECT_LT (written.getSize(), firmwareImage().getSize());
            EXPECT_EQ (memcmp (written.getData(), firmwareImage().getData(), written.getSize()), 0);
            break;

        case DriveFile::whole:
            EXPECT_TRUE (device.imageArrived());
            break;
    }

    // Firmware never reaches another board.
    EXPECT_FALSE (device.otherDrive.image().exists());
    EXPECT_FALSE (updater.isBusy());
}

INSTANTIATE_TEST_SUITE_P (
    Runs,
    SequenceOutcomes,
    ::testing::Values (
        OutcomeCase { "UpdatedThroughTheSerialPort", keyboard(), "/firmware", expectedEvents (wholeRun, true, Messages::success), { true }, DriveFile::whole },
        OutcomeCase { "AlreadyInTheBootloader", keyboard ([] (auto& k)
                                                          { k.serialPortAtStart = false; k.driveAtStart = true; }),
                      "/firmware",
                      expectedEvents (wholeRun, true, Messages::success),
                      {},
                      DriveFile::whole },
        OutcomeCase { "DownloadFails", keyboard(), "/missing", expectedEvents ({ Stage::looking, Stage::downloadStarted }, false, Messages::error2), {}, DriveFile::none },
        OutcomeCase { "ImageRefused", keyboard(), "/invalid", expectedEvents ({ Stage::looking, Stage::downloadingInvalid }, false, Messages::error3), {}, DriveFile::none },
        OutcomeCase { "RestartRequestRefused", keyboard ([] (auto& k)
                                                         { k.acceptsRestartRequest = false; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error4),
                      { true },
                      DriveFile::none },

        // Another RP2 board in its bootloader beside the keyboard: the keyboard is still asked to
        // restart, and only its own drive, new after the request, gets the image.
        OutcomeCase { "PortAndAnotherBoardsDrive", keyboard ([] (auto& k)
                                                             { k.otherBoard = OtherBoard::mounted; }),
                      "/firmware",
                      expectedEvents (wholeRun, true, Messages::success),
                      { true },
                      DriveFile::whole },
        OutcomeCase { "PortAndAnotherBoardMountedOnlyAfterTheRequest", keyboard ([] (auto& k)
                                                                                 { k.otherBoard = OtherBoard::mountedAfterRequest; }),
                      "/firmware",
                      expectedEvents (wholeRun, true, Messages::success),
                      { true },
                      DriveFile::whole },
        // Only the drive written to has to go.
        OutcomeCase { "AnotherBoardsDriveAppearsAfterTheRestart", keyboard ([] (auto& k)
                                                                            { k.otherBoard = OtherBoard::appearsAfterRestart; }),
                      "/firmware",
                      expectedEvents (wholeRun, true, Messages::success),
                      { true },
                      DriveFile::whole },

        // A copy that did not complete ends in Error 6 at once, without waiting for the drive.
        OutcomeCase { "CopyCannotOpenItsFile", keyboard ([] (auto& k)
                                                         { k.serialPortAtStart = false; k.driveAtStart = true; k.driveTakesTheFile = false; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error6),
                      {},
                      DriveFile::none },
        OutcomeCase { "DrivePluggedBackDuringTheDownload", keyboard ([] (auto& k)
                                                                     { k.serialPortAtStart = false; k.driveAtStart = true; k.drivePluggedBackAfterFirstLook = true; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error6),
                      {},
                      DriveFile::none },
        OutcomeCase { "CablePulledDuringTheCopy", keyboard ([] (auto& k)
                                                            { k.cablePulledAfterBytes = 40000; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing, Stage::copyingFirstChunk }, false, Messages::error6),
                      { true },
                      DriveFile::part },
        OutcomeCase { "ASyncBeforeTheLastFails", keyboard ([] (auto& k)
                                                           { k.failingSyncsFrom = 2; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing, Stage::copyingFirstChunk }, false, Messages::error6),
                      { true },
                      DriveFile::part },

        // Only the last sync fails: complete if the drive goes at once, as when the boot ROM
        // restarts on the last block; otherwise Error 6 after a short wait.
        OutcomeCase { "LastSyncFailsAndTheDriveGoes", keyboard ([] (auto& k)
                                                                { k.failingSyncsFrom = 3; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing, Stage::copyingAllButTheLastChunk, Stage::restarting }, true, Messages::success),
                      { true },
                      DriveFile::whole },
        OutcomeCase { "LastSyncFailsAndTheDriveStays", keyboard ([] (auto& k)
                                                                 { k.failingSyncsFrom = 3; k.restartsWhenImageWritten = false; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing, Stage::copyingAllButTheLastChunk, Stage::restarting }, false, Messages::error6),
                      { true },
                      DriveFile::whole }),
    CaseName());

// Without the keyboard's port, the first mounted bootloader drive is taken for the keyboard stuck
// in its bootloader, and only that one gets the image.
TEST (Sequence, WithoutThePortTheFirstMountedDriveIsUsed)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    TempDrive first, second;

    // The keyboard restarts once its file is there: its drive goes and its port comes back.
    const auto restarted = [&first]
    { return first.image().existsAsFile(); };

    FakeDevice::Hooks hooks;
    hooks.findSerialPort = [&]
    { return restarted() ? std::string (FakeKeyboard::portName) : std::string(); };
    hooks.listBootloaderDrives = [&]
    {
        std::vector<BootloaderDrive> drives { { "8:0", {} } }; // a device with no volume mounted

        if (! restarted())
            drives.push_back ({ "8:33", first.root });

        drives.push_back ({ "8:17", second.root });
        return drives;
    };
    hooks.isOnDrive = [] (const BootloaderDrive& drive, const juce::File& item)
    { return item == drive.root || item.isAChildOf (drive.root); };
    const FakeDevice::ScopedScript device (hooks);

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (describe (updater.events()), expectedEvents (wholeRun, true, Messages::success));
    EXPECT_EQ (FakeDevice::calls().enterBootloader, 0);
    juce::MemoryBlock written;
    EXPECT_TRUE (first.image().loadFileAsData (written) && written == firmwareImage());
    EXPECT_FALSE (second.image().exists());
}

TEST (Sequence, StoppedDownloadEndsTheRunWithoutAFinish)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device (keyboard(), firmwareImage(), [&updater]
                         { return updater.isBusy(); });

    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.value > 0)
            updater.signalThreadShouldExit();
    };

    ASSERT_TRUE (updater.runToEnd());

    auto expected = expectedEvents ({ Stage::looking, Stage::downloading }, false, {});
    expected.resize (3); // the first fraction, then nothing
    EXPECT_EQ (describe (updater.events()), expected);
    EXPECT_EQ (FakeDevice::calls().enterBootloader, 0);
}

// A stop request after the download does not end the run by itself, but every later wait then
// tests its condition once: here the port has not come back at that one test.
TEST (Sequence, StopRequestAfterTheDownloadMakesEachLaterWaitTestOnce)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device (keyboard ([] (auto& k)
                                   { k.emptyPortTestsAfterRestart = 3; }),
                         firmwareImage(),
                         [&updater]
                         { return updater.isBusy(); });

    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.text == "Preparing the device...")
            updater.signalThreadShouldExit();
    };

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (describe (updater.events()), expectedEvents (wholeRun, true, Messages::notRestarted));
    EXPECT_EQ (device.busyAtPortTestsAfterRestart(), std::vector<bool> { false });
    EXPECT_TRUE (device.imageArrived());
}

TEST (Sequence, SecondRunOnTheSameObjectStartsAfresh)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");

    {
        FakeKeyboard device (keyboard(), firmwareImage(), [&updater]
                             { return updater.isBusy(); });
        ASSERT_TRUE (updater.runToEnd());
        ASSERT_EQ (describe (updater.events()), expectedEvents (wholeRun, true, Messages::success));
    }

    updater.clearEvents();

    {
        FakeKeyboard device (keyboard ([] (auto& k)
                                       { k.acceptsRestartRequest = false; }),
                             firmwareImage(),
                             [&updater]
                             { return updater.isBusy(); });
        ASSERT_TRUE (updater.runToEnd());
        EXPECT_EQ (describe (updater.events()),
                   expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error4));
        EXPECT_EQ (server.requestCount(), 2);
    }
}
} // namespace
