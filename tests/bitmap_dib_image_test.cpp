// The working bitmap: stride and block sizes, palette sizing, the spare-block rules of
// Allocate and TakeOver, and the two blocks HandOver gives the host.
#include "bitmap/DibImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;
constexpr uint8_t kMarker = 0xEE;

// A local block of `size` bytes filled with `fill`.
UniqueHlocal MakeBlock(size_t size, uint8_t fill = kMarker) {
    UniqueHlocal block(LocalAlloc(LMEM_FIXED, size));
    if (block) std::memset(block.get(), fill, size);
    return block;
}

std::vector<uint8_t> BlockBytes(const UniqueHlocal& block) {
    const auto* bytes = static_cast<const uint8_t*>(block.get());
    return std::vector<uint8_t>(bytes, bytes + LocalSize(block.get()));
}

// --- Geometry ---------------------------------------------------------------------------

struct GeometryCase {
    uint32_t width;
    uint32_t height;
    int32_t bitsPerPixel;
    size_t stride;
    size_t blockSize;
};

TEST(DibImageAllocate, StrideAndBlockSize) {
    const GeometryCase cases[] = {
        {1, 1, 1, 4, 8},     {9, 1, 1, 4, 8},      {33, 1, 1, 8, 12},   {5, 1, 4, 4, 8},
        {9, 1, 4, 8, 12},    {3, 2, 8, 4, 12},     {7, 1, 16, 16, 20},  {3, 1, 24, 12, 16},
        {4, 3, 24, 12, 40},  {2, 2, 24, 8, 20},    {1, 1, 32, 4, 8},    {0, 5, 24, 0, 4},
        {5, 0, 32, 20, 4},
    };
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bitsPerPixel);
        DibImage image;
        UniqueHlocal spare;
        ASSERT_EQ(image.Allocate(c.width, c.height, c.bitsPerPixel, {}, spare), Success);
        ASSERT_NE(image.header(), nullptr);
        EXPECT_EQ(image.header()->width, c.width);
        EXPECT_EQ(image.header()->height, c.height);
        EXPECT_EQ(image.header()->bitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(image.header()->stride, c.stride);
        EXPECT_EQ(LocalSize(image.pixelBlock()), c.blockSize);
        EXPECT_EQ(image.pixels(), image.pixelBlock());
    }
}

// Sizes that would wrap in 32-bit arithmetic are computed whole, never wrapped to a small block.
TEST(DibImageAllocate, GeometryDoesNotWrap) {
    // 0x08000001 pixels of 32 bits: the row's bit count wraps to 0x20 in 32 bits.
    const DibGeometry wide = ComputeDibGeometry(0x08000001, 16, 32);
#ifdef _WIN64
    ASSERT_TRUE(wide.valid);
    EXPECT_EQ(wide.stride, size_t{0x20000004});
    EXPECT_EQ(wide.blockSize, size_t{0x20000004} * 16 + 4);
#else
    EXPECT_FALSE(wide.valid);
#endif
    // 2^30 bytes per row, 2 rows: wraps to 4 bytes in 32 bits.
    const DibGeometry tall = ComputeDibGeometry(0x40000000, 4, 8);
#ifdef _WIN64
    ASSERT_TRUE(tall.valid);
    EXPECT_EQ(tall.blockSize, size_t{0x100000004});
#else
    EXPECT_FALSE(tall.valid);
#endif
}

struct OversizedCase {
    const char* what;
    uint32_t width;
    uint32_t height;
    int32_t bitsPerPixel;
};

// A block that cannot be represented answers 4 and leaves image and spare exactly as they were.
TEST(DibImageAllocate, UnrepresentableSizesAnswerOutOfMemory) {
    const OversizedCase cases[] = {
        {"width beyond the header's signed field", 0x80000000u, 1, 8},
        {"height beyond the header's signed field", 1, 0x80000000u, 8},
        {"widest and tallest", 0xFFFFFFFFu, 0xFFFFFFFFu, 32},
        {"rows times height beyond 64 bits", 0x7FFFFFFF, 0x7FFFFFFF, 128},
        {"negative depth read unsigned", 0x7FFFFFFF, 0x7FFFFFFF, -1},
#ifndef _WIN64
        {"32-bit row bits wrap", 0x08000001, 16, 32},
        {"32-bit block wraps", 0x40000000, 4, 8},
        {"block beyond a pointer difference", 0x20000000, 1, 32},
#endif
    };
    for (const OversizedCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ComputeDibGeometry(c.width, c.height, c.bitsPerPixel).valid);
        DibImage image;
        UniqueHlocal spare = MakeBlock(8);  // too small to be taken
        const HLOCAL spareBefore = spare.get();
        ASSERT_EQ(image.Allocate(2, 2, 24, {}, spare), Success);
        const DibHeader* headerBefore = image.header();
        uint8_t* pixelsBefore = image.pixels();

        const PluginStatus status = image.Allocate(c.width, c.height, c.bitsPerPixel, {}, spare);
        EXPECT_EQ(status, OutOfMemory) << Hex(status);
        EXPECT_EQ(image.header(), headerBefore);
        EXPECT_EQ(image.header()->width, 2u);
        EXPECT_EQ(image.pixels(), pixelsBefore);
        EXPECT_EQ(spare.get(), spareBefore);
    }
}

