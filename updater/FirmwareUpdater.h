#pragma once

#include "device/BootloaderDrive.h"

#include <juce_core/juce_core.h>

#include <atomic>
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

    /** Creates the updater; its thread is not started. Both callbacks must be set. */
    FirmwareUpdater (ProgressCallback progressCallback, FinishedCallback finishedCallback);

    /** Stops the thread, waiting up to 30 seconds for the run to return. */
    ~FirmwareUpdater() override;

    /** The update sequence: one complete run. */
    void run() override;

    /** True while the keyboard is being changed; the program must not quit then. */
    bool isBusy() const noexcept;

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
    ProgressCallback onProgress;
    FinishedCallback onFinished;
    std::atomic<bool> busy { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareUpdater)
};
