// The bitmap steps when the C++ heap runs dry: every allocation in turn is made to fail,
// and each failure must answer 4 and leave the image and the spare slot as they were.
#include "bitmap/FlipRows.h"
#include "bitmap/ResolveAlpha.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

namespace {

// Allocations still granted before the next one fails; negative: no failure.
long gAllocationsLeft = -1;

}  // namespace

// This executable's heap: malloc, with a failure on demand.
void* operator new(std::size_t size) {
    if (gAllocationsLeft == 0) throw std::bad_alloc();
    if (gAllocationsLeft > 0) --gAllocationsLeft;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Lets `granted` allocations succeed during `step` and fails the next one.
PluginStatus WithAllocationsLimited(long granted, const std::function<PluginStatus()>& step) {
    gAllocationsLeft = granted;
    const PluginStatus status = step();
    gAllocationsLeft = -1;
    return status;
}

struct Snapshot {
    const DibHeader* header;
    uint32_t width;
    int32_t bitsPerPixel;
    std::vector<uint32_t> palette;
    HLOCAL block;
    std::vector<uint8_t> bytes;
    HLOCAL spare;
};

Snapshot Take(const DibImage& image, const UniqueHlocal& spare) {
    const size_t size = LocalSize(image.pixelBlock());
    return {image.header(), image.header()->width, image.header()->bitsPerPixel, image.header()->palette,
            image.pixelBlock(), std::vector<uint8_t>(image.pixels(), image.pixels() + size), spare.get()};
}

void ExpectUnchanged(const Snapshot& before, const DibImage& image, const UniqueHlocal& spare) {
    ASSERT_EQ(image.header(), before.header);
    EXPECT_EQ(image.header()->width, before.width);
    EXPECT_EQ(image.header()->bitsPerPixel, before.bitsPerPixel);
    EXPECT_EQ(image.header()->palette, before.palette);
    ASSERT_EQ(image.pixelBlock(), before.block);
    EXPECT_EQ(image.pixels(), before.block);
    EXPECT_EQ(std::vector<uint8_t>(image.pixels(), image.pixels() + before.bytes.size()), before.bytes);
    EXPECT_EQ(spare.get(), before.spare);
}

// A complete image at `bits` per pixel with every byte numbered, and a spare block too
// small to be taken.
void Prepare(DibImage& image, UniqueHlocal& spare, int32_t bits) {
    UniqueHlocal none;
    const std::vector<uint32_t> palette = {0xFF010203, 0xFF040506, 0xFF070809};
    ASSERT_EQ(image.Allocate(6, 5, bits, palette, none), Success);
    const size_t size = LocalSize(image.pixelBlock());
    for (size_t i = 0; i < size; ++i) image.pixels()[i] = static_cast<uint8_t>(i * 3 + 1);
    spare.reset(LocalAlloc(LMEM_FIXED, 8));
}

// Fails the first, second, ... allocation of `step` until it succeeds; each failure must be a
// clean 4.
void FailEachAllocationInTurn(int32_t bits, const std::function<PluginStatus(DibImage&, UniqueHlocal&)>& step) {
    for (long granted = 0;; ++granted) {
        SCOPED_TRACE(testing::Message() << granted << " allocations granted");
        ASSERT_LT(granted, 20) << "the step never succeeded";
        DibImage image;
        UniqueHlocal spare;
        Prepare(image, spare, bits);
        const Snapshot before = Take(image, spare);
        const PluginStatus status = WithAllocationsLimited(granted, [&] { return step(image, spare); });
        if (status == Success) {
            EXPECT_GT(granted, 0) << "the step allocated nothing";
            return;
        }
        EXPECT_EQ(status, OutOfMemory) << Hex(status);
        ExpectUnchanged(before, image, spare);
    }
}

TEST(OutOfMemory, AllocateLeavesTheImageAsItWas) {
    const std::vector<uint32_t> palette(16, 0xFF336699);
    FailEachAllocationInTurn(8, [&](DibImage& image, UniqueHlocal& spare) {
        return image.Allocate(9, 9, 8, palette, spare);
    });
}

TEST(OutOfMemory, FlipLeavesTheImageAndSpareAsTheyWere) {
    for (int32_t bits : {8, 24}) {
        FailEachAllocationInTurn(bits, [](DibImage& image, UniqueHlocal& spare) {
            return FlipToBottomUp(image, spare);
        });
    }
}

TEST(OutOfMemory, ResolveAlphaInPlaceLeavesTheImageAsItWas) {
    const uint8_t white[3] = {255, 255, 255};
    for (uint32_t mode : {0u, 1u}) {
        FailEachAllocationInTurn(32, [&](DibImage& image, UniqueHlocal&) {
            return ResolveAlphaInPlace(image, mode, white);
        });
    }
}

TEST(OutOfMemory, ResolveAlphaLeavesTheImageAndSpareAsTheyWere) {
    const uint8_t white[3] = {255, 255, 255};
    for (uint32_t mode : {0u, 1u}) {
        FailEachAllocationInTurn(32, [&](DibImage& image, UniqueHlocal& spare) {
            return ResolveAlpha(image, spare, mode, white);
        });
    }
}

}  // namespace
