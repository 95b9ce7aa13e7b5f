#include "device/SystemAwake.h"
#include "device/linux/SystemBus.h"

#include <fcntl.h>
#include <unistd.h>

namespace
{
using namespace std::chrono_literals;

// Taken once, at the start of the busy phase, where a moment's wait is not noticed; logind asks
// polkit first, which can take some time on a busy machine. A later answer is not waited for.
constexpr auto answerBudget = 250ms;

// The descriptor of a logind inhibitor lock: held while open. -1 when there is none.
int takeInhibitor()
{
    const auto bus = systembus::openSystemBus();

    if (! bus)
        return -1;

    const auto call = systembus::newMethodCall (bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit");

    if (! call
        || sd_bus_message_append (call.get(), "ssss", "sleep:shutdown:idle", "VelmorHL73Updater", "Updating the keyboard's firmware", "block") < 0)
        return -1;

    const systembus::PendingCall inhibit (bus.get(), call.get(), answerBudget);

    if (! inhibit.isSent()
        || ! systembus::pumpUntil (bus.get(), systembus::Clock::now() + answerBudget, [&inhibit]
                                   { return inhibit.hasAnswered(); })
        || ! inhibit.hasAnswered() || sd_bus_message_is_method_error (inhibit.answer(), nullptr))
        return -1;

    int fd = -1;

    if (sd_bus_message_read_basic (inhibit.answer(), 'h', &fd) < 0 || fd < 0)
        return -1;

    // The message owns the descriptor it carried and closes it with the message; keep a copy.
    return ::fcntl (fd, F_DUPFD_CLOEXEC, 3);
}
} // namespace

struct KeepSystemAwake::Hold
{
    int fd = -1;
};

KeepSystemAwake::KeepSystemAwake()
    : hold (std::make_unique<Hold>())
{
    hold->fd = takeInhibitor();
}

KeepSystemAwake::~KeepSystemAwake()
{
    if (hold->fd >= 0)
        ::close (hold->fd);
}

bool KeepSystemAwake::isHeld() const noexcept
{
    return hold->fd >= 0;
}
