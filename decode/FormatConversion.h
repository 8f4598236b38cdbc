// Converting a frame to the pixel format the output bitmap holds, completing the
// platform's converter where it refuses a target it should deliver.
#pragma once

#include "decode/ImagingContext.h"

// A converter is initialised exactly like this, whatever the formats.
HRESULT InitializeConverter(IWICFormatConverter* converter, IWICBitmapSource* source, const GUID& target);

// True for the codes by which the platform's converter refuses a pair of formats.
bool IsConversionRefused(HRESULT hr);

// Gives a source delivering `frame`'s pixels as `target`: a platform converter when it
// delivers the target, otherwise two converters chained through 32bppBGRA, or, for the
// 4-bit targets of 2-bit frames, our own repacking source. Failures that are not a
// refusal are reported as the mapped status.
PluginStatus ConvertFrame(const ImagingContext& context, IWICBitmapSource* frame, const GUID& frameFormat,
                          const GUID& target, ComPtr<IWICBitmapSource>& converted);

// A bitmap source that widens 2-bit samples to 4 bits: an index i stays i (the frame's
// palette is passed on), a gray level g becomes 5g. `target` is 4bppIndexed or 4bppGray.
ComPtr<IWICBitmapSource> MakeTwoBitWidener(IWICBitmapSource* frame, const GUID& target);
