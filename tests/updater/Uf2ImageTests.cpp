#include "Uf2TestImage.h"
#include "updater/Uf2Image.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
using Blocks = std::vector<Uf2Block>;

struct ImageCase
{
    const char* name;
    uint32_t blockCount;
    std::function<void (Blocks&)> change;
    int sizeChange; // bytes added to (or cut from) the end of the built image
    bool expected;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const ImageCase& c, std::ostream* os)
{
    *os << c.name;
}

class Uf2ImageCases : public ::testing::TestWithParam<ImageCase>
{
};

TEST_P (Uf2ImageCases, Check)
{
    const auto& c = GetParam();
    auto blocks = wellFormedBlocks (c.blockCount);

    if (c.change)
        c.change (blocks);

    auto image = makeUf2Image (blocks);
    image.setSize ((size_t) ((int) image.getSize() + c.sizeChange), true);

    EXPECT_EQ (isValidUf2Image (image), c.expected);
}

const auto inLastBlock = [] (auto change)
{ return [change] (Blocks& b)
  { change (b.back()); }; };
const auto inEveryBlock = [] (auto change)
{ return [change] (Blocks& b)
  { for (auto& block : b) change (block); }; };

INSTANTIATE_TEST_SUITE_P (
    Rules,
    Uf2ImageCases,
    ::testing::Values (
        ImageCase { "Empty", 0, {}, 0, false },
        ImageCase { "OneValidBlock", 1, {}, 0, true },
        ImageCase { "ThreeValidBlocks", 3, {}, 0, true },
        ImageCase { "Size511", 1, {}, -1, false },
        ImageCase { "Size513", 1, {}, 1, false },
        ImageCase { "MagicStart0", 2, inLastBlock ([] (Uf2Block& b)
                                                   { b.magicStart0 ^= 1; }),
                    0,
                    false },
        ImageCase { "MagicStart0BigEndian", 1, inLastBlock ([] (Uf2Block& b)
                                                            { b.magicStart0 = juce::ByteOrder::swap (b.magicStart0); }),
                    0,
                    false },
        ImageCase { "MagicStart1", 2, inLastBlock ([] (Uf2Block& b)
                                                   { b.magicStart1 = 0; }),
                    0,
                    false },
        ImageCase { "MagicEnd", 3, inLastBlock ([] (Uf2Block& b)
                                                { b.magicEnd = 0x0AB16F31; }),
                    0,
                    false },
        ImageCase { "FamilyFlagMissing", 1, inLastBlock ([] (Uf2Block& b)
                                                         { b.flags = 0x00000001; }),
                    0,
                    false },
        ImageCase { "OtherFlagBitsIgnored", 2, inEveryBlock ([] (Uf2Block& b)
                                                             { b.flags = 0xFFFFFFFF; }),
                    0,
                    true },
        ImageCase { "NotMainFlashFlag", 1, inLastBlock ([] (Uf2Block& b)
                                                        { b.flags = 0x00002001; }),
                    0,
                    true },
        ImageCase { "OtherFamily", 2, inLastBlock ([] (Uf2Block& b)
                                                   { b.familyId = 0xE48BFF59; }),
                    0,
                    false },
        ImageCase { "Payload476", 1, inLastBlock ([] (Uf2Block& b)
                                                  { b.payloadSize = 476; }),
                    0,
                    false },
        ImageCase { "FirstFlashPage", 1, inLastBlock ([] (Uf2Block& b)
                                                      { b.targetAddr = 0x10000000; }),
                    0,
                    true },
        ImageCase { "LastFlashPage", 1, inLastBlock ([] (Uf2Block& b)
                                                     { b.targetAddr = 0x10FFFF00; }),
                    0,
                    true },
        ImageCase { "PageBelowFlash", 1, inLastBlock ([] (Uf2Block& b)
                                                      { b.targetAddr = 0x0FFFFF00; }),
                    0,
                    false },
        ImageCase { "EndOfFlash", 1, inLastBlock ([] (Uf2Block& b)
                                                  { b.targetAddr = 0x11000000; }),
                    0,
                    false },
        ImageCase { "UnalignedAddress", 1, inLastBlock ([] (Uf2Block& b)
                                                        { b.targetAddr = 0x10000080; }),
                    0,
                    false },
        ImageCase { "AddressWrappingPast4GiB", 1, inLastBlock ([] (Uf2Block& b)
                                                               { b.targetAddr = 0xFFFFFF00; }),
                    0,
                    false },
        ImageCase { "SameAddressTwice", 2, inEveryBlock ([] (Uf2Block& b)
                                                         { b.targetAddr = 0x10001000; }),
                    0,
                    true },
        ImageCase { "AddressesDescending", 2, [] (Blocks& b)
                    { b[0].targetAddr = 0x10000100; b[1].targetAddr = 0x10000000; },
                    0,
                    true },
        ImageCase { "BlocksSwapped", 2, [] (Blocks& b)
                    { std::swap (b[0], b[1]); },
                    0,
                    false },
        ImageCase { "BlockNoFromOne", 2, inEveryBlock ([] (Uf2Block& b)
                                                       { ++b.blockNo; }),
                    0,
                    false },
        ImageCase { "TwoBlocksSayThree", 2, inEveryBlock ([] (Uf2Block& b)
                                                          { b.numBlocks = 3; }),
                    0,
                    false },
        ImageCase { "ThreeBlocksSayTwo", 3, inEveryBlock ([] (Uf2Block& b)
                                                          { b.numBlocks = 2; }),
                    0,
                    false },
        ImageCase { "DataAreaAnything", 2, inEveryBlock ([] (Uf2Block& b)
                                                         { b.dataFill = 0x00; }),
                    0,
                    true }),
    CaseName());

} // namespace
