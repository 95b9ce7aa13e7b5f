#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

/** The header and end marker of one UF2 block, written out little-endian byte by byte. */
struct Uf2Block
{
    uint32_t magicStart0 = 0x0A324655;
    uint32_t magicStart1 = 0x9E5D5157;
    uint32_t flags = 0x00002000;
    uint32_t targetAddr = 0x10000000;
    uint32_t payloadSize = 256;
    uint32_t blockNo = 0;
    uint32_t numBlocks = 1;
    uint32_t familyId = 0xE48BFF56;
    uint32_t magicEnd = 0x0AB16F30;
    uint8_t dataFill = 0xA5;
};

/** `count` well-formed blocks for consecutive flash pages. */
inline std::vector<Uf2Block> wellFormedBlocks (uint32_t count)
{
    std::vector<Uf2Block> blocks (count);

    for (uint32_t i = 0; i < count; ++i)
    {
        blocks[i].blockNo = i;
        blocks[i].numBlocks = count;
        blocks[i].targetAddr = 0x10000000 + 256 * i;
        blocks[i].dataFill = (uint8_t) i;
    }

    return blocks;
}

inline juce::MemoryBlock makeUf2Image (const std::vector<Uf2Block>& blocks)
{
    juce::MemoryBlock image (blocks.size() * 512, true);
    auto* bytes = static_cast<uint8_t*> (image.getData());

    const auto put = [] (uint8_t* at, uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            at[i] = (uint8_t) (value >> (8 * i));
    };

    for (size_t i = 0; i < blocks.size(); ++i)
    {
        const auto& block = blocks[i];
        auto* start = bytes + i * 512;

        std::fill (start + 32, start + 508, block.dataFill);
        put (start + 0, block.magicStart0);
        put (start + 4, block.magicStart1);
        put (start + 8, block.flags);
        put (start + 12, block.targetAddr);
        put (start + 16, block.payloadSize);
        put (start + 20, block.blockNo);
        put (start + 24, block.numBlocks);
        put (start + 28, block.familyId);
        put (start + 508, block.magicEnd);
    }

    return image;
}

/** A valid image of `count` blocks. */
inline juce::MemoryBlock makeUf2Image (uint32_t count)
{
    return makeUf2Image (wellFormedBlocks (count));
}
