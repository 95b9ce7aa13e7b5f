#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/** The keyboard's flash chip as the RP2040 maps it: 16 MiB from 0x10000000, erased to 0xff. */
class FlashMemory
{
public:
    /** Where the flash window starts in the RP2040's address space. */
    static constexpr uint32_t baseAddress = 0x10000000;

    /** Size of the flash window. */
    static constexpr uint32_t windowSize = 16 * 1024 * 1024;

    /** The smallest erasable unit. */
    static constexpr uint32_t sectorSize = 4096;

    /** The unit of one UF2 block's payload. */
    static constexpr uint32_t pageSize = 256;

    /** An erased chip. */
    FlashMemory();

    /** Replaces the content from the start of the chip, as a programmer would. */
    void load (const std::vector<uint8_t>& content);

    /** Erases the sector that holds `address`. */
    void eraseSector (uint32_t address);

    /** Writes one 256-byte page at `address`, which must be page-aligned and inside the window. */
    void programPage (uint32_t address, const uint8_t* data);

    /** The chip's content up to the end of the last sector that was ever loaded or touched. */
    std::vector<uint8_t> content() const;

private:
    std::vector<uint8_t> bytes;
    std::size_t usedSize = 0;
};

/** The part of the RP2040 boot ROM that watches sectors written to its drive: it takes the UF2
    blocks meant for RP2040 flash, programs them, and knows when every block of the transfer
    has arrived. The file system around the sectors means nothing to it.
*/
class BootRom
{
public:
    /** What one sector did. */
    enum class Outcome
    {
        notUf2, ///< no UF2 magics: ignored, like the file system's own sectors
        otherTarget, ///< a UF2 block for another chip or purpose: ignored
        restarted, ///< a block the ROM refuses (no block count, outside flash, unaligned): the transfer starts over
        programmed, ///< a new block of the transfer, now in flash
        duplicate ///< a block of the transfer that had arrived before
    };

    /** A ROM that programs `flashToProgram`, with no transfer under way. */
    explicit BootRom (FlashMemory& flashToProgram);

    /** Handles one 512-byte sector written to the drive. */
    Outcome writeSector (const uint8_t* sector);

    /** True once every block number of the current transfer has arrived; the ROM then restarts
        the chip.
    */
    bool isComplete() const noexcept { return numBlocks != 0 && receivedCount == numBlocks; }

    /** Distinct blocks of the current transfer that have arrived. */
    uint32_t getBlocksReceived() const noexcept { return receivedCount; }

    /** The block count of the current transfer; 0 when none is under way. */
    uint32_t getBlocksExpected() const noexcept { return numBlocks; }

private:
    FlashMemory& flash;
    uint32_t numBlocks = 0, receivedCount = 0;
    std::vector<bool> received, erased;
};
