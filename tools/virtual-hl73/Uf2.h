#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

/** The UF2 block format as the RP2040 boot ROM reads it, and a packer for test images. */
namespace uf2
{

/** Size of one block, which is also one sector of the bootloader drive. */
inline constexpr std::size_t blockSize = 512;

inline constexpr uint32_t magicStart0 = 0x0A324655;
inline constexpr uint32_t magicStart1 = 0x9E5D5157;
inline constexpr uint32_t magicEnd = 0x0AB16F30;

/** Flag: the block is not meant for main flash. */
inline constexpr uint32_t flagNotMainFlash = 0x00000001;

/** Flag: the fileSize field holds a family identifier. */
inline constexpr uint32_t flagFamilyIdPresent = 0x00002000;

/** The RP2040's family identifier. */
inline constexpr uint32_t rp2040FamilyId = 0xE48BFF56;

/** The header fields and end marker of one block; the data area stays in the sector. */
struct BlockHeader
{
    uint32_t magicStart0 = 0, magicStart1 = 0, flags = 0, targetAddr = 0, payloadSize = 0;
    uint32_t blockNo = 0, numBlocks = 0, fileSizeOrFamily = 0, magicEnd = 0;
};

/** Reads the little-endian header fields of a 512-byte sector. */
BlockHeader readHeader (const uint8_t* sector);

/** Packs `payload` into RP2040 flash blocks starting at `baseAddress`, 256 bytes per block,
    the last one padded with zeros. `familyId` is written with the family-present flag.
*/
std::vector<uint8_t> pack (const std::vector<uint8_t>& payload, uint32_t baseAddress, uint32_t familyId = rp2040FamilyId);

} // namespace uf2
