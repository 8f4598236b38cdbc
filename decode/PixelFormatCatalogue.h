// What the plug-in knows about each platform pixel format: bits per pixel, alpha, and the
// format a frame of that kind is converted to.
#pragma once

#include <windows.h>

#include <cstdint>

struct PixelFormatEntry {
    const GUID* format;        // the platform pixel format this entry describes
    const GUID* outputFormat;  // conversion target when the frame carries no transparency
    int32_t bitsPerPixel;      // of `format`, not of `outputFormat`
    bool hasAlpha;
};

namespace PixelFormats {
// The WIC pixel formats used by name in the plug-in's own logic.
constexpr GUID Family(uint8_t last) {
    return {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, last}};
}
inline constexpr GUID kDontCare = Family(0x00);
inline constexpr GUID k1bppIndexed = Family(0x01);
inline constexpr GUID k2bppIndexed = Family(0x02);
inline constexpr GUID k4bppIndexed = Family(0x03);
inline constexpr GUID k8bppIndexed = Family(0x04);
inline constexpr GUID kBlackWhite = Family(0x05);
inline constexpr GUID k2bppGray = Family(0x06);
inline constexpr GUID k4bppGray = Family(0x07);
inline constexpr GUID k8bppGray = Family(0x08);
inline constexpr GUID k16bppBGR555 = Family(0x09);
inline constexpr GUID k16bppGray = Family(0x0b);
inline constexpr GUID k24bppBGR = Family(0x0c);
inline constexpr GUID k24bppRGB = Family(0x0d);
inline constexpr GUID k32bppBGR = Family(0x0e);
inline constexpr GUID k32bppBGRA = Family(0x0f);
inline constexpr GUID k48bppRGB = Family(0x15);
inline constexpr GUID k64bppRGBA = Family(0x16);
inline constexpr GUID k16bppBGRA5551 = {0x05ec7c2b, 0xf1e6, 0x4961, {0xad, 0x46, 0xe1, 0xcc, 0x81, 0x0a, 0x87, 0xd2}};
}  // namespace PixelFormats

// Byte-wise order of identifiers as they lie in memory.
bool GuidLess(const GUID& a, const GUID& b);
bool GuidEqual(const GUID& a, const GUID& b);

// The entry for `format`, or the fallback entry (24bppBGR output, 0 bits, no alpha) for an
// identifier the catalogue does not list. The catalogue is built on first use under its
// lock; null means memory ran out while building it, and the next call tries again.
// Entries stay valid until the library is unloaded.
const PixelFormatEntry* LookupPixelFormat(const GUID& format);

// Test hooks: how often the table was built, forgetting it, and failing the n-th node
// allocation of the next build (0 = never).
namespace PixelFormatCatalogueTesting {
int BuildCount();
void Reset();
void FailAllocation(int nth);
}  // namespace PixelFormatCatalogueTesting
