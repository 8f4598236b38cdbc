// Bottom-up reordering of the working bitmap: whole rows, padding included, copied in reverse
// order into a new block, or exchanged pairwise within the image's own block.
#include "bitmap/FlipRows.h"

#include "bitmap/Sse2.h"

#include <algorithm>
#include <cstring>

namespace {

// The rows are read backwards through memory, which the processor's own prefetching does
// not follow from one row to the next: each piece of a row is copied while the same piece
// of the next row is fetched.
constexpr size_t kCopyPiece = 4096;
constexpr size_t kCacheLine = 64;

struct CopyRows {
    const RowTable* table;
    size_t stride;
};

SSE2_FUNCTION void CopyRowBody(uint32_t first, uint32_t end, const CopyRows& copy) {
    for (uint32_t r = first; r < end; ++r) {
        const RowPair& row = (*copy.table)[r];
        const uint8_t* next = r + 1 < end ? (*copy.table)[r + 1].source : nullptr;
        for (size_t offset = 0; offset < copy.stride; offset += kCopyPiece) {
            const size_t piece = std::min(kCopyPiece, copy.stride - offset);
            if (next)
                for (size_t line = 0; line < piece; line += kCacheLine)
                    _mm_prefetch(reinterpret_cast<const char*>(next + offset + line), _MM_HINT_T0);
            std::memcpy(row.destination + offset, row.source + offset, piece);
        }
    }
}

struct SwapRows {
    uint8_t* pixels;
    size_t stride;
    uint32_t height;
};

// Exchanges `bytes` bytes (a multiple of 4) of two rows, fetching the same piece of the
// next lower row ahead of the reads: the lower rows are walked backwards through memory.
SSE2_FUNCTION void SwapRowPair(uint8_t* top, uint8_t* bottom, size_t bytes, const uint8_t* nextBottom) {
    size_t i = 0;
    for (; i + kCacheLine <= bytes; i += kCacheLine) {
        if (nextBottom) _mm_prefetch(reinterpret_cast<const char*>(nextBottom + i), _MM_HINT_T0);
        auto* upper = reinterpret_cast<__m128i*>(top + i);
        auto* lower = reinterpret_cast<__m128i*>(bottom + i);
        __m128i upperBytes[4], lowerBytes[4];
        for (int k = 0; k < 4; ++k) {
            upperBytes[k] = _mm_loadu_si128(upper + k);
            lowerBytes[k] = _mm_loadu_si128(lower + k);
        }
        for (int k = 0; k < 4; ++k) {
            _mm_storeu_si128(upper + k, lowerBytes[k]);
            _mm_storeu_si128(lower + k, upperBytes[k]);
        }
    }
    for (; i < bytes; i += 4) {
        uint32_t a, b;
        std::memcpy(&a, top + i, 4);
        std::memcpy(&b, bottom + i, 4);
        std::memcpy(top + i, &b, 4);
        std::memcpy(bottom + i, &a, 4);
    }
}

// Pair r exchanges rows r and height - 1 - r; the pairs of one body are its rows.
SSE2_FUNCTION void SwapRowBody(uint32_t first, uint32_t end, const SwapRows& rows) {
    for (uint32_t r = first; r < end; ++r) {
        uint8_t* top = rows.pixels + r * rows.stride;
        uint8_t* bottom = rows.pixels + (rows.height - 1 - r) * rows.stride;
        SwapRowPair(top, bottom, rows.stride, r + 1 < end ? bottom - rows.stride : nullptr);
    }
}

}  // namespace

PluginStatus FlipToBottomUpInPlace(DibImage& image, unsigned workers) {
    const DibHeader* header = image.header();
    if (!header || !image.pixels()) return InternalError;
    // A middle row of an odd height stays where it is.
    const SwapRows rows{image.pixels(), header->stride, header->height};
    ForEachRow(header->height / 2, 2 * header->stride, SwapRowBody, rows, workers);
    return Success;
}

PluginStatus FlipToBottomUp(DibImage& image, UniqueHlocal& spareBlock, unsigned workers) {
    const DibHeader* header = image.header();
    if (!header || !image.pixels()) return InternalError;
    // The table comes first so that a shortage leaves the spare slot as it was.
    RowTable table;
    if (!table.Reserve(header->height)) return OutOfMemory;
    DibImage flipped;
    const PluginStatus status =
        flipped.Allocate(header->width, header->height, header->bitsPerPixel, header->palette, spareBlock);
    if (status != Success) return status;

    const size_t stride = header->stride;
    const uint32_t height = header->height;
    for (uint32_t r = 0; r < height; ++r)
        table[r] = {flipped.pixels() + r * stride, image.pixels() + (height - 1 - r) * stride};
    ForEachRow(height, stride, CopyRowBody, CopyRows{&table, stride}, workers);

    image.TakeOver(flipped, spareBlock);
    return Success;
}
