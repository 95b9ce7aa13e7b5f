#pragma once

#include <cstddef>
#include <string>

/** The name of the file in which a UF2 bootloader's drive describes the board. */
inline constexpr const char* uf2InfoFileName = "INFO_UF2.TXT";

/** The boot ROM's INFO_UF2.TXT is three short lines; a large file of that name on some other disk
    is not it, and is never read whole on every poll.
*/
inline constexpr std::size_t maxUf2InfoFileSize = 64 * 1024;

/** True when the text of an INFO_UF2.TXT names the RP2040's bootloader: it contains
    "Raspberry Pi" or "RP2" in any letter case.
*/
bool namesRp2Bootloader (const std::string& infoText);
