#include "updater/Uf2Image.h"

namespace
{
constexpr size_t blockSize = 512;

constexpr juce::uint32 magicStart0 = 0x0A324655;
constexpr juce::uint32 magicStart1 = 0x9E5D5157;
constexpr juce::uint32 magicEnd = 0x0AB16F30;
constexpr juce::uint32 familyIdPresent = 0x00002000;
constexpr juce::uint32 rp2040FamilyId = 0xE48BFF56;
constexpr juce::uint32 payloadSize = 256;
constexpr juce::uint64 flashStart = 0x10000000;
constexpr juce::uint64 flashEnd = 0x11000000;

/** Assembles a little-endian word byte by byte, so neither host byte order nor the alignment of
    the buffer matters.
*/
juce::uint32 readWord (const juce::uint8* block, size_t offset) noexcept
{
    const auto* p = block + offset;
    return (juce::uint32) p[0]
           | ((juce::uint32) p[1] << 8)
           | ((juce::uint32) p[2] << 16)
           | ((juce::uint32) p[3] << 24);
}

bool isValidBlock (const juce::uint8* block, size_t index, size_t count) noexcept
{
    const auto flags = readWord (block, 8);
    const juce::uint64 targetAddr = readWord (block, 12);

    // Checked in 64 bits so that an address near 4 GiB cannot wrap past the end of flash.
    return readWord (block, 0) == magicStart0
           && readWord (block, 4) == magicStart1
           && readWord (block, 508) == magicEnd
           && (flags & familyIdPresent) != 0
           && readWord (block, 28) == rp2040FamilyId
           && readWord (block, 16) == payloadSize
           && targetAddr % payloadSize == 0
           && targetAddr >= flashStart
           && targetAddr + payloadSize <= flashEnd
           && (size_t) readWord (block, 20) == index
           && (size_t) readWord (block, 24) == count;
}
} // namespace

bool isValidUf2Image (const juce::MemoryBlock& image)
{
    const auto size = image.getSize();

    if (size == 0 || size % blockSize != 0)
        return false;

    const auto count = size / blockSize;
    const auto* bytes = static_cast<const juce::uint8*> (image.getData());

    for (size_t index = 0; index < count; ++index)
        if (! isValidBlock (bytes + index * blockSize, index, count))
            return false;

    return true;
}
