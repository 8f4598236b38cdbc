// The picture decoding pipeline behind GetPicture: from an opened decoder to the two
// local-memory blocks the host receives, with progress reports and cancellation.
#pragma once

#include "decode/ImagingContext.h"

#include <cstdint>
#include <vector>

// Calls the host's progress function at `point` of 100; true when the host asked to stop.
bool ProgressStop(ProgressCallback progress, int point, LONG_PTR userData);

// The palette of a source of `bitsPerPixel` <= 8: its own colours (at most 2^bpp), then a
// gray ramp and white up to exactly 2^bpp entries. Palette failures are absorbed.
// Throws std::bad_alloc only.
std::vector<uint32_t> BuildPalette(IWICImagingFactory* factory, IWICBitmapSource* source, int32_t bitsPerPixel);

// Decodes frame 0 of a PNG decoder into a bottom-up DIB. On 0 (and on a stop at the final
// report, status 1) the two blocks are stored in the out-parameters and belong to the
// host; on every other result the out-parameters are untouched and everything is freed.
PluginStatus DecodePicture(HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut, const ImagingContext& context,
                           IWICBitmapDecoder* decoder, ProgressCallback progress, LONG_PTR userData);

// GetPicture's work after the argument checks: reports 0 and 10, opens the source in a
// context of its own and runs DecodePicture.
PluginStatus DecodePictureFromFile(const wchar_t* fileName, HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut,
                                   ProgressCallback progress, LONG_PTR userData);
PluginStatus DecodePictureFromMemory(const void* bytes, LengthOrOffset length, HLOCAL* headerHandleOut,
                                     HLOCAL* bitsHandleOut, ProgressCallback progress, LONG_PTR userData);
