#include "FakeKeyboard.h"
#include "SequenceSupport.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{
using namespace SequenceSupport;
using Answer = BusyPhaseGate::QuitAnswer;

TEST (BusyPhaseGate, AnAcceptedQuitShutsTheBusyPhaseOutForGood)
{
    BusyPhaseGate gate;
    EXPECT_EQ (gate.requestQuit (false), Answer::accepted);
    EXPECT_FALSE (gate.tryEnterBusyPhase());
    EXPECT_FALSE (gate.isBusy());
    EXPECT_FALSE (gate.leaveBusyPhase());
    EXPECT_EQ (gate.requestQuit (true), Answer::accepted);
    EXPECT_TRUE (gate.isQuitting());
}

TEST (BusyPhaseGate, ARefusedQuitIsForgotten)
{
    BusyPhaseGate gate;
    ASSERT_TRUE (gate.tryEnterBusyPhase());
    EXPECT_EQ (gate.requestQuit (false), Answer::refused);
    EXPECT_TRUE (gate.isBusy());
    EXPECT_FALSE (gate.leaveBusyPhase()) << "a refused quit came back";
    EXPECT_FALSE (gate.isQuitting());

    // The next run may enter again; a quit after the phase is accepted.
    ASSERT_TRUE (gate.tryEnterBusyPhase());
    EXPECT_FALSE (gate.leaveBusyPhase());
    EXPECT_EQ (gate.requestQuit (false), Answer::accepted);
}

TEST (BusyPhaseGate, ADeferredQuitIsAcceptedWhenTheBusyPhaseEnds)
{
    BusyPhaseGate gate;
    ASSERT_TRUE (gate.tryEnterBusyPhase());
    EXPECT_EQ (gate.requestQuit (true), Answer::deferred);
    EXPECT_TRUE (gate.isBusy());
    EXPECT_FALSE (gate.isQuitting());
    EXPECT_EQ (gate.requestQuit (false), Answer::deferred) << "a close click must not undo a held quit";
    EXPECT_EQ (gate.requestQuit (true), Answer::deferred);

    EXPECT_TRUE (gate.leaveBusyPhase());
    EXPECT_FALSE (gate.isBusy());
    EXPECT_TRUE (gate.isQuitting());
    EXPECT_FALSE (gate.tryEnterBusyPhase());
    EXPECT_FALSE (gate.leaveBusyPhase()) << "the held quit was reported twice";
}

TEST (BusyPhaseGate, LeavingWithoutHavingEnteredChangesNothing)
{
    BusyPhaseGate gate;
    EXPECT_FALSE (gate.leaveBusyPhase());
    EXPECT_FALSE (gate.isBusy());
    EXPECT_EQ (gate.requestQuit (false), Answer::accepted);
}

KeyboardScript serialKeyboard()
{
    return {};
}

const std::initializer_list<Stage> wholeRun { Stage::looking, Stage::downloading, Stage::preparing, Stage::copying, Stage::restarting };

TEST (QuitDecision, AQuitAcceptedAsTheDownloadEndsLeavesTheKeyboardAlone)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device (serialKeyboard(), firmwareImage(), [&updater]
                         { return updater.isBusy(); });
    std::atomic<int> deferredQuits { 0 };
    updater.onDeferredQuit = [&]
    { ++deferredQuits; };

    // The last fraction of the download is the last moment before the run would enter the busy
    // phase; no stop request is made, as when the window has just been closed.
    Answer answer = Answer::refused;
    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.text == "Downloading the firmware..." && event.value == 1.0)
            answer = updater.requestQuit (false);
    };

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (answer, Answer::accepted);
    EXPECT_EQ (describe (updater.events()), expectedEvents ({ Stage::looking, Stage::downloading }, false, {}))
        << "the run must end quietly, without a finish";
    EXPECT_EQ (FakeDevice::calls().enterBootloader, 0);
    EXPECT_FALSE (device.drive.image().exists());
    EXPECT_FALSE (updater.isBusy());
    EXPECT_EQ (deferredQuits, 0);
}

