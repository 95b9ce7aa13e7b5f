#include "device/BootloaderEntry.h"

#include "device/windows/BootloaderRequest.h"

#include <windows.h>

namespace
{
/** The request on a real port, through the Windows communications functions. */
class CommPort : public windevice::SerialLine
{
public:
    CommPort() = default;
    ~CommPort() override { close(); }

    bool open (const std::string& devicePath) override
    {
        // Share mode 0: a port another program holds fails here (access denied) at once.
        handle = CreateFileA (devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    }

    bool setRequestLine() override
    {
        DCB settings {};
        settings.DCBlength = sizeof (settings);

        if (! GetCommState (handle, &settings))
            return false;

        // DTR_CONTROL_ENABLE asserts DTR as the settings are applied.
        settings.BaudRate = CBR_1200;
        settings.fDtrControl = DTR_CONTROL_ENABLE;
        settings.ByteSize = 8;
        settings.Parity = NOPARITY;
        settings.StopBits = ONESTOPBIT;

        return SetCommState (handle, &settings) != 0;
    }

    void dropDtr() override { EscapeCommFunction (handle, CLRDTR); }

    void pause (int milliseconds) override { Sleep (static_cast<DWORD> (milliseconds)); }

    void close() override
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle (handle);

        handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle = INVALID_HANDLE_VALUE;

    CommPort (const CommPort&) = delete;
    CommPort& operator= (const CommPort&) = delete;
};
} // namespace

bool enterBootloader (const std::string& portName)
{
    CommPort port;
    return windevice::sendBootloaderRequest (port, portName);
}
