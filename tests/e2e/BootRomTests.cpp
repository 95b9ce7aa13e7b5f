#include "BootRom.h"
#include "Uf2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <numeric>

namespace
{
std::vector<uint8_t> makePayload (std::size_t size, uint8_t seed)
{
    std::vector<uint8_t> payload (size);
    std::iota (payload.begin(), payload.end(), seed);
    return payload;
}

const uint8_t* blockAt (const std::vector<uint8_t>& image, std::size_t index)
{
    return image.data() + index * uf2::blockSize;
}

void setWord (uint8_t* block, std::size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        block[offset + static_cast<std::size_t> (i)] = static_cast<uint8_t> (value >> (8 * i));
}

struct Rig
{
    FlashMemory flash;
    BootRom rom { flash };

    void writeAll (const std::vector<uint8_t>& image, std::size_t skip = SIZE_MAX)
    {
        for (std::size_t i = 0; i < image.size() / uf2::blockSize; ++i)
            if (i != skip)
                rom.writeSector (blockAt (image, i));
    }
};
} // namespace

TEST (BootRom, TakesAWholeImageIntoFlashAndCompletesOnTheLastBlock)
{
    Rig rig;
    const auto payload = makePayload (1000, 1);
    const auto image = uf2::pack (payload, FlashMemory::baseAddress);
    ASSERT_EQ (image.size(), 4 * uf2::blockSize);

    for (std::size_t i = 0; i < 4; ++i)
    {
        EXPECT_FALSE (rig.rom.isComplete()) << "before block " << i;
        EXPECT_EQ (rig.rom.writeSector (blockAt (image, i)), BootRom::Outcome::programmed);
    }

    EXPECT_TRUE (rig.rom.isComplete());
    const auto content = rig.flash.content();
    ASSERT_GE (content.size(), payload.size());
    EXPECT_TRUE (std::equal (payload.begin(), payload.end(), content.begin()));
}

TEST (BootRom, CountsEveryBlockNumberOnceWhateverTheOrder)
{
    Rig rig;
    const auto image = uf2::pack (makePayload (256 * 5, 7), FlashMemory::baseAddress);

    for (const std::size_t i : { 4u, 2u, 2u, 0u, 3u, 0u })
        rig.rom.writeSector (blockAt (image, i));

    EXPECT_EQ (rig.rom.getBlocksReceived(), 4u);
    EXPECT_FALSE (rig.rom.isComplete());
    EXPECT_EQ (rig.rom.writeSector (blockAt (image, 0)), BootRom::Outcome::duplicate);

    rig.rom.writeSector (blockAt (image, 1));
    EXPECT_TRUE (rig.rom.isComplete());
}

TEST (BootRom, AnImageWithoutItsLastBlockNeverCompletes)
{
    Rig rig;
    const auto image = uf2::pack (makePayload (256 * 8, 3), FlashMemory::baseAddress);
    rig.writeAll (image, 7);

    EXPECT_FALSE (rig.rom.isComplete());
    EXPECT_EQ (rig.rom.getBlocksReceived(), 7u);
}

// Sectors the ROM passes over: the transfer under way is kept.
TEST (BootRom, IgnoresSectorsThatAreNotRp2040FlashBlocks)
{
    struct Case
    {
        const char* what;
        std::function<void (uint8_t*)> spoil;
        BootRom::Outcome outcome;
    };

    const Case cases[] = {
        { "a plain data sector", [] (uint8_t* b)
          { std::memset (b, 0, uf2::blockSize); },
          BootRom::Outcome::notUf2 },
        { "a wrong first magic", [] (uint8_t* b)
          { setWord (b, 0, 0x0A324654); },
          BootRom::Outcome::notUf2 },
        { "a wrong second magic", [] (uint8_t* b)
          { setWord (b, 4, 0); },
          BootRom::Outcome::notUf2 },
        { "a wrong end magic", [] (uint8_t* b)
          { setWord (b, 508, 0); },
          BootRom::Outcome::notUf2 },
        { "another chip's family", [] (uint8_t* b)
          { setWord (b, 28, 0xE48BFF59); },
          BootRom::Outcome::otherTarget },
        { "no family flag", [] (uint8_t* b)
          { setWord (b, 8, 0); },
          BootRom::Outcome::otherTarget },
        { "the not-main-flash flag", [] (uint8_t* b)
          { setWord (b, 8, uf2::flagFamilyIdPresent | uf2::flagNotMainFlash); },
          BootRom::Outcome::otherTarget },
        { "a payload of 476 bytes", [] (uint8_t* b)
          { setWord (b, 16, 476); },
          BootRom::Outcome::otherTarget },
    };

    for (const auto& c : cases)
    {
        Rig rig;
        const auto image = uf2::pack (makePayload (256 * 3, 9), FlashMemory::baseAddress);
        rig.rom.writeSector (blockAt (image, 0));

        auto spoilt = image;
        c.spoil (spoilt.data() + uf2::blockSize);
        EXPECT_EQ (rig.rom.writeSector (blockAt (spoilt, 1)), c.outcome) << c.what;

        rig.rom.writeSector (blockAt (image, 1));
        rig.rom.writeSector (blockAt (image, 2));
        EXPECT_TRUE (rig.rom.isComplete()) << c.what << " must not have disturbed the transfer";
    }
}

