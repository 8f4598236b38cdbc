// The working bitmap of one decode: geometry, palette and a local-memory pixel block,
// recycled between transforms through a spare slot and handed to the host at the end.
#pragma once

#include "plugin/HostRecords.h"
#include "plugin/Owners.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Geometry and colour table of a bitmap.
struct DibHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t bitsPerPixel = 0;
    // Bytes per row: the row's bits rounded up to whole bytes, then to a multiple of 4.
    size_t stride = 0;
    // Entries 0xAARRGGBB (bytes blue, green, red, alpha): empty above 8 bits per pixel,
    // otherwise exactly 2^bitsPerPixel entries.
    std::vector<uint32_t> palette;
};

// Bytes a block needs beyond its rows; the host receives them as part of the block.
constexpr size_t kPixelBlockSlack = 4;

// Stride and block size of a picture, or nothing when they cannot be represented.
struct DibGeometry {
    bool valid = false;
    size_t stride = 0;
    size_t blockSize = 0;  // stride * height + kPixelBlockSlack
};
// Computed in 64 bits and checked: widths and heights must fit the signed fields of the
// host's bitmap header, and the block must fit a pointer difference.
DibGeometry ComputeDibGeometry(uint32_t width, uint32_t height, int32_t bitsPerPixel);

// Entries a palette holds at `bitsPerPixel` (compared unsigned): 2^bitsPerPixel up to 8 bits, else 0.
size_t PaletteEntries(int32_t bitsPerPixel);

// Rows stored one after another, row r at pixels() + r * stride. Complete after a
// successful Allocate or TakeOver; empty after construction, HandOver or being taken over.
class DibImage {
public:
    DibImage() = default;
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;

    // Sets up a new header (the palette is copied and sized to the depth) and a pixel block
    // of stride * height + 4 bytes, taken from `spareBlock` when the block there is large
    // enough (the slot then gets this image's old block) and freshly allocated otherwise.
    // 4 when the size cannot be represented (image unchanged), when the header cannot be
    // built (image unchanged) or when the block cannot be allocated (the image then has
    // the new header and no block). The block's contents are undefined.
    PluginStatus Allocate(uint32_t width, uint32_t height, int32_t bitsPerPixel,
                          std::span<const uint32_t> palette, UniqueHlocal& spareBlock);

    // Takes `other`'s header and block, leaving it empty. Of this image's old block and
    // the spare, the larger stays in `spareBlock` (the spare when equal); the other is freed.
    void TakeOver(DibImage& other, UniqueHlocal& spareBlock);

    // Gives the image a header for `bitsPerPixel` over the same pixel block, for a transform
    // that writes its result over its own source: width and height kept, the palette sized
    // to the new depth as in Allocate. 8 when the image is not complete or its block cannot
    // hold the new rows; 4 when the header cannot be built. On failure nothing changes.
    PluginStatus ReformatInPlace(int32_t bitsPerPixel);

    // Moves the pixel block into `bitsBlock` and a new BITMAPINFO block (header, colour
    // table, 4 zero bytes) into `infoBlock`, freeing what the slots held. 8 when the image
    // is not complete (slots untouched); 4 when the info block cannot be allocated, the
    // pixel block having already moved to `bitsBlock`. Leaves the image empty on success.
    PluginStatus HandOver(UniqueHlocal& infoBlock, UniqueHlocal& bitsBlock);

    const DibHeader* header() const { return header_.get(); }
    uint8_t* pixels() const { return pixels_; }
    HLOCAL pixelBlock() const { return pixelBlock_.get(); }

private:
    std::unique_ptr<DibHeader> header_;
    UniqueHlocal pixelBlock_;
    uint8_t* pixels_ = nullptr;  // start of pixelBlock_, or null
};
