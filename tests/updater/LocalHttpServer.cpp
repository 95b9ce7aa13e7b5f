#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

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
    listener = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    socklen_t length = sizeof (address);

    if (listener < 0
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
    ::close (listener);
}

juce::URL RawHttpServer::url (const std::string& path) const
{
    return juce::URL ("http://127.0.0.1:" + juce::String (port) + juce::String (path));
}

void RawHttpServer::send (int socket, const std::string& text)
{
    size_t done = 0;

    while (done < text.size())
    {
        const auto sent = ::send (socket, text.data() + done, text.size() - done, MSG_NOSIGNAL);

        if (sent <= 0)
            return;

        done += (size_t) sent;
    }
}

void RawHttpServer::holdOpen (int socket, const std::atomic<bool>& stopping)
{
    while (! stopping)
    {
        pollfd peer { socket, POLLIN, 0 };

        if (::poll (&peer, 1, 50) > 0)
        {
            char scratch[256];

            if (::recv (socket, scratch, sizeof (scratch), 0) <= 0)
                return;
        }
    }
}

void RawHttpServer::serve()
{
    while (! stopping)
    {
        pollfd waiting { listener, POLLIN, 0 };

        if (::poll (&waiting, 1, 50) <= 0)
            continue;

        const int socket = ::accept4 (listener, nullptr, nullptr, SOCK_CLOEXEC);

        if (socket < 0)
            continue;

        // Read the request head; its content does not matter here.
        std::string head;
        char buffer[1024];

        while (head.find ("\r\n\r\n") == std::string::npos && ! stopping)
        {
            pollfd peer { socket, POLLIN, 0 };

            if (::poll (&peer, 1, 50) <= 0)
                continue;

            const auto received = ::recv (socket, buffer, sizeof (buffer), 0);

            if (received <= 0)
                break;

            head.append (buffer, (size_t) received);
        }

        if (head.find ("\r\n\r\n") != std::string::npos)
            handler (socket, stopping);

        ::close (socket);
    }
}
