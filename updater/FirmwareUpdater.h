#pragma once

#include "device/BootloaderDrive.h"
#include "updater/BusyPhaseGate.h"

#include <juce_core/juce_core.h>

#include <functional>

/** Runs one firmware update of the keyboard on a background thread.

    Each start of the thread runs the whole update sequence once (find the keyboard, download and
    check the image, restart the keyboard into its bootloader, copy the image, watch it come back)
    and reports through the two callbacks, which are called on this thread.
*/
class FirmwareUpdater : public juce::Thread
{
public:
    /** Receives a status text and a progress value (0..1, or -1 when no fraction is known). */
    using ProgressCallback = std::function<void (const juce::String&, double)>;

    /** Receives the outcome of a run and its message; called at most once per run, last. */
    using FinishedCallback = std::function<void (bool, const juce::String&)>;

    /** Called on this thread when a quit that was deferred during the busy phase is accepted,
        the moment that phase ends.
    */
    using DeferredQuitCallback = std::function<void()>;

    /** How a request to quit was answered. */
    using QuitAnswer = BusyPhaseGate::QuitAnswer;

    /** Creates the updater; its thread is not started. The progress and finish callbacks must be
        set; the deferred-quit callback may be empty.
    */
    FirmwareUpdater (ProgressCallback progressCallback,
                     FinishedCallback finishedCallback,
                     DeferredQuitCallback deferredQuitCallback = {});

    /** Stops the thread, waiting up to 30 seconds for the run to return. */
    ~FirmwareUpdater() override;

    /** The update sequence: one complete run. */
    void run() override;

    /** True while the keyboard is being changed; the program must not quit then. */
    bool isBusy() const noexcept { return phase.isBusy(); }

    /** Asks whether the program may end now. Accepted unless the keyboard is being changed, and
        then the run never starts to change it; during the change the request is refused, or,
        with `deferWhileBusy`, accepted when the change is over (the deferred-quit callback then
        says so). Any thread may call this.
    */
    QuitAnswer requestQuit (bool deferWhileBusy) noexcept { return phase.requestQuit (deferWhileBusy); }

    /** Tests the condition every 200 ms until it holds (true), the limit in milliseconds has
        passed or the thread has been asked to stop (false). The condition is tested at least once.
    */
    bool waitUntil (std::function<bool()> condition, int limitMs);

    /** Downloads the firmware image from the maker's server into an empty block. */
    bool downloadFirmware (juce::MemoryBlock& image);

    /** How far a copy onto the bootloader drive got. */
    enum class CopyResult
    {
        /** Every chunk was written and synced to the drive. */
        complete,

        /** Every chunk was written and every sync but the last one succeeded. A boot ROM that
            restarts the moment it has the last block makes the last sync fail; the copy counts as
            complete only if the drive then goes away at once.
        */
        lastSyncFailed,

        /** The file could not be opened on the drive, a write failed, or a sync before the last
            one failed: the image did not reach the drive whole, though part of it may have.
        */
        incomplete
    };

    /** Writes the image as "VelmorHL73.uf2" into the root of the bootloader drive, only while that
        volume is mounted there, and says how far it got.
    */
    CopyResult copyFirmwareToDrive (const juce::MemoryBlock& image, const BootloaderDrive& drive);

    /** The keyboard's name as the messages show it. */
    static constexpr const char* deviceName = "VELMOR HL73";

protected:
    /** The download itself, from any address; downloadFirmware calls it with the maker's URL. */
    bool downloadFirmwareFrom (const juce::URL& url, juce::MemoryBlock& image);

    /** The address of the firmware file on the maker's server, fixed when the program is built.
        Virtual only so that the tests can serve the file from a local server.
    */
    virtual juce::URL getFirmwareUrl() const;

private:
    /** The run enters its busy phase; false when a quit has been accepted, and the run must then
        end quietly without touching the keyboard.
    */
    bool enterBusyPhase() noexcept { return phase.tryEnterBusyPhase(); }

    /** The run leaves its busy phase; true when a deferred quit is accepted now, which the
        deferred-quit callback has then been told.
    */
    bool leaveBusyPhase()
    {
        if (! phase.leaveBusyPhase())
            return false;

        if (onDeferredQuit)
            onDeferredQuit();

        return true;
    }

    ProgressCallback onProgress;
    FinishedCallback onFinished;
    DeferredQuitCallback onDeferredQuit;
    BusyPhaseGate phase;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareUpdater)
};
