// Reads the two blocks a plug-in hands to its host back into plain pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct DecodedDib {
    BITMAPINFOHEADER header{};
    std::vector<uint32_t> colourTable;  // biClrUsed entries as stored (blue, green, red, alpha bytes)
    std::vector<uint8_t> rows;          // as stored: bottom row first, `stride` bytes each
    size_t stride = 0;
    size_t bitsBlockSize = 0;           // LocalSize of the pixel block
    size_t infoBlockSize = 0;           // LocalSize of the info block

    // Blue, green, red of pixel (x, y), y counted from the top, through the colour table
    // for indexed depths.
    void Pixel(uint32_t x, uint32_t y, uint8_t& blue, uint8_t& green, uint8_t& red) const;
    // The visible part of every row (no padding), top row first, 3 bytes per pixel.
    std::vector<uint8_t> VisibleBgr() const;
    // Header, colour table and the visible bytes of the rows, for comparing two decodes.
    std::string Fingerprint() const;
};

// Copies the blocks into a DecodedDib; false when they are inconsistent.
bool ReadDib(HLOCAL infoBlock, HLOCAL bitsBlock, DecodedDib& dib);
