#pragma once

#include <string>

/** Asks the keyboard to restart into its UF2 bootloader: opens the port exclusively, sets
    1200 baud 8N1 with DTR asserted, waits 50 ms, drops DTR, waits 50 ms and closes it.
    True when the port was opened and its new settings were accepted.
*/
bool enterBootloader (const std::string& portName);
