// Alpha removal and compositing, four pixels at a time with SSE2 and the rest one by one,
// into a new block or over the source rows themselves.
#include "bitmap/ResolveAlpha.h"

#include "bitmap/Sse2.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cstring>

namespace {

struct AlphaRows {
    const RowTable* table;
    uint32_t width;
    uint8_t background[4];  // blue, green, red; the fourth byte is never stored
};

// Four pixels of 4 bytes packed to their 12 colour bytes in bytes 0-11; bytes 12-15 are zero.
SSE2_FUNCTION inline __m128i PackColourBytes(__m128i pixels) {
    // Within each 64-bit half: p0's low 24 bits, then p1's low 24 bits from bit 24 on.
    const __m128i first = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i second = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                         static_cast<int>(0xFF000000));
    const __m128i halves = _mm_or_si128(_mm_and_si128(pixels, first),
                                        _mm_and_si128(_mm_srli_epi64(pixels, 8), second));
    // Move the upper half's 6 bytes down next to the lower half's.
    return _mm_or_si128(_mm_move_epi64(halves), _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
}

// Stores 12 packed bytes; `roomy` when 16 bytes fit before the row ends, the 4 extra
// (zero) bytes being overwritten by the next pixels.
SSE2_FUNCTION inline void StorePacked(uint8_t* destination, __m128i packed, bool roomy) {
    if (roomy) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination), packed);
        return;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(destination), packed);
    const uint32_t last = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
    std::memcpy(destination + 8, &last, 4);
}

// (s * a + b * (255 - a)) / 255 for the 16-bit channels of two pixels; alpha lanes are junk.
SSE2_FUNCTION inline __m128i BlendTwoPixels(__m128i source, __m128i background) {
    const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(source, 0xFF), 0xFF);
    const __m128i inverse = _mm_sub_epi16(_mm_set1_epi16(255), alpha);
    // At most 255 * 255: no 16-bit lane overflows, here or in the division.
    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(source, alpha), _mm_mullo_epi16(background, inverse));
    const __m128i rounded = _mm_add_epi16(_mm_add_epi16(sum, _mm_set1_epi16(1)), _mm_srli_epi16(sum, 8));
    return _mm_srli_epi16(rounded, 8);
}

SSE2_FUNCTION inline __m128i BlendFourPixels(__m128i pixels, __m128i background16) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = BlendTwoPixels(_mm_unpacklo_epi8(pixels, zero), background16);
    const __m128i high = BlendTwoPixels(_mm_unpackhi_epi8(pixels, zero), background16);
    return _mm_packus_epi16(low, high);
}

// Through a local copy: in place, a pixel's destination may overlap its own source bytes.
void RemovePixel(const uint8_t* source, uint8_t* destination) {
    uint8_t colour[3];
    std::memcpy(colour, source, 3);
    std::memcpy(destination, colour, 3);
}

void CompositePixel(const uint8_t* source, uint8_t* destination, const uint8_t* background) {
    const uint8_t alpha = source[3];
    if (alpha == 255) return RemovePixel(source, destination);
    if (alpha == 0) return RemovePixel(background, destination);
    for (int c = 0; c < 3; ++c) destination[c] = BlendChannel(source[c], background[c], alpha);
}

// Four-pixel groups: 16-byte stores while 16 bytes remain in the row, then 12-byte
// stores; the last pixels one at a time, 3 bytes each, so no row spills into the next.
// Each group is loaded before it is stored and a destination row never starts after its
// source row, so a row may be written over its own source (in place): no store reaches
// a source byte that is still to be read.
SSE2_FUNCTION void RemoveRowBody(uint32_t first, uint32_t end, const AlphaRows& rows) {
    const uint32_t width = rows.width;
    for (uint32_t r = first; r < end; ++r) {
        const uint8_t* source = (*rows.table)[r].source;
        uint8_t* destination = (*rows.table)[r].destination;
        uint32_t x = 0;
        for (; x + 4 <= width; x += 4) {
            const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * size_t{x}));
            StorePacked(destination + 3 * size_t{x}, PackColourBytes(pixels), x + 6 <= width);
        }
        for (; x < width; ++x) RemovePixel(source + 4 * size_t{x}, destination + 3 * size_t{x});
    }
}

SSE2_FUNCTION void CompositeRowBody(uint32_t first, uint32_t end, const AlphaRows& rows) {
    const uint32_t width = rows.width;
    uint32_t backgroundPixel;
    std::memcpy(&backgroundPixel, rows.background, 4);
    const __m128i background = _mm_set1_epi32(static_cast<int>(backgroundPixel));
    const __m128i background16 = _mm_unpacklo_epi8(background, _mm_setzero_si128());
    const __m128i packedBackground = PackColourBytes(background);
    const __m128i alphaBits = _mm_set1_epi32(static_cast<int>(0xFF000000));
    for (uint32_t r = first; r < end; ++r) {
        const uint8_t* source = (*rows.table)[r].source;
        uint8_t* destination = (*rows.table)[r].destination;
        uint32_t x = 0;
        for (; x + 4 <= width; x += 4) {
            const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * size_t{x}));
            const __m128i alpha = _mm_and_si128(pixels, alphaBits);
            __m128i packed;
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(alpha, alphaBits)) == 0xFFFF) {
                packed = PackColourBytes(pixels);  // all opaque
            } else if (_mm_movemask_epi8(_mm_cmpeq_epi32(alpha, _mm_setzero_si128())) == 0xFFFF) {
                packed = packedBackground;  // all transparent
            } else {
                // The blend gives the source at alpha 255 and the background at 0, so
                // a mixed group needs no per-pixel shortcut.
                packed = PackColourBytes(BlendFourPixels(pixels, background16));
            }
            StorePacked(destination + 3 * size_t{x}, packed, x + 6 <= width);
        }
        for (; x < width; ++x) CompositePixel(source + 4 * size_t{x}, destination + 3 * size_t{x}, rows.background);
    }
}

