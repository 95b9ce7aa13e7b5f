#pragma once

#include <termios.h>

namespace serial
{

/** Sets the line to 1200 baud, 8 data bits, no parity and 1 stop bit, leaving every other
    setting (flow control, modes, special characters) as it is.
*/
void setBootloaderRequestLine (termios& settings);

/** True when the settings hold the line of setBootloaderRequestLine. */
bool isBootloaderRequestLine (const termios& settings);

} // namespace serial
