#pragma once

#include <juce_core/juce_core.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

/** A program started with its standard output on a pipe, stopped (and waited for) on
    destruction, and killed by the system if the test process dies first.
*/
class SpawnedProgram
{
public:
    explicit SpawnedProgram (const std::vector<std::string>& arguments)
    {
        int pipeEnds[2];

        if (::pipe2 (pipeEnds, O_CLOEXEC) != 0)
            throw std::runtime_error ("pipe failed");

        std::vector<char*> argv;

        for (const auto& argument : arguments)
            argv.push_back (const_cast<char*> (argument.c_str()));

        argv.push_back (nullptr);
        const pid_t parent = ::getpid();
        pid = ::fork();

        if (pid == 0)
        {
            // Ends with the test, however the test ends: nothing is left running.
            ::prctl (PR_SET_PDEATHSIG, SIGKILL);

            if (::getppid() != parent)
                ::_exit (127);

            const int devNull = ::open ("/dev/null", O_RDONLY);
            ::dup2 (devNull, 0);
            ::dup2 (pipeEnds[1], 1);
            ::execv (argv[0], argv.data());
            ::_exit (127);
        }

        ::close (pipeEnds[1]);
        output = pipeEnds[0];

        if (pid < 0)
        {
            ::close (output);
            throw std::runtime_error ("cannot start " + arguments[0]);
        }
    }

    ~SpawnedProgram()
    {
        ::kill (pid, SIGTERM);

        for (int i = 0; i < 200 && ::waitpid (pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for (std::chrono::milliseconds (10));

        if (::waitpid (pid, nullptr, WNOHANG) == 0)
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }

        ::close (output);
    }

    /** The next line of the program's output; empty when none came within the time. */
    std::string readLine (int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

        for (;;)
        {
            if (const auto end = buffered.find ('\n'); end != std::string::npos)
            {
                const auto line = buffered.substr (0, end);
                buffered.erase (0, end + 1);
                return line;
            }

            const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();
            pollfd readable { output, POLLIN, 0 };

            if (left <= 0 || ::poll (&readable, 1, static_cast<int> (left)) <= 0)
                return {};

            char chunk[256];
            const auto count = ::read (output, chunk, sizeof (chunk));

            if (count <= 0)
                return {};

            buffered.append (chunk, static_cast<std::size_t> (count));
        }
    }

private:
    pid_t pid = -1;
    int output = -1;
    std::string buffered;

    JUCE_DECLARE_NON_COPYABLE (SpawnedProgram)
};

/** A D-Bus system bus of the test's own: a dbus-daemon listening on a socket in a fresh private
    folder, with DBUS_SYSTEM_BUS_ADDRESS pointing at it while the object lives. Fake UDisks2 and
    logind services can be started on it and asked what they were asked.
*/
class PrivateSystemBus
{
public:
    PrivateSystemBus()
    {
        std::string pattern = (juce::File::getSpecialLocation (juce::File::tempDirectory).getFullPathName() + "/hl73-bus-XXXXXX").toStdString();

        if (::mkdtemp (pattern.data()) == nullptr)
            throw std::runtime_error ("mkdtemp failed");

        folder = pattern;
        std::ofstream (folder + "/bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <listen>unix:path="
            << folder << "/system_bus_socket</listen>\n"
                         "  <auth>EXTERNAL</auth>\n"
                         "  <policy context=\"default\">\n"
                         "    <allow user=\"*\"/>\n"
                         "    <allow own=\"*\"/>\n"
                         "    <allow send_destination=\"*\"/>\n"
                         "    <allow receive_sender=\"*\"/>\n"
                         "  </policy>\n"
                         "</busconfig>\n";

        startDaemon();
    }

    /** Stops the bus (and the services on it) and starts a new one on the same socket, as when
        the machine's bus daemon restarts. Start the services again afterwards.
    */
    void restartDaemon()
    {
        closeControl();
        services.reset();
        daemon.reset();
        std::error_code ignored;
        std::filesystem::remove (folder + "/system_bus_socket", ignored);
        startDaemon();
    }

    ~PrivateSystemBus()
    {
        closeControl();
        services.reset();
        daemon.reset();
        ::unsetenv ("DBUS_SYSTEM_BUS_ADDRESS");
        std::error_code ignored;
        std::filesystem::remove_all (folder, ignored);
    }

    /** A bus address in the test's folder where no bus listens. */
    std::string absentBusAddress() const { return "unix:path=" + folder + "/no_bus_here"; }

    /** Starts the fake services; options as fake-system-services takes them (--udisks,
        --logind, --disks JSON, --delay-ms N, --refuse, --keyboard-state DIR).
    */
    void startServices (const std::vector<std::string>& options)
    {
        std::vector<std::string> arguments { HL73_FAKE_SYSTEM_SERVICES, "--address", address };
        arguments.insert (arguments.end(), options.begin(), options.end());
        services = std::make_unique<SpawnedProgram> (arguments);

        if (services->readLine (20000) != "ready")
            throw std::runtime_error ("the fake services did not start");
    }

    /** Replaces the disks the fake UDisks2 publishes (JSON, see fake-system-services). */
    void setDisks (const std::string& json) { sd_bus_message_unref (callControl ("SetDisks", "s", json.c_str())); }

    /** What the fake services were asked so far, and their disks now. */
    juce::var report()
    {
        sd_bus_message* reply = callControl ("Report", "");
        const char* text = nullptr;
        sd_bus_message_read (reply, "s", &text);
        auto parsed = juce::JSON::parse (juce::String::fromUTF8 (text != nullptr ? text : "null"));
        sd_bus_message_unref (reply);
        return parsed;
    }

    /** Polls the report until the test holds or 10 s have passed; the last report. */
    template <typename Test>
    juce::var waitForReport (Test test)
    {
        auto last = report();

        for (int i = 0; i < 200 && ! test (last); ++i)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (50));
            last = report();
        }

        return last;
    }

private:
    void startDaemon()
    {
        daemon = std::make_unique<SpawnedProgram> (std::vector<std::string> { "/usr/bin/dbus-daemon", "--nofork", "--print-address", "--config-file=" + folder + "/bus.conf" });

        if (daemon->readLine (10000).empty())
            throw std::runtime_error ("dbus-daemon did not start");

        // The socket alone, without the daemon's id, so that a restarted bus is the same address.
        address = "unix:path=" + folder + "/system_bus_socket";
        ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    }

    void closeControl()
    {
        if (control != nullptr)
            sd_bus_flush_close_unref (control);

        control = nullptr;
    }

    template <typename... Arguments>
    sd_bus_message* callControl (const char* method, const char* signature, Arguments... arguments)
    {
        if (control == nullptr)
        {
            if (sd_bus_new (&control) < 0 || sd_bus_set_address (control, address.c_str()) < 0 || sd_bus_set_bus_client (control, 1) < 0
                || sd_bus_start (control) < 0)
                throw std::runtime_error ("cannot reach the private bus");
        }

        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int result = sd_bus_call_method (control, "net.hl73.FakeServices", "/net/hl73/FakeServices", "net.hl73.FakeServices", method, &error, &reply, signature, arguments...);
        sd_bus_error_free (&error);

        if (result < 0)
            throw std::runtime_error (std::string ("control call failed: ") + method);

        return reply;
    }

    std::string folder, address;
    std::unique_ptr<SpawnedProgram> daemon, services;
    sd_bus* control = nullptr;

    JUCE_DECLARE_NON_COPYABLE (PrivateSystemBus)
};
