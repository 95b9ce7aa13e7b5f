#pragma once

#include <atomic>

/** The one decision between changing the keyboard and ending the program.

    The update run enters its busy phase (from the moment its image has passed the check until the
    bootloader drive has gone) only if no quit has been accepted, and a quit is accepted only while the run is not in
    that phase. Both sides settle it with a single compare-and-swap on one state, so neither can
    slip in between the other's look and its act: once a quit is accepted the run never starts to
    change the keyboard, and once it has started no quit is accepted until it is done.

    A quit asked for during the busy phase is either refused (the window's close button: the user
    can close again) or deferred (a signal from the system, which is not sent twice): a deferred quit
    is accepted the moment the busy phase ends, and leaveBusyPhase says so.

    Lock-free; any thread may call any member.
*/
class BusyPhaseGate
{
public:
    /** How a request to quit was answered. */
    enum class QuitAnswer
    {
        accepted, // the program may end now; the busy phase will not be entered
        refused, // the keyboard is being changed; nothing is remembered
        deferred // the keyboard is being changed; the quit is accepted when that ends
    };

    /** The run's side: enters the busy phase, unless a quit has been accepted (false). */
    bool tryEnterBusyPhase() noexcept
    {
        auto expected = idle;
        return state.compare_exchange_strong (expected, busy);
    }

    /** The run's side: ends the busy phase. True when a quit was deferred during it and is now
        accepted; false otherwise, also when the phase had not been entered.
    */
    bool leaveBusyPhase() noexcept
    {
        auto expected = busy;

        if (state.compare_exchange_strong (expected, idle))
            return false;

        // Only this side ever moves the state out of busyQuitDeferred.
        return expected == busyQuitDeferred && state.compare_exchange_strong (expected, quitting);
    }

    /** The quit guard's side. Outside the busy phase the quit is accepted, and stays accepted for
        good; during it the request is refused, or deferred when `deferWhileBusy` is true (a quit
        already deferred stays deferred either way).
    */
    QuitAnswer requestQuit (bool deferWhileBusy) noexcept
    {
        auto current = state.load();

        for (;;)
        {
            switch (current)
            {
                case idle:
                    if (state.compare_exchange_weak (current, quitting))
                        return QuitAnswer::accepted;
                    break;

                case busy:
                    if (! deferWhileBusy)
                        return QuitAnswer::refused;
                    if (state.compare_exchange_weak (current, busyQuitDeferred))
                        return QuitAnswer::deferred;
                    break;

                case busyQuitDeferred:
                    return QuitAnswer::deferred;

                case quitting:
                default:
                    return QuitAnswer::accepted;
            }
        }
    }

    /** True during the busy phase, while the keyboard is being changed. */
    bool isBusy() const noexcept
    {
        const auto current = state.load();
        return current == busy || current == busyQuitDeferred;
    }

    /** True once a quit has been accepted. */
    bool isQuitting() const noexcept { return state.load() == quitting; }

private:
    enum State
    {
        idle,
        busy,
        busyQuitDeferred,
        quitting
    };

    std::atomic<State> state { idle };
};
