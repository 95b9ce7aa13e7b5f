#pragma once

#include <string>

/** USB vendor identifier of the keyboard in its normal mode. */
inline constexpr int keyboardVendorId = 0x16D0;

/** USB product identifier of the keyboard in its normal mode. */
inline constexpr int keyboardProductId = 0x13A1;

/** Returns the name of the first present serial port whose USB device is the keyboard, in the
    form that enterBootloader opens; empty when there is none.
*/
std::string findSerialPort();
