#pragma once

#include <httplib.h>
#include <juce_core/juce_core.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

/** An HTTP server on 127.0.0.1 with a free port, running while the object lives. */
class LocalHttpServer
{
public:
    /** Lets the test register its routes; returns once the server accepts connections. */
    explicit LocalHttpServer (const std::function<void (httplib::Server&)>& addRoutes);

    /** Stops the server and waits for its thread. */
    ~LocalHttpServer();

    /** The address of a path on this server, such as "/firmware". */
    juce::URL url (const std::string& path) const;

    /** The number of requests that reached a route. */
    int requestCount() const { return requests.load(); }

private:
    httplib::Server server;
    int port = -1;
    std::atomic<int> requests { 0 };
    std::atomic<bool> listenReturned { false };
    std::thread thread;
};

/** A server on 127.0.0.1 that answers every connection with whatever its handler writes to the
    socket, for responses that a well-behaved HTTP library will not produce.
*/
class RawHttpServer
{
public:
    /** Gets the connected socket after the request head has been read; the socket is closed when
        it returns. `stopping` turns true when the server is being destroyed.
    */
    using Handler = std::function<void (socket_t socket, const std::atomic<bool>& stopping)>;

    /** Starts accepting connections. */
    explicit RawHttpServer (Handler handler);

    /** Stops accepting, tells a running handler to stop and waits for it. */
    ~RawHttpServer();

    /** The address of a path on this server. */
    juce::URL url (const std::string& path) const;

    /** Writes all of the text, ignoring a peer that has gone. */
    static void send (socket_t socket, const std::string& text);

    /** Makes the close that follows the handler a reset (RST) instead of an orderly end. */
    static void resetOnClose (socket_t socket);

    /** Returns when the peer closes the connection or `stopping` turns true. */
    static void holdOpen (socket_t socket, const std::atomic<bool>& stopping);

private:
    void serve();

    Handler handler;
    socket_t listener;
    int port = -1;
    std::atomic<bool> stopping { false };
    std::thread thread;
};
