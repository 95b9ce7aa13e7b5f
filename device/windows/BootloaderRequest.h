#pragma once

#include <string>

namespace windevice
{

/** The operations the bootloader request makes on a serial port, so that the request's order
    and its answer to each failure can be followed with a stand-in.
*/
class SerialLine
{
public:
    virtual ~SerialLine() = default;

    /** Opens the device path for reading and writing without sharing it; false when that
        fails (absent, or held by another program).
    */
    virtual bool open (const std::string& devicePath) = 0;

    /** Reads the line's settings, sets 1200 baud, 8 data bits, no parity, 1 stop bit with DTR
        asserted, leaves every other setting as read, and writes them back; false when the
        settings cannot be read or are refused.
    */
    virtual bool setRequestLine() = 0;

    /** Drops DTR. */
    virtual void dropDtr() = 0;

    /** Waits. */
    virtual void pause (int milliseconds) = 0;

    /** Closes what open opened. */
    virtual void close() = 0;
};

/** The pause after the line is set, and again after DTR is dropped. */
inline constexpr int bootloaderRequestPauseMs = 50;

/** Sends the 1200-baud request to the port named as findSerialPort names it: opens it by its
    device path, sets the line, waits, drops DTR, waits, closes it. True when the port opened and
    took the settings. A port that will not open (held by another program) gives false at once,
    without a pause; so does a name that is not a plain port name.
*/
bool sendBootloaderRequest (SerialLine& line, const std::string& portName);

} // namespace windevice