using AlphaBody = void (*)(uint32_t, uint32_t, const AlphaRows&);

// One band of rows of an in-place loop, numbered from `start`.
struct AlphaBand {
    AlphaBody body;
    const AlphaRows* rows;
    uint32_t start;
};

void RunBand(uint32_t first, uint32_t end, const AlphaBand& band) {
    band.body(band.start + first, band.start + end, *band.rows);
}

// Rows that come first in order, on the calling thread, before the bands are large enough
// to share out.
constexpr uint32_t kInOrderLead = 64;

// The row loop when destination rows overlie their source rows from the same first byte,
// with a smaller stride. Rows taken in order are safe (see above), rows taken at the same
// time are not: one could write where another is still to read. The team therefore runs
// bands of rows [done, end) whose destination bytes all lie before the band's first source
// row, which earlier bands have finished with, one band after another.
void ForEachRowInPlace(uint32_t rows, size_t sourceStride, size_t destinationStride, AlphaBody body,
                       const AlphaRows& shared, unsigned workers) {
    if (rows == 0) return;
    if (RowWorkers(rows, sourceStride, workers) <= 1 || destinationStride >= sourceStride)
        return body(0, rows, shared);
    uint32_t done = std::min(rows, kInOrderLead);
    body(0, done, shared);
    while (done < rows) {
        // The largest end with end * destinationStride <= done * sourceStride.
        const uint64_t reach = uint64_t{done} * sourceStride / destinationStride;
        if (reach <= done) return body(done, rows, shared);
        const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(rows, reach));
        // A loop of its own: with the automatic choice, a band too small for a team runs in order.
        ForEachRow(end - done, sourceStride, RunBand, AlphaBand{body, &shared, done}, workers);
        done = end;
    }
}

PluginStatus CheckAlphaInput(const DibImage& image) {
    if (!image.header() || !image.pixels()) return InternalError;
    // A depth other than 32 is an invalid pixel format for this step.
    if (image.header()->bitsPerPixel != 32) return InternalError;
    return Success;
}

}  // namespace

PluginStatus ResolveAlpha(DibImage& image, UniqueHlocal& spareBlock) {
    const PluginStatus input = CheckAlphaInput(image);
    if (input != Success) return input;
    uint8_t background[3] = {0xFF, 0xFF, 0xFF};
    const uint32_t mode = ReadAlphaSettings(background);
    return ResolveAlpha(image, spareBlock, mode, background);
}

PluginStatus ResolveAlpha(DibImage& image, UniqueHlocal& spareBlock, uint32_t alphaMode,
                          const uint8_t background[3], unsigned workers) {
    const PluginStatus input = CheckAlphaInput(image);
    if (input != Success) return input;
    const DibHeader& header = *image.header();
    // The table comes first so that a shortage leaves the spare slot as it was.
    RowTable table;
    if (!table.Reserve(header.height)) return OutOfMemory;
    DibImage resolved;
    const PluginStatus status = resolved.Allocate(header.width, header.height, 24, header.palette, spareBlock);
    if (status != Success) return status;

    const size_t destinationStride = resolved.header()->stride;
    for (uint32_t r = 0; r < header.height; ++r)
        table[r] = {resolved.pixels() + r * destinationStride, image.pixels() + r * header.stride};
    const AlphaRows rows{&table, header.width, {background[0], background[1], background[2], 0}};
    ForEachRow(header.height, header.stride, alphaMode == kAlphaComposite ? CompositeRowBody : RemoveRowBody,
               rows, workers);

    image.TakeOver(resolved, spareBlock);
    return Success;
}

PluginStatus ResolveAlphaInPlace(DibImage& image) {
    const PluginStatus input = CheckAlphaInput(image);
    if (input != Success) return input;
    uint8_t background[3] = {0xFF, 0xFF, 0xFF};
    const uint32_t mode = ReadAlphaSettings(background);
    return ResolveAlphaInPlace(image, mode, background);
}

PluginStatus ResolveAlphaInPlace(DibImage& image, uint32_t alphaMode, const uint8_t background[3],
                                 unsigned workers) {
    const PluginStatus input = CheckAlphaInput(image);
    if (input != Success) return input;
    const uint32_t width = image.header()->width, height = image.header()->height;
    const size_t sourceStride = image.header()->stride;
    // Valid wherever the 32-bit geometry was, and never larger.
    const size_t destinationStride = ComputeDibGeometry(width, height, 24).stride;
    RowTable table;
    if (!table.Reserve(height)) return OutOfMemory;
    uint8_t* const pixels = image.pixels();
    for (uint32_t r = 0; r < height; ++r) table[r] = {pixels + r * destinationStride, pixels + r * sourceStride};
    // The last step that can fail, before any pixel is written.
    const PluginStatus status = image.ReformatInPlace(24);
    if (status != Success) return status;

    const AlphaRows rows{&table, width, {background[0], background[1], background[2], 0}};
    ForEachRowInPlace(height, sourceStride, destinationStride,
                      alphaMode == kAlphaComposite ? CompositeRowBody : RemoveRowBody, rows, workers);
    return Success;
}
