// Builds small PNG files byte by byte, so tests can say exactly what a file holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PngSpec {
    uint32_t width = 1;
    uint32_t height = 1;
    uint8_t bitDepth = 8;
    uint8_t colorType = 2;             // 0 gray, 2 RGB, 3 palette, 4 gray+alpha, 6 RGBA
    std::vector<uint8_t> rows;         // packed rows without filter bytes; empty = zeros
    std::vector<uint8_t> palette;      // PLTE contents (RGB triples) for colour type 3
    std::vector<uint8_t> transparency; // tRNS contents
    std::optional<uint32_t> pixelsPerMetreX, pixelsPerMetreY;  // pHYs, unit metre
};

// Bytes per packed row of a spec (without the filter byte).
size_t PngRowBytes(const PngSpec& spec);

std::vector<uint8_t> PngChunk(const std::string& type, const std::vector<uint8_t>& data);
// A zlib stream of stored (uncompressed) blocks.
std::vector<uint8_t> ZlibStored(const std::vector<uint8_t>& raw);
std::vector<uint8_t> BuildPng(const PngSpec& spec);
