#include "ScriptedUpdater.h"

#include "updater/FirmwareUpdater.h"

#include <atomic>
#include <mutex>

namespace
{
std::mutex scriptLock;
std::function<void (ScriptedUpdater::Run&)> currentScript;
std::atomic<int> runCount { 0 };
} // namespace

void ScriptedUpdater::script (std::function<void (Run&)> runBody)
{
    const std::lock_guard<std::mutex> lock (scriptLock);
    currentScript = std::move (runBody);
    runCount = 0;
}

int ScriptedUpdater::runsStarted()
{
    return runCount;
}

FirmwareUpdater::FirmwareUpdater (ProgressCallback progressCallback,
                                  FinishedCallback finishedCallback,
                                  DeferredQuitCallback deferredQuitCallback)
    : juce::Thread ("Firmware updater")
    , onProgress (std::move (progressCallback))
    , onFinished (std::move (finishedCallback))
    , onDeferredQuit (std::move (deferredQuitCallback))
{
}

FirmwareUpdater::~FirmwareUpdater()
{
    stopThread (30000);
}

void FirmwareUpdater::run()
{
    std::function<void (ScriptedUpdater::Run&)> body;
    {
        const std::lock_guard<std::mutex> lock (scriptLock);
        body = currentScript;
    }
    ++runCount;

    ScriptedUpdater::Run handle {
        [this] (const juce::String& text, double value)
        { onProgress (text, value); },
        [this] (bool success, const juce::String& message)
        {
            leaveBusyPhase();
            onFinished (success, message);
        },
        [this]
        { return enterBusyPhase(); },
        [this]
        { return leaveBusyPhase(); },
        [this]
        { return threadShouldExit(); }
    };

    if (body != nullptr)
        body (handle);
}

juce::URL FirmwareUpdater::getFirmwareUrl() const
{
    return {};
}