// A 32-bit picture whose block can be represented but not allocated.
#ifdef _WIN64
constexpr uint32_t kHugeWidth = 0x40000000, kHugeHeight = 0x40000000;  // 2^62 bytes
#else
constexpr uint32_t kHugeWidth = 0x1FFFC000, kHugeHeight = 1;  // just under 2 GiB in one piece
#endif

// A size that can be represented but not allocated: 4, the new header, no block, the spare kept.
TEST(DibImageAllocate, BlockThatCannotBeAllocatedAnswersOutOfMemory) {
    const uint32_t width = kHugeWidth, height = kHugeHeight;
    ASSERT_TRUE(ComputeDibGeometry(width, height, 32).valid);
    DibImage image;
    UniqueHlocal spare = MakeBlock(8);  // too small to be taken
    const HLOCAL spareBefore = spare.get();
    ASSERT_EQ(image.Allocate(2, 2, 24, {}, spare), Success);

    const PluginStatus status = image.Allocate(width, height, 32, {}, spare);
    EXPECT_EQ(status, OutOfMemory) << Hex(status);
    ASSERT_NE(image.header(), nullptr);
    EXPECT_EQ(image.header()->width, width);
    EXPECT_EQ(image.pixels(), nullptr);
    EXPECT_EQ(image.pixelBlock(), nullptr);
    EXPECT_EQ(spare.get(), spareBefore);
}

// --- Palette ----------------------------------------------------------------------------

std::vector<uint32_t> NumberedPalette(size_t entries) {
    std::vector<uint32_t> palette(entries);
    for (size_t i = 0; i < entries; ++i) palette[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010203);
    return palette;
}

struct PaletteCase {
    int32_t bitsPerPixel;
    size_t given;
    size_t expected;
};

// Up to 8 bits the palette is cut or padded with white (top byte 0) to 2^bits entries;
// above 8 bits it is dropped.
TEST(DibImageAllocate, PaletteSizedToTheDepth) {
    const PaletteCase cases[] = {
        {8, 16, 256}, {8, 300, 256}, {8, 256, 256}, {4, 16, 16}, {4, 2, 16},
        {1, 0, 2},    {1, 5, 2},     {16, 16, 0},   {24, 16, 0}, {32, 300, 0},
    };
    for (const PaletteCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bitsPerPixel << " bits, " << c.given << " entries given");
        const std::vector<uint32_t> given = NumberedPalette(c.given);
        DibImage image;
        UniqueHlocal spare;
        ASSERT_EQ(image.Allocate(3, 3, c.bitsPerPixel, given, spare), Success);
        const std::vector<uint32_t>& palette = image.header()->palette;
        ASSERT_EQ(palette.size(), c.expected);
        for (size_t i = 0; i < palette.size(); ++i)
            EXPECT_EQ(palette[i], i < given.size() ? given[i] : kWhite) << "entry " << i;
    }
}

// --- Spare block ------------------------------------------------------------------------

// A 2x2 24-bit image needs 8 * 2 + 4 = 20 bytes.
constexpr size_t kSmallBlock = 20;

TEST(DibImageAllocate, SpareExactlyLargeEnoughIsTakenWithItsContents) {
    DibImage image;
    UniqueHlocal spare = MakeBlock(kSmallBlock);
    const HLOCAL spareBefore = spare.get();
    ASSERT_EQ(image.Allocate(2, 2, 24, {}, spare), Success);
    EXPECT_EQ(image.pixelBlock(), spareBefore);
    EXPECT_EQ(image.pixels(), spareBefore);
    EXPECT_FALSE(spare);  // the image had no block to give back
    for (size_t i = 0; i < kSmallBlock; ++i) EXPECT_EQ(image.pixels()[i], kMarker) << i;
}

TEST(DibImageAllocate, SpareExchangedForThePreviousBlock) {
    DibImage image;
    UniqueHlocal none;
    ASSERT_EQ(image.Allocate(1, 1, 8, {}, none), Success);  // 8 bytes
    const HLOCAL previous = image.pixelBlock();
    UniqueHlocal spare = MakeBlock(100);
    const HLOCAL spareBefore = spare.get();
    ASSERT_EQ(image.Allocate(2, 2, 24, {}, spare), Success);
    EXPECT_EQ(image.pixelBlock(), spareBefore);
    EXPECT_EQ(spare.get(), previous);
}

