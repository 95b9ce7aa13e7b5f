#pragma once

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <pthread.h>

/** Stops `server` when SIGTERM or SIGINT arrives, also when it arrives before the server's accept
    loop has started: httplib's stop() does nothing until then, and a server told to stop too early
    would run on for ever. The signals are taken by a thread of their own with sigwait, so nothing
    runs inside a signal handler. Call it on the main thread before any other thread is started
    and before listening.
*/
inline void stopOnSignals (httplib::Server& server)
{
    sigset_t signals;
    sigemptyset (&signals);
    sigaddset (&signals, SIGTERM);
    sigaddset (&signals, SIGINT);
    pthread_sigmask (SIG_BLOCK, &signals, nullptr);

    std::thread ([&server, signals]
                 {
                     int received = 0;
                     sigwait (&signals, &received);

                     while (! server.is_running())
                         std::this_thread::sleep_for (std::chrono::milliseconds (1));

                     server.stop(); })
        .detach();
}
