// Size, density and colour depth of a PNG picture, read without decoding its pixels.
#pragma once

#include "plugin/HostRecords.h"

#include <wincodec.h>

// Pixels per metre from dots per inch, truncated; only the low 16 bits are kept.
uint16_t DensityFromDpi(double dpi);

// Fills `info` from frame 0 of a PNG decoder; on any failure `info` is left untouched.
// `textInfo` is never written.
PluginStatus ReadPictureInfo(IWICBitmapDecoder* decoder, PictureInfo& info);

// The same from a named file or from a memory block, each in a context of its own.
PluginStatus ReadPictureInfoFromFile(const wchar_t* fileName, PictureInfo& info);
PluginStatus ReadPictureInfoFromMemory(const void* bytes, LengthOrOffset length, PictureInfo& info);
