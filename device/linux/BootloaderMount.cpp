#include "device/BootloaderDrive.h"
#include "device/linux/SystemBus.h"
#include "device/linux/Udisks.h"

#include <mutex>
#include <optional>

namespace
{
using namespace std::chrono_literals;
using systembus::Clock;

const char* const udisksService = "org.freedesktop.UDisks2";
const char* const udisksRoot = "/org/freedesktop/UDisks2";

// What one poll may spend waiting for the disk service: a tenth of the 200 ms polling. A slower
// answer is still taken, by a later poll, up to the listing's own limit.
constexpr auto pollBudget = 20ms;
constexpr auto listingLimit = 5000ms;

// The one listing taken before the restart request may wait longer: it happens once per run,
// at the start of the busy phase, where a quarter second is not noticed.
constexpr auto snapshotBudget = 250ms;

// After no bus, a broken connection or a failed listing, the service is left alone this long:
// no connection attempt or call on every poll, but a bus or service that starts later is found.
constexpr auto retryDelay = 3000ms;

// A listing still on its way from polls longer ago than this belongs to an earlier wait.
constexpr auto staleAfter = 1000ms;

/** The connection and what the polls remember between them. Used by the updater thread only;
    the lock makes a call from another thread safe all the same.
*/
struct DiskService
{
    std::mutex lock;
    systembus::Connection bus;
    std::optional<systembus::PendingCall> listing;
    Clock::time_point quietUntil {}, lastPoll {};

    /** The boot ROM filesystem appearances asked for (or seen mounted), while they are present. */
    std::set<std::string> asked;

    /** The connection; null while there is none or the service is being left alone. */
    sd_bus* connection (Clock::time_point now)
    {
        if (now < quietUntil)
            return nullptr;

        // A connection the bus has closed (its daemon restarted, say) is replaced.
        if (bus && sd_bus_is_open (bus.get()) <= 0)
        {
            listing.reset();
            bus.reset();
        }

        if (! bus)
            bus = systembus::openSystemBus();

        if (! bus)
            leaveAlone (now);

        return bus.get();
    }

    void leaveAlone (Clock::time_point now) { quietUntil = now + retryDelay; }

    void disconnect (Clock::time_point now)
    {
        listing.reset();
        bus.reset();
        leaveAlone (now);
    }

    /** Starts a listing of the service's objects unless one is on its way. */
    bool startListing()
    {
        if (listing)
            return true;

        const auto call = systembus::newMethodCall (bus.get(), udisksService, udisksRoot, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");

        if (! call)
            return false;

        listing.emplace (bus.get(), call.get(), listingLimit);

        if (! listing->isSent())
            listing.reset();

        return listing.has_value();
    }

    /** Waits for the listing until the deadline; the parsed objects when it has answered. */
    std::optional<udisks::ManagedObjects> takeListing (Clock::time_point deadline)
    {
        const auto answered = [this]
        { return listing && listing->hasAnswered(); };

        if (! systembus::pumpUntil (bus.get(), deadline, answered))
        {
            disconnect (Clock::now());
            return std::nullopt;
        }

        if (! answered())
            return std::nullopt;

        const systembus::Message reply (sd_bus_message_ref (listing->answer()));
        listing.reset();

        udisks::ManagedObjects objects;

        if (sd_bus_message_is_method_error (reply.get(), nullptr) || ! udisks::parseManagedObjects (reply.get(), objects))
        {
            leaveAlone (Clock::now());
            return std::nullopt;
        }

        return objects;
    }

    /** Asks for one filesystem to be mounted, without waiting for the answer. */
    void requestMount (const std::string& objectPath)
    {
        const auto call = systembus::newMethodCall (bus.get(), udisksService, objectPath.c_str(), "org.freedesktop.UDisks2.Filesystem", "Mount");

        // Without user interaction: where polkit would ask for a password, the answer is no.
        if (call && sd_bus_message_append (call.get(), "a{sv}", 1, "auth.no_user_interaction", "b", 1) >= 0
            && sd_bus_message_set_expect_reply (call.get(), 0) >= 0)
            sd_bus_send (bus.get(), call.get(), nullptr);
    }
};

DiskService& diskService()
{
    // Never destroyed: no exit-time teardown can race a poll.
    static auto* service = new DiskService();
    return *service;
}
} // namespace

int mountNewBootloaderDrives (const std::vector<std::string>& leaveAlone)
{
    auto& service = diskService();
    const std::scoped_lock guard (service.lock);
    const auto start = Clock::now();

    if (start - service.lastPoll > staleAfter)
        service.listing.reset();

    service.lastPoll = start;

    if (service.connection (start) == nullptr)
        return 0;

    // A service that did not answer the last poll in time gets no more waiting: its answer is
    // taken when it has come.
    const bool answerIsLate = service.listing.has_value();

    if (! service.startListing())
    {
        service.disconnect (start);
        return 0;
    }

    const auto objects = service.takeListing (answerIsLate ? start : start + pollBudget);

    if (! objects)
        return 0;

    const auto chosen = udisks::chooseFilesystemsToMount (*objects, leaveAlone, service.asked);

    for (const auto& objectPath : chosen)
        service.requestMount (objectPath);

    // Writes what the socket did not take at once, without waiting.
    if (! chosen.empty() && ! systembus::pumpUntil (service.bus.get(), Clock::now(), []
                                                    { return false; }))
        service.disconnect (Clock::now());

    return static_cast<int> (chosen.size());
}

std::optional<std::vector<std::string>> listKnownBootloaderDrives()
{
    auto& service = diskService();
    const std::scoped_lock guard (service.lock);
    const auto start = Clock::now();

    // A listing asked for earlier may be older than a drive plugged in since: ask afresh.
    service.listing.reset();

    if (service.connection (start) == nullptr)
        return std::nullopt;

    if (! service.startListing())
    {
        service.disconnect (start);
        return std::nullopt;
    }

    const auto objects = service.takeListing (start + snapshotBudget);

    if (! objects)
    {
        service.listing.reset();
        return std::nullopt;
    }

    return udisks::listBootloaderIdentities (*objects);
}
