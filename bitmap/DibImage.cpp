// The working bitmap: allocation with the spare-block rules, take-over and hand-over.
#include "bitmap/DibImage.h"

#include <algorithm>
#include <cstring>
#include <new>

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == sizeof(uint32_t));

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// The header's palette is a copy of `palette` cut or padded with white to the depth's size.
std::unique_ptr<DibHeader> BuildHeader(uint32_t width, uint32_t height, int32_t bitsPerPixel,
                                       size_t stride, std::span<const uint32_t> palette) noexcept {
    try {
        auto header = std::make_unique<DibHeader>();
        header->width = width;
        header->height = height;
        header->bitsPerPixel = bitsPerPixel;
        header->stride = stride;
        const size_t entries = PaletteEntries(bitsPerPixel);
        if (entries > 0) {
            const size_t kept = std::min(entries, palette.size());
            header->palette.assign(palette.begin(), palette.begin() + kept);
            header->palette.resize(entries, kWhite);
        }
        return header;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

size_t BlockSize(const UniqueHlocal& block) { return block ? LocalSize(block.get()) : 0; }

}  // namespace

DibGeometry ComputeDibGeometry(uint32_t width, uint32_t height, int32_t bitsPerPixel) {
    // The host's header stores both sides as signed 32-bit numbers.
    constexpr uint64_t kMaxSide = INT32_MAX;
    if (width > kMaxSide || height > kMaxSide) return {};
    // Below 2^31 * 2^32: the sums that follow cannot wrap.
    const uint64_t rowBits = uint64_t{width} * static_cast<uint32_t>(bitsPerPixel);
    const uint64_t stride = (((rowBits + 7) >> 3) + 3) & ~uint64_t{3};
    uint64_t rows = 0;
    if (__builtin_mul_overflow(stride, uint64_t{height}, &rows)) return {};
    const uint64_t block = rows + kPixelBlockSlack;
    if (block < rows || block > static_cast<uint64_t>(PTRDIFF_MAX)) return {};
    return {true, static_cast<size_t>(stride), static_cast<size_t>(block)};
}

size_t PaletteEntries(int32_t bitsPerPixel) {
    const auto bits = static_cast<uint32_t>(bitsPerPixel);
    return bits <= 8 ? size_t{1} << bits : 0;
}

PluginStatus DibImage::Allocate(uint32_t width, uint32_t height, int32_t bitsPerPixel,
                                std::span<const uint32_t> palette, UniqueHlocal& spareBlock) {
    const DibGeometry geometry = ComputeDibGeometry(width, height, bitsPerPixel);
    if (!geometry.valid) return OutOfMemory;
    std::unique_ptr<DibHeader> header = BuildHeader(width, height, bitsPerPixel, geometry.stride, palette);
    if (!header) return OutOfMemory;
    header_ = std::move(header);

    if (BlockSize(spareBlock) >= geometry.blockSize) {
        // Exchange: the spare becomes ours and our previous block (if any) the spare.
        UniqueHlocal previous(pixelBlock_.release());
        pixelBlock_ = std::move(spareBlock);
        spareBlock = std::move(previous);
    } else {
        pixelBlock_.reset(LocalAlloc(LMEM_FIXED, geometry.blockSize));
    }
    pixels_ = static_cast<uint8_t*>(pixelBlock_.get());
    return pixels_ ? Success : OutOfMemory;
}

void DibImage::TakeOver(DibImage& other, UniqueHlocal& spareBlock) {
    if (&other == this) return;
    // Keep the larger of our old block and the spare for the next transform.
    if (pixelBlock_ && BlockSize(spareBlock) < BlockSize(pixelBlock_)) spareBlock = std::move(pixelBlock_);
    header_ = std::move(other.header_);
    pixelBlock_ = std::move(other.pixelBlock_);
    pixels_ = static_cast<uint8_t*>(pixelBlock_.get());
    other.pixels_ = nullptr;
}

PluginStatus DibImage::ReformatInPlace(int32_t bitsPerPixel) {
    if (!header_ || !pixels_) return InternalError;
    const DibGeometry geometry = ComputeDibGeometry(header_->width, header_->height, bitsPerPixel);
    if (!geometry.valid || geometry.blockSize > BlockSize(pixelBlock_)) return InternalError;
    std::unique_ptr<DibHeader> header =
        BuildHeader(header_->width, header_->height, bitsPerPixel, geometry.stride, header_->palette);
    if (!header) return OutOfMemory;
    header_ = std::move(header);
    return Success;
}

PluginStatus DibImage::HandOver(UniqueHlocal& infoBlock, UniqueHlocal& bitsBlock) {
    if (!header_ || !pixels_) return InternalError;
    bitsBlock = std::move(pixelBlock_);
    pixels_ = nullptr;

    const size_t entries = PaletteEntries(header_->bitsPerPixel);
    const size_t count = std::min(entries, header_->palette.size());
    infoBlock.reset(LocalAlloc(LMEM_ZEROINIT, sizeof(BITMAPINFOHEADER) + sizeof(RGBQUAD) * (entries + 1)));
    if (!infoBlock) return OutOfMemory;

    BITMAPINFOHEADER info{};
    info.biSize = sizeof(BITMAPINFOHEADER);
    info.biWidth = static_cast<LONG>(header_->width);
    info.biHeight = static_cast<LONG>(header_->height);  // positive: rows are bottom-up
    info.biPlanes = 1;
    info.biBitCount = static_cast<WORD>(header_->bitsPerPixel);
    info.biCompression = BI_RGB;
    info.biClrUsed = static_cast<DWORD>(count);
    auto* bytes = static_cast<uint8_t*>(infoBlock.get());
    std::memcpy(bytes, &info, sizeof info);
    if (count > 0) std::memcpy(bytes + sizeof info, header_->palette.data(), sizeof(uint32_t) * count);
    header_.reset();
    return Success;
}
