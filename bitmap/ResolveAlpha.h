// Turns a 32-bit blue-green-red-alpha working bitmap into a 24-bit one, by dropping the
// alpha byte or by blending each pixel over a background colour.
#pragma once

#include "bitmap/DibImage.h"
#include "bitmap/RowLoop.h"

#include <cstdint>

// Reads the user's alpha mode and background once, then resolves as below.
PluginStatus ResolveAlpha(DibImage& image, UniqueHlocal& spareBlock);

// Mode 1 blends over `background` (blue, green, red); any other mode drops the alpha
// byte. Rows keep their order; the old block goes through `spareBlock`. 8 for an
// incomplete image or one that is not 32 bits per pixel; 4 when memory is short. On
// failure the image and the spare slot are unchanged. `workers` chooses the row loop.
PluginStatus ResolveAlpha(DibImage& image, UniqueHlocal& spareBlock, uint32_t alphaMode,
                          const uint8_t background[3], unsigned workers = kAutomaticWorkers);

// The same, written over the image's own pixel block: the 24-bit rows start where the
// 32-bit rows did, nothing but the row table is allocated and no page the picture has not
// touched yet is written. The spare slot plays no part. Same results; on failure (8, or
// 4 when memory is short) the image is unchanged.
PluginStatus ResolveAlphaInPlace(DibImage& image);
PluginStatus ResolveAlphaInPlace(DibImage& image, uint32_t alphaMode, const uint8_t background[3],
                                 unsigned workers = kAutomaticWorkers);

// x / 255 truncated, for x from 0 to 255 * 255 (the blend's numerators).
constexpr uint32_t DivideBy255(uint32_t x) { return (x + 1 + (x >> 8)) >> 8; }

// One channel of the blend: source s at alpha a over background b.
constexpr uint8_t BlendChannel(uint8_t s, uint8_t b, uint8_t a) {
    return static_cast<uint8_t>(DivideBy255(uint32_t{s} * a + uint32_t{b} * (255u - a)));
}
