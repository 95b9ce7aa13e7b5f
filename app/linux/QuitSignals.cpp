#include "app/QuitSignals.h"

#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

// JUCE's own loop answers SIGINT by quitting past the guard, and leaves SIGTERM and SIGHUP to
// kill the process. A handler may do next to nothing, so ours only writes a byte into a pipe
// that the message loop watches; the guard then runs there like any other event.

namespace
{
constexpr std::array<int, 3> quitSignalNumbers { SIGINT, SIGTERM, SIGHUP };

// The pipe's write end, read by the handler: a lock-free atomic is safe to read in a handler.
std::atomic<int> wakeUpFd { -1 };
static_assert (std::atomic<int>::is_always_lock_free);

void onQuitSignal (int)
{
    const auto savedErrno = errno;

    // A full pipe already has a request waiting, which is all the loop needs to know.
    if (const auto fd = wakeUpFd.load(); fd >= 0)
    {
        const char request = 1;
        [[maybe_unused]] const auto written = ::write (fd, &request, 1);
    }

    errno = savedErrno;
}
} // namespace

struct QuitSignals::Native
{
    std::function<void()> onQuitRequested;
    int pipeFds[2] { -1, -1 };
    std::array<struct sigaction, quitSignalNumbers.size()> previousActions {};
    bool installed = false;
};

QuitSignals::QuitSignals (std::function<void()> onQuitRequested)
    : native (std::make_unique<Native>())
{
    native->onQuitRequested = std::move (onQuitRequested);

    // Without the pipe the signals keep their default meaning; the program still works.
    if (::pipe2 (native->pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;

    juce::LinuxEventLoop::registerFdCallback (native->pipeFds[0],
                                              [state = native.get()] (int fd)
                                              {
                                                  char pending[64];

                                                  while (::read (fd, pending, sizeof (pending)) > 0)
                                                  {
                                                  }

                                                  state->onQuitRequested();
                                              });
    wakeUpFd = native->pipeFds[1];

    // SA_RESTART: a signal that lands on the updater's thread must not make its reads and
    // writes fail half-way with EINTR.
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;

    for (size_t i = 0; i < quitSignalNumbers.size(); ++i)
        ::sigaction (quitSignalNumbers[i], &action, &native->previousActions[i]);

    native->installed = true;
}

QuitSignals::~QuitSignals()
{
    if (native->installed)
        for (size_t i = 0; i < quitSignalNumbers.size(); ++i)
            ::sigaction (quitSignalNumbers[i], &native->previousActions[i], nullptr);

    wakeUpFd = -1;

    if (native->pipeFds[0] >= 0)
    {
        juce::LinuxEventLoop::unregisterFdCallback (native->pipeFds[0]);
        ::close (native->pipeFds[0]);
        ::close (native->pipeFds[1]);
    }
}
