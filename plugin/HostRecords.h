// The records, codes and function types that the host and the plug-in share.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Every export uses the Windows API calling convention (a no-op in the 64-bit build).
#define SPI_API __stdcall

// The host's result codes; internal operations return them too.
enum PluginStatus : int {
    Success = 0,
    NotImplemented = -1,
    Cancelled = 1,
    UnsupportedFormat = 2,
    OutOfMemory = 4,
    InternalError = 8,
};

// Input kinds selected by the low three bits of the picture exports' flags.
enum class InputKind : unsigned { FileInput = 0, MemoryInput = 1 };
constexpr unsigned kInputKindMask = 7;

// The host's picture record: byte-packed, the last field pointer-sized.
#pragma pack(push, 1)
struct PictureInfo {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    uint16_t xDensity;
    uint16_t yDensity;
    int16_t colorDepth;
    HLOCAL textInfo;
};
#pragma pack(pop)

static_assert(offsetof(PictureInfo, xDensity) == 16);
static_assert(offsetof(PictureInfo, colorDepth) == 20);
static_assert(offsetof(PictureInfo, textInfo) == 22);
#ifdef _WIN64
static_assert(sizeof(PictureInfo) == 30);
#else
static_assert(sizeof(PictureInfo) == 26);
#endif

// Host progress function: a non-zero answer asks the plug-in to stop.
using ProgressCallback = int(SPI_API*)(int num, int denom, LONG_PTR userData);

// Pointer-width integer of the picture exports (signed 32 or 64 bits).
using LengthOrOffset = LONG_PTR;
