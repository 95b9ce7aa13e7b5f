#pragma once

#include <functional>
#include <memory>

/** Hands the operating system's requests to end the program to a function on the message thread,
    so that they pass the application's quit guard instead of ending the process wherever it
    stands (on Linux: SIGINT, SIGTERM and SIGHUP, which would otherwise quit past the guard or kill
    the process outright).

    Create and destroy it on the message thread, one at a time; while it exists, each request
    calls the function once, from the message loop.
*/
class QuitSignals
{
public:
    /** Starts taking the requests; `onQuitRequested` is called on the message thread. */
    explicit QuitSignals (std::function<void()> onQuitRequested);

    /** Gives the requests back to the handling they had before. */
    ~QuitSignals();

    QuitSignals (const QuitSignals&) = delete;
    QuitSignals& operator= (const QuitSignals&) = delete;

private:
    struct Native;
    std::unique_ptr<Native> native;
};