// Blocks the ROM refuses: the transfer starts over, and what came before no longer counts.
TEST (BootRom, StartsOverOnABlockItCannotWrite)
{
    struct Case
    {
        const char* what;
        std::function<void (uint8_t*)> spoil;
    };

    const Case cases[] = {
        { "a block count of 0", [] (uint8_t* b)
          { setWord (b, 24, 0); } },
        { "a target below flash", [] (uint8_t* b)
          { setWord (b, 12, FlashMemory::baseAddress - 256); } },
        { "a target past flash", [] (uint8_t* b)
          { setWord (b, 12, FlashMemory::baseAddress + FlashMemory::windowSize); } },
        { "an unaligned target", [] (uint8_t* b)
          { setWord (b, 12, FlashMemory::baseAddress + 128); } },
        { "a block number past the count", [] (uint8_t* b)
          { setWord (b, 20, 3); } },
    };

    for (const auto& c : cases)
    {
        Rig rig;
        const auto image = uf2::pack (makePayload (256 * 3, 5), FlashMemory::baseAddress);
        rig.rom.writeSector (blockAt (image, 0));
        rig.rom.writeSector (blockAt (image, 1));

        auto spoilt = image;
        c.spoil (spoilt.data() + 2 * uf2::blockSize);
        EXPECT_EQ (rig.rom.writeSector (blockAt (spoilt, 2)), BootRom::Outcome::restarted) << c.what;

        rig.rom.writeSector (blockAt (image, 2));
        EXPECT_FALSE (rig.rom.isComplete()) << c.what;

        rig.rom.writeSector (blockAt (image, 0));
        rig.rom.writeSector (blockAt (image, 1));
        EXPECT_TRUE (rig.rom.isComplete()) << c.what << ": a full second copy completes";
    }
}

TEST (BootRom, ABlockOfAnotherSizedImageStartsANewTransfer)
{
    Rig rig;
    const auto first = uf2::pack (makePayload (256 * 3, 1), FlashMemory::baseAddress);
    const auto second = uf2::pack (makePayload (256 * 2, 2), FlashMemory::baseAddress);

    rig.rom.writeSector (blockAt (first, 0));
    rig.rom.writeSector (blockAt (first, 1));
    rig.rom.writeSector (blockAt (second, 0));

    EXPECT_EQ (rig.rom.getBlocksExpected(), 2u);
    EXPECT_EQ (rig.rom.getBlocksReceived(), 1u);
}

TEST (BootRom, ErasesEachFlashSectorBeforeItsFirstPageAndLeavesOthersAlone)
{
    Rig rig;
    rig.flash.load (std::vector<uint8_t> (3 * FlashMemory::sectorSize, 0x00));

    // One page into the second sector.
    const auto image = uf2::pack (makePayload (256, 0x40), FlashMemory::baseAddress + FlashMemory::sectorSize);
    rig.writeAll (image);
    ASSERT_TRUE (rig.rom.isComplete());

    const auto content = rig.flash.content();
    ASSERT_EQ (content.size(), 3 * FlashMemory::sectorSize);
    EXPECT_EQ (content[FlashMemory::sectorSize - 1], 0x00) << "the first sector is untouched";
    EXPECT_EQ (content[FlashMemory::sectorSize], 0x40) << "the page is written";
    EXPECT_EQ (content[FlashMemory::sectorSize + 256], 0xff) << "the rest of its sector is erased";
    EXPECT_EQ (content[2 * FlashMemory::sectorSize], 0x00) << "the third sector is untouched";
}
