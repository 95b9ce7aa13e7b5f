#include "Uf2.h"

#include <algorithm>

namespace uf2
{

namespace
{
uint32_t readWord (const uint8_t* at)
{
    return static_cast<uint32_t> (at[0])
           | static_cast<uint32_t> (at[1]) << 8
           | static_cast<uint32_t> (at[2]) << 16
           | static_cast<uint32_t> (at[3]) << 24;
}

void writeWord (uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t> (value >> (8 * i));
}
} // namespace

BlockHeader readHeader (const uint8_t* sector)
{
    BlockHeader header;
    header.magicStart0 = readWord (sector);
    header.magicStart1 = readWord (sector + 4);
    header.flags = readWord (sector + 8);
    header.targetAddr = readWord (sector + 12);
    header.payloadSize = readWord (sector + 16);
    header.blockNo = readWord (sector + 20);
    header.numBlocks = readWord (sector + 24);
    header.fileSizeOrFamily = readWord (sector + 28);
    header.magicEnd = readWord (sector + 508);
    return header;
}

std::vector<uint8_t> pack (const std::vector<uint8_t>& payload, uint32_t baseAddress, uint32_t familyId)
{
    constexpr std::size_t pageSize = 256;
    const auto count = std::max<std::size_t> (1, (payload.size() + pageSize - 1) / pageSize);
    std::vector<uint8_t> image (count * blockSize, 0);

    for (std::size_t i = 0; i < count; ++i)
    {
        auto* block = image.data() + i * blockSize;
        writeWord (block, magicStart0);
        writeWord (block + 4, magicStart1);
        writeWord (block + 8, flagFamilyIdPresent);
        writeWord (block + 12, baseAddress + static_cast<uint32_t> (i * pageSize));
        writeWord (block + 16, pageSize);
        writeWord (block + 20, static_cast<uint32_t> (i));
        writeWord (block + 24, static_cast<uint32_t> (count));
        writeWord (block + 28, familyId);

        const auto start = std::min (payload.size(), i * pageSize);
        const auto end = std::min (payload.size(), start + pageSize);
        std::copy (payload.begin() + static_cast<std::ptrdiff_t> (start), payload.begin() + static_cast<std::ptrdiff_t> (end), block + 32);

        writeWord (block + 508, magicEnd);
    }

    return image;
}

} // namespace uf2
