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
    EXPECT_EQ (FakeDevice::calls().findBootloaderDrive, 1);
}

struct OutcomeCase
{
    const char* name;
    KeyboardScript keyboard;
    std::string path;
    std::vector<std::string> expected;
    std::vector<bool> busyAtRestartRequests;
    bool imageWritten;
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

    EXPECT_EQ (device.imageArrived(), c.imageWritten);
    EXPECT_EQ (device.drive.image().exists(), c.imageWritten);
    EXPECT_FALSE (updater.isBusy());
}

INSTANTIATE_TEST_SUITE_P (
    Runs,
    SequenceOutcomes,
    ::testing::Values (
        OutcomeCase { "UpdatedThroughTheSerialPort", keyboard(), "/firmware", expectedEvents (wholeRun, true, Messages::success), { true }, true },
        OutcomeCase { "AlreadyInTheBootloader", keyboard ([] (auto& k)
                                                          { k.serialPortAtStart = false; k.driveAtStart = true; }),
                      "/firmware",
                      expectedEvents (wholeRun, true, Messages::success),
                      {},
                      true },
        OutcomeCase { "PortAndDriveBothPresentUsesTheDrive", keyboard ([] (auto& k)
                                                                       { k.driveAtStart = true; }),
                      "/firmware",
                      expectedEvents (wholeRun, true, Messages::success),
                      {},
                      true },
        OutcomeCase { "DownloadFails", keyboard(), "/missing", expectedEvents ({ Stage::looking, Stage::downloadStarted }, false, Messages::error2), {}, false },
        OutcomeCase { "ImageRefused", keyboard(), "/invalid", expectedEvents ({ Stage::looking, Stage::downloadingInvalid }, false, Messages::error3), {}, false },
        OutcomeCase { "RestartRequestRefused", keyboard ([] (auto& k)
                                                         { k.acceptsRestartRequest = false; }),
                      "/firmware",
                      expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error4),
                      { true },
                      false }),
    CaseName());

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
