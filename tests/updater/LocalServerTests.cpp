#include "LocalHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// The engine's tests make a server, sometimes use it for nothing, and drop it. On a loaded
// machine the server's thread may not have reached its accept loop by then; the destructor must
// still return.
TEST (LocalServers, StartedAndDroppedAtOnceUnderLoadNeverHang)
{
    std::atomic<bool> loading { true };
    std::vector<std::thread> load;

    for (unsigned i = 0; i < std::max (2u, std::thread::hardware_concurrency()); ++i)
        load.emplace_back ([&loading]
                           {
                               volatile unsigned spin = 0;
                               while (loading)
                                   spin = spin + 1; });

    for (int i = 0; i < 300; ++i)
    {
        const LocalHttpServer server ([] (httplib::Server&) {});
        const RawHttpServer raw ([] (int, const std::atomic<bool>&) {});
    }

    loading = false;

    for (auto& thread : load)
        thread.join();
}
