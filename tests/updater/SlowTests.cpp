// Runs that wait out the product's own limits (30, 20 and 15 seconds) and a download from a
// server that stalls. Each is its own test so that ctest can run them side by side.

#include "FakeKeyboard.h"
#include "SequenceSupport.h"

#include "CaseName.h"

#include <gtest/gtest.h>

namespace
{
using namespace SequenceSupport;

struct SlowOutcomeCase
{
    const char* name;
    KeyboardScript keyboard;
    std::vector<std::string> expected;
    juce::uint32 waitedAtLeastMs;
    bool imageWritten;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const SlowOutcomeCase& c, std::ostream* os)
{
    *os << c.name;
}

KeyboardScript keyboard (std::function<void (KeyboardScript&)> change)
{
    KeyboardScript script;
    change (script);
    return script;
}

class SlowSequenceOutcomes : public ::testing::TestWithParam<SlowOutcomeCase>
{
};

TEST_P (SlowSequenceOutcomes, WaitOutTheLimit)
{
    const auto& c = GetParam();
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device (c.keyboard, firmwareImage(), [&updater]
                         { return updater.isBusy(); });

    const auto start = juce::Time::getMillisecondCounter();
    ASSERT_TRUE (updater.runToEnd (90000));
    const auto elapsed = juce::Time::getMillisecondCounter() - start;

    EXPECT_EQ (describe (updater.events()), c.expected);
    EXPECT_GE (elapsed, c.waitedAtLeastMs);

    // Once the drive has gone, quitting is allowed again while the port is awaited.
    for (auto busy : device.busyAtPortTestsAfterRestart())
        EXPECT_FALSE (busy);

    // Firmware never reaches another board.
    EXPECT_EQ (device.imageArrived(), c.imageWritten);
    EXPECT_FALSE (device.otherDrive.image().exists());
}

INSTANTIATE_TEST_SUITE_P (
    Runs,
    SlowSequenceOutcomes,
    ::testing::Values (
        SlowOutcomeCase { "NoBootloaderDriveAppears",
                          keyboard ([] (auto& k)
                                    { k.driveAppearsAfterRequest = false; }),
                          expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error5),
                          30000,
                          false },
        SlowOutcomeCase { "DriveStaysAfterTheCopy",
                          keyboard ([] (auto& k)
                                    { k.restartsWhenImageWritten = false; }),
                          expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing, Stage::copying, Stage::restarting }, false, Messages::error6),
                          20000,
                          true },
        // Another board's drive is no stand-in for the keyboard's, whenever it was mounted.
        SlowOutcomeCase { "OnlyAnotherBoardsDriveIsThere",
                          keyboard ([] (auto& k)
                                    { k.driveAppearsAfterRequest = false; k.otherBoard = KeyboardScript::OtherBoard::mounted; }),
                          expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error5),
                          30000,
                          false },
        SlowOutcomeCase { "AnotherBoardsDeviceMountedAfterTheRequest",
                          keyboard ([] (auto& k)
                                    { k.driveAppearsAfterRequest = false; k.otherBoard = KeyboardScript::OtherBoard::mountedAfterRequest; }),
                          expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error5),
                          30000,
                          false },
        // Two drives new after the request: nothing tells which one is the keyboard.
        SlowOutcomeCase { "TwoDrivesAppearAfterTheRequest",
                          keyboard ([] (auto& k)
                                    { k.otherBoard = KeyboardScript::OtherBoard::appearsAfterRequest; }),
                          expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error5),
                          30000,
                          false },
        SlowOutcomeCase { "PortDoesNotComeBack",
                          keyboard ([] (auto& k)
                                    { k.portReturnsAfterRestart = false; }),
                          expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing, Stage::copying, Stage::restarting }, true, Messages::notRestarted),
                          15000,
                          true }),
    CaseName());

struct StallCase
{
    const char* name;
    std::string head;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const StallCase& c, std::ostream* os)
{
    *os << c.name;
}

class StalledDownloads : public ::testing::TestWithParam<StallCase>
{
};

// The server sends part of the body and then nothing, holding the connection open.
TEST_P (StalledDownloads, EndWithAFailureInsteadOfHanging)
{
    const auto respond = [head = GetParam().head] (socket_t socket, const std::atomic<bool>& stopping)
    {
        RawHttpServer::send (socket, head);
        RawHttpServer::holdOpen (socket, stopping);
    };

    const RawHttpServer server (respond);
    TestUpdater updater;
    juce::MemoryBlock image;
    bool result = true;

    updater.body = [&]
    { result = updater.downloadFirmwareFrom (server.url ("/firmware"), image); };
    ASSERT_TRUE (updater.runToEnd (90000));
    EXPECT_FALSE (result);
}

INSTANTIATE_TEST_SUITE_P (
    Http,
    StalledDownloads,
    ::testing::Values (
        StallCase { "WithDeclaredLength", "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n" + std::string (9000, 'x') },
        StallCase { "WithoutDeclaredLength", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string (9000, 'x') }),
    CaseName());
} // namespace
