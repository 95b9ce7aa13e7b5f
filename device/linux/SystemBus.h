#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <memory>

namespace systembus
{

/** The clock of every deadline here. */
using Clock = std::chrono::steady_clock;

/** Closes and releases a connection without waiting for its queued messages to be written. */
struct CloseConnection
{
    void operator() (sd_bus* bus) const noexcept { sd_bus_close_unref (bus); }
};

/** Releases a message. */
struct ReleaseMessage
{
    void operator() (sd_bus_message* message) const noexcept { sd_bus_message_unref (message); }
};

/** An owned connection. */
using Connection = std::unique_ptr<sd_bus, CloseConnection>;

/** An owned message. */
using Message = std::unique_ptr<sd_bus_message, ReleaseMessage>;

/** Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the standard socket). Only the
    socket's connect happens here, which does not block; the handshake goes on while the
    connection is pumped. Null when there is no bus.
*/
Connection openSystemBus();

/** Handles whatever the connection has ready and waits for more until `done` holds or the
    deadline has passed. False when the connection has broken (it is useless from then on).
*/
bool pumpUntil (sd_bus* bus, Clock::time_point deadline, const std::function<bool()>& done);

/** A method call whose reply is collected by a pumped connection, however late it comes, until
    the call's own time limit. Create it, then pump the connection.
*/
class PendingCall
{
public:
    /** Sends the call. Check isSent(): false when it could not be sent. */
    PendingCall (sd_bus* bus, sd_bus_message* call, std::chrono::milliseconds limit);

    /** Forgets the call; a reply that comes later is dropped. */
    ~PendingCall();

    /** True when the call went out. */
    bool isSent() const noexcept { return slot != nullptr; }

    /** True when the reply (or an error, a time-out included) has arrived. */
    bool hasAnswered() const noexcept { return reply != nullptr; }

    /** The answer: a method return, or an error message (sd_bus_message_is_method_error). */
    sd_bus_message* answer() const noexcept { return reply.get(); }

private:
    static int onReply (sd_bus_message* message, void* self, sd_bus_error*);

    sd_bus_slot* slot = nullptr;
    Message reply;

    PendingCall (const PendingCall&) = delete;
    PendingCall& operator= (const PendingCall&) = delete;
};

/** A method call made ready to be filled with arguments; null on failure. */
Message newMethodCall (sd_bus* bus, const char* service, const char* path, const char* interface, const char* method);

} // namespace systembus
