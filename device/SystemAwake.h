#pragma once

#include <memory>

/** Keeps the computer from sleeping, shutting down or logging out on its idle timer for as long
    as the object lives: hold one while the keyboard is being changed, since an interruption then
    can leave it half-written.

    On Linux this is a systemd-logind "block" inhibitor lock. Taking it waits at most 250 ms for
    logind; without a system bus or logind, or when it is refused, nothing happens, silently.
    Destroying the object releases it at once.

    @code
    std::optional<KeepSystemAwake> awake;
    awake.emplace();   // busy phase begins
    awake.reset();     // busy phase ends
    @endcode
*/
class KeepSystemAwake
{
public:
    /** Asks the system to stay up. */
    KeepSystemAwake();

    /** Lets the system sleep again. */
    ~KeepSystemAwake();

    /** True when the system granted the request. */
    bool isHeld() const noexcept;

private:
    struct Hold;
    std::unique_ptr<Hold> hold;

    KeepSystemAwake (const KeepSystemAwake&) = delete;
    KeepSystemAwake& operator= (const KeepSystemAwake&) = delete;
};
