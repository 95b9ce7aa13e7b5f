#pragma once

#include "updater/FirmwareUpdater.h"

#include <functional>
#include <mutex>
#include <vector>

/** One report of the updater: a progress report, or the finish of a run. */
struct UpdaterEvent
{
    enum class Kind
    {
        progress,
        finished
    };

    Kind kind;
    juce::String text;
    double value = 0.0; // progress value; for a finish, 1 for success and 0 for failure
    bool busyAtTheTime = false;
};

/** The product's updater with its reports recorded, its protected parts reachable, and
    optionally another body for its thread or another firmware address.
*/
class TestUpdater : public FirmwareUpdater
{
public:
    TestUpdater()
        : FirmwareUpdater ([this] (const juce::String& text, double value)
                           { record ({ UpdaterEvent::Kind::progress, text, value, isBusy() }); },
                           [this] (bool success, const juce::String& message)
                           { record ({ UpdaterEvent::Kind::finished, message, success ? 1.0 : 0.0, isBusy() }); },
                           [this]
                           {
                               if (onDeferredQuit)
                                   onDeferredQuit();
                           })
    {
    }

    ~TestUpdater() override
    {
        // Before this class's members go, not in the base destructor.
        stopThread (30000);
    }

    using FirmwareUpdater::downloadFirmwareFrom;

    /** The compiled-in firmware address, unless a test has set `firmwareUrl`. */
    juce::URL getFirmwareUrl() const override
    {
        return firmwareUrl.isEmpty() ? FirmwareUpdater::getFirmwareUrl() : firmwareUrl;
    }

    /** The product's own address, whatever the test has set. */
    juce::URL getCompiledInFirmwareUrl() const { return FirmwareUpdater::getFirmwareUrl(); }

    /** When set, the thread runs this instead of the update sequence. */
    std::function<void()> body;

    /** When set before a run, the firmware is fetched from here. */
    juce::URL firmwareUrl;

    /** Called on the updater's thread when a deferred quit is accepted. */
    std::function<void()> onDeferredQuit;

    /** Called on the reporting thread after each event has been recorded. */
    std::function<void (const UpdaterEvent&)> onEvent;

    void run() override
    {
        if (body)
            body();
        else
            FirmwareUpdater::run();
    }

    /** Starts the thread and waits for it to end; false if it is still running after the limit. */
    bool runToEnd (int limitMs = 20000)
    {
        startThread();
        return waitForThreadToExit (limitMs);
    }

    std::vector<UpdaterEvent> events() const
    {
        const std::scoped_lock guard (lock);
        return recorded;
    }

    void clearEvents()
    {
        const std::scoped_lock guard (lock);
        recorded.clear();
    }

    /** The values of the progress reports, in order. */
    std::vector<double> progressValues() const
    {
        std::vector<double> values;

        for (const auto& event : events())
            if (event.kind == UpdaterEvent::Kind::progress)
                values.push_back (event.value);

        return values;
    }

    /** The finishes recorded; a run makes at most one. */
    std::vector<UpdaterEvent> finishes() const
    {
        std::vector<UpdaterEvent> result;

        for (const auto& event : events())
            if (event.kind == UpdaterEvent::Kind::finished)
                result.push_back (event);

        return result;
    }

private:
    void record (const UpdaterEvent& event)
    {
        {
            const std::scoped_lock guard (lock);
            recorded.push_back (event);
        }

        if (onEvent)
            onEvent (event);
    }

    mutable std::mutex lock;
    std::vector<UpdaterEvent> recorded;
};
