#pragma once

#include <juce_core/juce_core.h>

#include <functional>

/** A stand-in for the update engine, linked in place of it by the screen's tests.

    It defines the FirmwareUpdater members the screen uses (constructor, destructor, run) over the
    real juce::Thread, and keeps the engine's own busy phase and quit decision, so starts, ends,
    callbacks and quits cross threads exactly as in the program; only what a run does is scripted.
*/
namespace ScriptedUpdater
{
/** What a scripted run can do, from the updater's own thread. */
struct Run
{
    std::function<void (const juce::String&, double)> progress;
    std::function<void (bool, const juce::String&)> finish; // leaves the busy phase first, like the engine
    std::function<bool()> enterBusyPhase; // false once a quit has been accepted
    std::function<bool()> leaveBusyPhase; // true when a deferred quit is accepted now
    std::function<bool()> shouldExit;
};

/** Sets what every following run does. */
void script (std::function<void (Run&)> runBody);

/** How many runs have started since the last script. */
int runsStarted();
} // namespace ScriptedUpdater
