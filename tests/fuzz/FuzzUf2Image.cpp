// libFuzzer entry for the UF2 image check: the sanitizers catch any read outside the image, and
// the result is compared with a second, differently built reading of the same rules.

#include "updater/Uf2Image.h"

#include <cstdint>
#include <cstring>

namespace
{
struct BlockHeader
{
    uint32_t magicStart0, magicStart1, flags, targetAddr, payloadSize, blockNo, numBlocks, familyId;
};

uint32_t fromLittleEndian (uint32_t value)
{
    return juce::ByteOrder::swapIfBigEndian (value);
}

bool referenceCheck (const uint8_t* data, size_t size)
{
    if (size == 0 || size % 512 != 0)
        return false;

    const uint64_t count = size / 512;

    for (uint64_t i = 0; i < count; ++i)
    {
        BlockHeader h;
        uint32_t magicEnd;
        std::memcpy (&h, data + i * 512, sizeof (h));
        std::memcpy (&magicEnd, data + i * 512 + 508, sizeof (magicEnd));

        const uint64_t address = fromLittleEndian (h.targetAddr);

        if (fromLittleEndian (h.magicStart0) != 0x0A324655u
            || fromLittleEndian (h.magicStart1) != 0x9E5D5157u
            || fromLittleEndian (magicEnd) != 0x0AB16F30u
            || (fromLittleEndian (h.flags) & 0x2000u) == 0
            || fromLittleEndian (h.familyId) != 0xE48BFF56u
            || fromLittleEndian (h.payloadSize) != 256u
            || address % 256 != 0
            || address < 0x10000000u
            || address > 0x11000000u - 256
            || fromLittleEndian (h.blockNo) != i
            || fromLittleEndian (h.numBlocks) != count)
            return false;
    }

    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const juce::MemoryBlock image (data, size);

    if (isValidUf2Image (image) != referenceCheck (data, size))
        __builtin_trap();

    return 0;
}
