#pragma once

/** The host name of the maker's web site, fixed when the program is built.

    The link on the main screen shows it and opens it with "https://"; the firmware download
    fetches its file from the same host.
*/
namespace MakerSite
{
/** The maker's host name, without scheme. */
inline constexpr const char* host = HL73_MAKER_HOST;

/** The address of the maker's web site: "https://" followed by the host name. */
inline constexpr const char* scheme = "https://";

/** The path of the firmware file on the maker's server. */
inline constexpr const char* firmwarePath = "/products/46/files/VelmorHL73.uf2.bin";
} // namespace MakerSite