TEST(DibImageAllocate, SpareOneByteTooSmallStaysInItsSlot) {
    DibImage image;
    UniqueHlocal spare = MakeBlock(kSmallBlock - 1);
    const HLOCAL spareBefore = spare.get();
    ASSERT_EQ(image.Allocate(2, 2, 24, {}, spare), Success);
    EXPECT_NE(image.pixelBlock(), spareBefore);
    EXPECT_EQ(LocalSize(image.pixelBlock()), kSmallBlock);
    EXPECT_EQ(spare.get(), spareBefore);
}

struct TakeOverCase {
    const char* what;
    uint32_t oldHeight;  // this image: 1 x oldHeight at 32 bits (4 * height + 4 bytes); 0 for empty
    size_t spareSize;    // 0 for an empty slot
    bool oldBlockBecomesSpare;
};

// Of this image's old block and the spare, the larger survives in the slot; the spare on a tie.
TEST(DibImageTakeOver, LargerOfOldBlockAndSpareSurvives) {
    const TakeOverCase cases[] = {
        {"empty slot", 4, 0, true},                  // old block 20 bytes
        {"larger spare", 4, 30, false},
        {"equal spare", 4, 20, false},
        {"smaller spare", 6, 20, true},              // old block 28 bytes
        {"image without block", 0, 20, false},
    };
    for (const TakeOverCase& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueHlocal none;
        DibImage image;
        if (c.oldHeight > 0) {
            ASSERT_EQ(image.Allocate(1, c.oldHeight, 32, {}, none), Success);
        }
        const HLOCAL oldBlock = image.pixelBlock();
        DibImage other;
        ASSERT_EQ(other.Allocate(5, 3, 8, NumberedPalette(4), none), Success);
        const DibHeader* otherHeader = other.header();
        const HLOCAL otherBlock = other.pixelBlock();
        UniqueHlocal spare = c.spareSize ? MakeBlock(c.spareSize) : UniqueHlocal();
        const HLOCAL spareBefore = spare.get();

        image.TakeOver(other, spare);

        EXPECT_EQ(image.header(), otherHeader);
        EXPECT_EQ(image.header()->width, 5u);
        EXPECT_EQ(image.pixelBlock(), otherBlock);
        EXPECT_EQ(image.pixels(), otherBlock);
        EXPECT_EQ(other.header(), nullptr);
        EXPECT_EQ(other.pixelBlock(), nullptr);
        EXPECT_EQ(other.pixels(), nullptr);
        EXPECT_EQ(spare.get(), c.oldBlockBecomesSpare ? oldBlock : spareBefore);
    }
}

TEST(DibImageTakeOver, OfItselfChangesNothing) {
    DibImage image;
    UniqueHlocal spare;
    ASSERT_EQ(image.Allocate(2, 2, 24, {}, spare), Success);
    const HLOCAL block = image.pixelBlock();
    image.TakeOver(image, spare);
    EXPECT_EQ(image.pixelBlock(), block);
    EXPECT_EQ(image.pixels(), block);
    EXPECT_NE(image.header(), nullptr);
    EXPECT_FALSE(spare);
}

// --- Reformat in place -----------------------------------------------------------------

// A 32-bit image becomes a 24-bit one over the same block, bytes untouched; a depth whose
// rows would not fit in the block, or an incomplete image, changes nothing.
TEST(DibImageReformatInPlace, NewHeaderOverTheSameBlock) {
    DibImage image;
    UniqueHlocal spare;
    ASSERT_EQ(image.Allocate(5, 3, 32, {}, spare), Success);  // stride 20
    std::memset(image.pixels(), kMarker, LocalSize(image.pixelBlock()));
    const HLOCAL block = image.pixelBlock();

    PluginStatus status = image.ReformatInPlace(24);
    ASSERT_EQ(status, Success) << Hex(status);
    EXPECT_EQ(image.header()->bitsPerPixel, 24);
    EXPECT_EQ(image.header()->width, 5u);
    EXPECT_EQ(image.header()->height, 3u);
    EXPECT_EQ(image.header()->stride, 16u);
    EXPECT_EQ(image.pixelBlock(), block);
    EXPECT_EQ(image.pixels(), block);
    EXPECT_EQ(std::vector<uint8_t>(image.pixels(), image.pixels() + 64), std::vector<uint8_t>(64, kMarker));

    status = image.ReformatInPlace(8);  // a smaller depth gets its palette
    ASSERT_EQ(status, Success) << Hex(status);
    EXPECT_EQ(image.header()->palette, std::vector<uint32_t>(256, kWhite));

    const DibHeader* header = image.header();
    status = image.ReformatInPlace(64);  // 40-byte rows do not fit in 64 bytes
    EXPECT_EQ(status, InternalError) << Hex(status);
    EXPECT_EQ(image.header(), header);

    DibImage empty;
    status = empty.ReformatInPlace(24);
    EXPECT_EQ(status, InternalError) << Hex(status);
    EXPECT_EQ(empty.header(), nullptr);
}

