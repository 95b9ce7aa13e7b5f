#include "device/linux/SystemBus.h"

#include <cerrno>

namespace systembus
{

Connection openSystemBus()
{
    sd_bus* bus = nullptr;

    if (sd_bus_open_system (&bus) < 0)
        return {};

    return Connection (bus);
}

bool pumpUntil (sd_bus* bus, Clock::time_point deadline, const std::function<bool()>& done)
{
    for (;;)
    {
        // Every message that is ready; bounded by the deadline too, should they keep coming.
        for (;;)
        {
            const int result = sd_bus_process (bus, nullptr);

            if (result < 0)
                return false;

            if (done())
                return true;

            if (result == 0 || Clock::now() >= deadline)
                break;
        }

        const auto now = Clock::now();

        if (now >= deadline)
            return true;

        const auto left = std::chrono::duration_cast<std::chrono::microseconds> (deadline - now);
        const int result = sd_bus_wait (bus, static_cast<uint64_t> (left.count()) + 1);

        if (result < 0 && result != -EINTR)
            return false;
    }
}

PendingCall::PendingCall (sd_bus* bus, sd_bus_message* call, std::chrono::milliseconds limit)
{
    const auto limitUs = std::chrono::duration_cast<std::chrono::microseconds> (limit);

    if (sd_bus_call_async (bus, &slot, call, &PendingCall::onReply, this, static_cast<uint64_t> (limitUs.count())) < 0)
        slot = nullptr;
}

PendingCall::~PendingCall()
{
    sd_bus_slot_unref (slot);
}

int PendingCall::onReply (sd_bus_message* message, void* self, sd_bus_error*)
{
    static_cast<PendingCall*> (self)->reply.reset (sd_bus_message_ref (message));
    return 0;
}

Message newMethodCall (sd_bus* bus, const char* service, const char* path, const char* interface, const char* method)
{
    sd_bus_message* call = nullptr;

    if (sd_bus_message_new_method_call (bus, &call, service, path, interface, method) < 0)
        return {};

    return Message (call);
}

} // namespace systembus
