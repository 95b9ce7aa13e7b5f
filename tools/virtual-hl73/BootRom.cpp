#include "BootRom.h"

#include "Uf2.h"

#include <algorithm>
#include <cassert>

FlashMemory::FlashMemory()
    : bytes (windowSize, 0xff)
{
}

void FlashMemory::load (const std::vector<uint8_t>& content)
{
    const auto size = std::min<std::size_t> (content.size(), bytes.size());
    std::copy (content.begin(), content.begin() + static_cast<std::ptrdiff_t> (size), bytes.begin());
    usedSize = std::max (usedSize, size);
}

void FlashMemory::eraseSector (uint32_t address)
{
    const std::size_t start = (address - baseAddress) & ~static_cast<std::size_t> (sectorSize - 1);
    std::fill_n (bytes.begin() + static_cast<std::ptrdiff_t> (start), sectorSize, uint8_t (0xff));
    usedSize = std::max (usedSize, start + sectorSize);
}

void FlashMemory::programPage (uint32_t address, const uint8_t* data)
{
    assert (address >= baseAddress && address - baseAddress + pageSize <= windowSize && address % pageSize == 0);
    const std::size_t start = address - baseAddress;

    // NOR flash only clears bits; a page that was not erased keeps its zeros.
    for (std::size_t i = 0; i < pageSize; ++i)
        bytes[start + i] &= data[i];

    usedSize = std::max (usedSize, start + pageSize);
}

std::vector<uint8_t> FlashMemory::content() const
{
    return std::vector<uint8_t> (bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t> (usedSize));
}

namespace
{
bool isInFlash (uint32_t address)
{
    return address >= FlashMemory::baseAddress && address - FlashMemory::baseAddress < FlashMemory::windowSize;
}

// What the ROM's bitmaps can track: one bit per page of the flash window.
constexpr uint32_t maxBlocks = FlashMemory::windowSize / FlashMemory::pageSize;
} // namespace

BootRom::BootRom (FlashMemory& flashToProgram)
    : flash (flashToProgram)
{
}

BootRom::Outcome BootRom::writeSector (const uint8_t* sector)
{
    const auto block = uf2::readHeader (sector);

    if (block.magicStart0 != uf2::magicStart0 || block.magicStart1 != uf2::magicStart1 || block.magicEnd != uf2::magicEnd)
        return Outcome::notUf2;

    if ((block.flags & uf2::flagFamilyIdPresent) == 0
        || block.fileSizeOrFamily != uf2::rp2040FamilyId
        || (block.flags & uf2::flagNotMainFlash) != 0
        || block.payloadSize != FlashMemory::pageSize)
        return Outcome::otherTarget;

    // Blocks for SRAM are left out: the keyboard's firmware only ever goes to flash, so the ROM's
    // run-from-RAM transfers are treated like any other block it would not write to flash.
    const auto lastByte = block.targetAddr + (FlashMemory::pageSize - 1);
    const bool flashPage = isInFlash (block.targetAddr) && isInFlash (lastByte) && block.targetAddr % FlashMemory::pageSize == 0;

    if (block.numBlocks == 0 || block.numBlocks > maxBlocks || ! flashPage)
    {
        numBlocks = 0;
        return Outcome::restarted;
    }

    if (block.numBlocks != numBlocks)
    {
        numBlocks = block.numBlocks;
        receivedCount = 0;
        received.assign (numBlocks, false);
        erased.assign ((static_cast<std::size_t> (numBlocks) * FlashMemory::pageSize + FlashMemory::sectorSize - 1) / FlashMemory::sectorSize, false);
    }

    if (block.blockNo >= numBlocks)
    {
        numBlocks = 0;
        return Outcome::restarted;
    }

    if (received[block.blockNo])
        return Outcome::duplicate;

    // The ROM keeps its "sector erased" marks by block number, and erases the sector that holds
    // the block's target before the first write there.
    const auto eraseIndex = static_cast<std::size_t> (block.blockNo) * FlashMemory::pageSize / FlashMemory::sectorSize;

    if (! erased[eraseIndex])
    {
        flash.eraseSector (block.targetAddr);
        erased[eraseIndex] = true;
    }

    flash.programPage (block.targetAddr, sector + 32);
    received[block.blockNo] = true;
    ++receivedCount;
    return Outcome::programmed;
}
