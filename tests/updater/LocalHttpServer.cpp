#include "LocalHttpServer.h"

#include <chrono>
#include <stdexcept>

// The few socket calls the raw server makes, on either system's sockets. (On Windows httplib.h
// has brought in Winsock and started it.)
#ifdef _WIN32
namespace
{
using SocketLength = int;
const socket_t noSocket = INVALID_SOCKET;

socket_t openSocket() { return ::socket (AF_INET, SOCK_STREAM, 0); }
socket_t acceptConnection (socket_t listener) { return ::accept (listener, nullptr, nullptr); }
void closeSocket (socket_t socket) { ::closesocket (socket); }
int pollSocket (pollfd& entry, int timeoutMs) { return ::WSAPoll (&entry, 1, timeoutMs); }
long long sendSome (socket_t socket, const char* data, size_t size) { return ::send (socket, data, (int) size, 0); }
long long receiveSome (socket_t socket, char* buffer, size_t size) { return ::recv (socket, buffer, (int) size, 0); }

void lingerNot (socket_t socket)
{
    const linger abort { 1, 0 };
    ::setsockopt (socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*> (&abort), sizeof (abort));
}
} // namespace
#else
    #include <arpa/inet.h>
    #include <netinet/in.h>
    #include <poll.h>
    #include <sys/socket.h>
    #include <unistd.h>

namespace
{
using SocketLength = socklen_t;
const socket_t noSocket = -1;

socket_t openSocket() { return ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
socket_t acceptConnection (socket_t listener) { return ::accept4 (listener, nullptr, nullptr, SOCK_CLOEXEC); }
void closeSocket (socket_t socket) { ::close (socket); }
int pollSocket (pollfd& entry, int timeoutMs) { return ::poll (&entry, 1, timeoutMs); }
// A peer that has gone must not end the test process with SIGPIPE.
long long sendSome (socket_t socket, const char* data, size_t size) { return ::send (socket, data, size, MSG_NOSIGNAL); }
long long receiveSome (socket_t socket, char* buffer, size_t size) { return ::recv (socket, buffer, size, 0); }

void lingerNot (socket_t socket)
{
    const linger abort { 1, 0 };
    ::setsockopt (socket, SOL_SOCKET, SO_LINGER, &abort, sizeof (abort));
}
} // namespace
#endif

LocalHttpServer::LocalHttpServer (const std::function<void (httplib::Server&)>& addRoutes)
{
    addRoutes (server);
    const auto countRequest = [this] (const httplib::Request&, httplib::Response&)
    {
        ++requests;
        return httplib::Server::HandlerResponse::Unhandled;
    };

    server.set_pre_routing_handler (countRequest);
    server.set_keep_alive_max_count (1);

    port = server.bind_to_any_port ("127.0.0.1");

    if (port <= 0)
        throw std::runtime_error ("cannot bind a local HTTP server");

    // The socket listens from here on, so no request can arrive before the thread accepts.
    thread = std::thread ([this]
                          {
                              server.listen_after_bind();
                              listenReturned = true; });

    // httplib's stop() does nothing until the accept loop has marked itself running, so a server
    // destroyed before its thread got that far would never stop. Return only once it runs.
    while (! server.is_running())
    {
        if (listenReturned)
        {
            thread.join();
            throw std::runtime_error ("the local HTTP server did not start");
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
}

LocalHttpServer::~LocalHttpServer()
{
    server.stop();
    thread.join();
}

juce::URL LocalHttpServer::url (const std::string& path) const
{
    return juce::URL ("http://127.0.0.1:" + juce::String (port) + juce::String (path));
}

RawHttpServer::RawHttpServer (Handler handlerToUse)
    : handler (std::move (handlerToUse))
{
    listener = openSocket();

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    SocketLength length = sizeof (address);

    if (listener == noSocket
        || ::bind (listener, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0
        || ::listen (listener, 8) != 0
        || ::getsockname (listener, reinterpret_cast<sockaddr*> (&address), &length) != 0)
        throw std::runtime_error ("cannot bind a raw local server");

    port = ntohs (address.sin_port);
    thread = std::thread ([this]
                          { serve(); });
}

RawHttpServer::~RawHttpServer()
{
    stopping = true;
    thread.join();
    closeSocket (listener);
}

juce::URL RawHttpServer::url (const std::string& path) const
{
    return juce::URL ("http://127.0.0.1:" + juce::String (port) + juce::String (path));
}

void RawHttpServer::send (socket_t socket, const std::string& text)
{
    size_t done = 0;

    while (done < text.size())
    {
        const auto sent = sendSome (socket, text.data() + done, text.size() - done);

        if (sent <= 0)
            return;

        done += (size_t) sent;
    }
}

void RawHttpServer::resetOnClose (socket_t socket)
{
    lingerNot (socket);
}

void RawHttpServer::holdOpen (socket_t socket, const std::atomic<bool>& stopping)
{
    while (! stopping)
    {
        pollfd peer { socket, POLLIN, 0 };

        if (pollSocket (peer, 50) > 0)
        {
            char scratch[256];

            if (receiveSome (socket, scratch, sizeof (scratch)) <= 0)
                return;
        }
    }
}

void RawHttpServer::serve()
{
    while (! stopping)
    {
        pollfd waiting { listener, POLLIN, 0 };

        if (pollSocket (waiting, 50) <= 0)
            continue;

        const auto socket = acceptConnection (listener);

        if (socket == noSocket)
            continue;

        // Read the request head; its content does not matter here.
        std::string head;
        char buffer[1024];

        while (head.find ("\r\n\r\n") == std::string::npos && ! stopping)
        {
            pollfd peer { socket, POLLIN, 0 };

            if (pollSocket (peer, 50) <= 0)
                continue;

            const auto received = receiveSome (socket, buffer, sizeof (buffer));

            if (received <= 0)
                break;

            head.append (buffer, (size_t) received);
        }

        if (head.find ("\r\n\r\n") != std::string::npos)
            handler (socket, stopping);

        closeSocket (socket);
    }
}
