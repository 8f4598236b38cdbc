// Reorders the working bitmap's rows from top-down (as decoded) to bottom-up (as handed over).
#pragma once

#include "bitmap/DibImage.h"
#include "bitmap/RowLoop.h"

// Replaces the image by a copy with its rows in reverse order, padding bytes travelling
// with their rows and the palette carried over; the old block goes through `spareBlock`.
// 8 for an incomplete image; 4 when memory is short. On failure the image and the spare
// slot are unchanged. `workers` chooses the row loop (see ForEachRow).
PluginStatus FlipToBottomUp(DibImage& image, UniqueHlocal& spareBlock,
                            unsigned workers = kAutomaticWorkers);

// Reverses the order of the image's rows within its own pixel block, padding bytes
// travelling with their rows. Nothing is allocated, so nothing can run short, and no page
// that the picture has not touched yet is written. 8 for an incomplete image (left as it
// was). `workers` chooses the row loop.
PluginStatus FlipToBottomUpInPlace(DibImage& image, unsigned workers = kAutomaticWorkers);