TEST (QuitDecision, AQuitAcceptedAtTheStartKeepsAKeyboardInItsBootloaderUnwritten)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    KeyboardScript inBootloader;
    inBootloader.serialPortAtStart = false;
    inBootloader.driveAtStart = true;
    FakeKeyboard device (inBootloader, firmwareImage(), [&updater]
                         { return updater.isBusy(); });

    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.text == "Looking for the device...")
        {
            EXPECT_EQ (updater.requestQuit (false), Answer::accepted);
        }
    };

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (describe (updater.events()), expectedEvents ({ Stage::looking, Stage::downloading }, false, {}));
    EXPECT_FALSE (device.drive.image().exists());
}

TEST (QuitDecision, AQuitRefusedDuringTheBusyPhaseLetsTheUpdateComplete)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device (serialKeyboard(), firmwareImage(), [&updater]
                         { return updater.isBusy(); });
    std::vector<Answer> answers;
    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.busyAtTheTime)
            answers.push_back (updater.requestQuit (false));
    };

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (describe (updater.events()), expectedEvents (wholeRun, true, Messages::success));
    ASSERT_FALSE (answers.empty());
    EXPECT_EQ (answers, std::vector<Answer> (answers.size(), Answer::refused));
    EXPECT_TRUE (device.imageArrived());
    EXPECT_EQ (updater.requestQuit (false), Answer::accepted);
}

TEST (QuitDecision, ADeferredQuitGoesAheadOnceTheDriveHasGoneWithoutWaitingForThePort)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    FakeKeyboard device (serialKeyboard(), firmwareImage(), [&updater]
                         { return updater.isBusy(); });
    std::atomic<int> deferredQuits { 0 };
    std::atomic<bool> busyAtDeferredQuit { true };
    updater.onDeferredQuit = [&]
    {
        busyAtDeferredQuit = updater.isBusy();
        ++deferredQuits;
    };
    std::vector<Answer> answers;
    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.text == "Preparing the device..." || event.text == "Restarting the device...")
            answers.push_back (updater.requestQuit (true));
    };

    ASSERT_TRUE (updater.runToEnd());

    EXPECT_EQ (answers, (std::vector<Answer> { Answer::deferred, Answer::deferred }));
    EXPECT_EQ (describe (updater.events()), expectedEvents (wholeRun, false, {}))
        << "the whole change, then no finish: the program is ending";
    EXPECT_TRUE (device.imageArrived());
    EXPECT_EQ (deferredQuits, 1);
    EXPECT_FALSE (busyAtDeferredQuit);
    EXPECT_TRUE (device.busyAtPortTestsAfterRestart().empty()) << "the run waited for the port";
    EXPECT_FALSE (updater.isBusy());
}

TEST (QuitDecision, ADeferredQuitGoesAheadWhenAFailureEndsTheBusyPhase)
{
    MakerServer server;
    TestUpdater updater;
    updater.firmwareUrl = server.url ("/firmware");
    KeyboardScript refusing;
    refusing.acceptsRestartRequest = false;
    FakeKeyboard device (refusing, firmwareImage(), [&updater]
                         { return updater.isBusy(); });
    std::atomic<int> deferredQuits { 0 };
    std::atomic<size_t> eventsAtDeferredQuit { 0 };
    updater.onDeferredQuit = [&]
    {
        eventsAtDeferredQuit = updater.events().size();
        ++deferredQuits;
    };
    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.text == "Preparing the device...")
        {
            EXPECT_EQ (updater.requestQuit (true), Answer::deferred);
        }
    };

    ASSERT_TRUE (updater.runToEnd());

    const auto expected = expectedEvents ({ Stage::looking, Stage::downloading, Stage::preparing }, false, Messages::error4);
    EXPECT_EQ (describe (updater.events()), expected);
    EXPECT_EQ (deferredQuits, 1);
    EXPECT_EQ (eventsAtDeferredQuit, expected.size() - 1) << "the quit goes ahead as the phase ends, before the finish";
}
} // namespace
