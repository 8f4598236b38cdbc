// Bottom-up reordering of the working bitmap: whole rows, padding included, copied in reverse order.
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

}  // namespace

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