// --- Hand-over --------------------------------------------------------------------------

void PutLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutLe16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

// The BITMAPINFOHEADER as the host reads it, followed by `table` and 4 zero bytes.
std::vector<uint8_t> ExpectedInfoBlock(uint32_t width, uint32_t height, uint16_t bits,
                                       const std::vector<uint32_t>& table) {
    std::vector<uint8_t> bytes;
    PutLe32(bytes, 40);
    PutLe32(bytes, width);
    PutLe32(bytes, height);
    PutLe16(bytes, 1);
    PutLe16(bytes, bits);
    for (int field = 0; field < 4; ++field) PutLe32(bytes, 0);  // compression, image size, densities
    PutLe32(bytes, static_cast<uint32_t>(table.size()));
    PutLe32(bytes, 0);
    for (uint32_t entry : table) PutLe32(bytes, entry);
    PutLe32(bytes, 0);
    return bytes;
}

struct HandOverCase {
    const char* what;
    uint32_t width;
    uint32_t height;
    int32_t bitsPerPixel;
    std::vector<uint32_t> palette;
    size_t infoSize;
};

TEST(DibImageHandOver, InfoBlockByteByByteAndPixelBlockUncopied) {
    std::vector<uint32_t> grown = NumberedPalette(16);
    grown.resize(256, kWhite);
    const HandOverCase cases[] = {
        {"1 bit, two entries with their alpha bytes", 9, 2, 1, {0xFF112233, 0x00445566}, 52},
        {"8 bits, 16 entries grown to 256", 3, 4, 8, NumberedPalette(16), 1068},
        {"24 bits", 3, 2, 24, {}, 44},
        {"32 bits, palette ignored", 2, 5, 32, NumberedPalette(2), 44},
    };
    for (const HandOverCase& c : cases) {
        SCOPED_TRACE(c.what);
        DibImage image;
        UniqueHlocal spare;
        ASSERT_EQ(image.Allocate(c.width, c.height, c.bitsPerPixel, c.palette, spare), Success);
        const HLOCAL block = image.pixelBlock();
        const size_t blockSize = LocalSize(block);
        std::memset(image.pixels(), 0x5A, blockSize);
        UniqueHlocal infoBlock = MakeBlock(8);
        UniqueHlocal bitsBlock = MakeBlock(8);

        const PluginStatus status = image.HandOver(infoBlock, bitsBlock);
        ASSERT_EQ(status, Success) << Hex(status);

        std::vector<uint32_t> table;
        if (c.bitsPerPixel <= 8) {
            table = c.palette;
            table.resize(size_t{1} << c.bitsPerPixel, kWhite);
        }
        const std::vector<uint8_t> info = BlockBytes(infoBlock);
        EXPECT_EQ(info.size(), c.infoSize);
        EXPECT_EQ(info, ExpectedInfoBlock(c.width, c.height, static_cast<uint16_t>(c.bitsPerPixel), table));
        EXPECT_EQ(bitsBlock.get(), block);
        EXPECT_EQ(BlockBytes(bitsBlock), std::vector<uint8_t>(blockSize, 0x5A));
        EXPECT_EQ(image.header(), nullptr);
        EXPECT_EQ(image.pixelBlock(), nullptr);
        EXPECT_EQ(image.pixels(), nullptr);
    }
}

TEST(DibImageHandOver, IncompleteImageAnswersInternalErrorAndLeavesTheSlots) {
    DibImage empty;
    // A failed allocation leaves a header and no block.
    DibImage headerOnly;
    UniqueHlocal spare;
    ASSERT_EQ(headerOnly.Allocate(kHugeWidth, kHugeHeight, 32, {}, spare), OutOfMemory);
    ASSERT_NE(headerOnly.header(), nullptr);
    DibImage* images[] = {&empty, &headerOnly};
    for (DibImage* image : images) {
        UniqueHlocal infoBlock = MakeBlock(8, 1);
        UniqueHlocal bitsBlock = MakeBlock(8, 2);
        const HLOCAL infoBefore = infoBlock.get();
        const HLOCAL bitsBefore = bitsBlock.get();
        const PluginStatus status = image->HandOver(infoBlock, bitsBlock);
        EXPECT_EQ(status, InternalError) << Hex(status);
        EXPECT_EQ(infoBlock.get(), infoBefore);
        EXPECT_EQ(bitsBlock.get(), bitsBefore);
        EXPECT_EQ(BlockBytes(infoBlock), std::vector<uint8_t>(8, 1));
        EXPECT_EQ(BlockBytes(bitsBlock), std::vector<uint8_t>(8, 2));
    }
}

}  // namespace
