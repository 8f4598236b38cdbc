// SSE2 for the row bodies: every processor the plug-in runs on has it, but the 32-bit
// compiler does not assume it, so functions that use it say so.
#pragma once

#include <emmintrin.h>

#define SSE2_FUNCTION __attribute__((target("sse2")))
