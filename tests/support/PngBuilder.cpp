// Builds small PNG files byte by byte.
#include "tests/support/PngBuilder.h"

#include <algorithm>

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0xFFFFFFFFu) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

// Appends byte by byte: GCC 12 misreads vector::insert of short ranges as overflowing.
template <class Range>
void Append(std::vector<uint8_t>& out, const Range& bytes) {
    for (uint8_t byte : bytes) out.push_back(byte);
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

int ChannelCount(uint8_t colorType) {
    switch (colorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
    }
}

}  // namespace

size_t PngRowBytes(const PngSpec& spec) {
    return (size_t(spec.width) * ChannelCount(spec.colorType) * spec.bitDepth + 7) / 8;
}

std::vector<uint8_t> PngChunk(const std::string& type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> chunk;
    PutBigEndian(chunk, uint32_t(data.size()));
    Append(chunk, type);
    Append(chunk, data);
    PutBigEndian(chunk, ~Crc32(chunk.data() + 4, chunk.size() - 4));
    return chunk;
}

std::vector<uint8_t> ZlibStored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t offset = 0;
    do {
        const size_t size = std::min<size_t>(65535, raw.size() - offset);
        const bool last = offset + size == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(uint8_t(size));
        out.push_back(uint8_t(size >> 8));
        out.push_back(uint8_t(~size));
        out.push_back(uint8_t(~size >> 8));
        for (size_t i = 0; i < size; ++i) out.push_back(raw[offset + i]);
        offset += size;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(out, (b << 16) | a);
    return out;
}

std::vector<uint8_t> BuildPng(const PngSpec& spec) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    PutBigEndian(header, spec.width);
    PutBigEndian(header, spec.height);
    for (uint8_t byte : {spec.bitDepth, spec.colorType, uint8_t(0), uint8_t(0), uint8_t(0)}) header.push_back(byte);
    auto append = [&png](const std::vector<uint8_t>& chunk) { Append(png, chunk); };
    append(PngChunk("IHDR", header));
    if (spec.pixelsPerMetreX) {
        std::vector<uint8_t> phys;
        PutBigEndian(phys, *spec.pixelsPerMetreX);
        PutBigEndian(phys, spec.pixelsPerMetreY.value_or(*spec.pixelsPerMetreX));
        phys.push_back(1);
        append(PngChunk("pHYs", phys));
    }
    if (!spec.palette.empty()) append(PngChunk("PLTE", spec.palette));
    if (!spec.transparency.empty()) append(PngChunk("tRNS", spec.transparency));
    const size_t rowBytes = PngRowBytes(spec);
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * spec.height);
    for (uint32_t y = 0; y < spec.height; ++y) {
        raw.push_back(0);  // filter: none
        for (size_t x = 0; x < rowBytes; ++x) {
            const size_t at = size_t(y) * rowBytes + x;
            raw.push_back(at < spec.rows.size() ? spec.rows[at] : 0);
        }
    }
    append(PngChunk("IDAT", ZlibStored(raw)));
    append(PngChunk("IEND", {}));
    return png;
}
