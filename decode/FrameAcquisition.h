// Frame 0 of a decoder, delivered in the pixel format the output bitmap will hold.
#pragma once

#include "decode/ImagingContext.h"

// Takes frame 0, decides whether the picture has transparency (its format, or its
// palette) and gives a source delivering 32bppBGRA for transparent pictures and the
// catalogue's output format for the others: the frame itself when it already is in that
// format, a converter otherwise.
PluginStatus AcquireFrame(const ImagingContext& context, IWICBitmapDecoder* decoder,
                          ComPtr<IWICBitmapSource>& source);
