// Reads the two blocks a plug-in hands to its host back into plain pixels.
#include "tests/support/DibReader.h"

#include <cstring>

bool ReadDib(HLOCAL infoBlock, HLOCAL bitsBlock, DecodedDib& dib) {
    if (!infoBlock || !bitsBlock) return false;
    dib.infoBlockSize = LocalSize(infoBlock);
    dib.bitsBlockSize = LocalSize(bitsBlock);
    if (dib.infoBlockSize < sizeof(BITMAPINFOHEADER)) return false;
    const auto* info = static_cast<const uint8_t*>(LocalLock(infoBlock));
    std::memcpy(&dib.header, info, sizeof dib.header);
    const size_t tableBytes = size_t(dib.header.biClrUsed) * 4;
    if (sizeof dib.header + tableBytes > dib.infoBlockSize) {
        LocalUnlock(infoBlock);
        return false;
    }
    dib.colourTable.resize(dib.header.biClrUsed);
    if (tableBytes) std::memcpy(dib.colourTable.data(), info + sizeof dib.header, tableBytes);
    LocalUnlock(infoBlock);

    dib.stride = ((size_t(dib.header.biWidth) * dib.header.biBitCount + 31) / 32) * 4;
    const size_t rowBytes = dib.stride * size_t(dib.header.biHeight);
    if (rowBytes > dib.bitsBlockSize) return false;
    dib.rows.resize(rowBytes);
    const auto* bits = static_cast<const uint8_t*>(LocalLock(bitsBlock));
    if (rowBytes) std::memcpy(dib.rows.data(), bits, rowBytes);
    LocalUnlock(bitsBlock);
    return true;
}

void DecodedDib::Pixel(uint32_t x, uint32_t y, uint8_t& blue, uint8_t& green, uint8_t& red) const {
    const uint8_t* row = rows.data() + stride * (size_t(header.biHeight) - 1 - y);
    const int bpp = header.biBitCount;
    if (bpp <= 8) {
        const size_t bit = size_t(x) * bpp;
        const unsigned index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        const uint32_t entry = index < colourTable.size() ? colourTable[index] : 0;
        blue = uint8_t(entry);
        green = uint8_t(entry >> 8);
        red = uint8_t(entry >> 16);
        return;
    }
    if (bpp == 16) {  // 5-5-5
        const unsigned v = row[x * 2] | (row[x * 2 + 1] << 8);
        blue = uint8_t(((v & 31) * 255) / 31);
        green = uint8_t((((v >> 5) & 31) * 255) / 31);
        red = uint8_t((((v >> 10) & 31) * 255) / 31);
        return;
    }
    const uint8_t* p = row + size_t(x) * (bpp / 8);
    blue = p[0];
    green = p[1];
    red = p[2];
}

std::vector<uint8_t> DecodedDib::VisibleBgr() const {
    std::vector<uint8_t> out;
    out.reserve(size_t(header.biWidth) * header.biHeight * 3);
    for (int32_t y = 0; y < header.biHeight; ++y)
        for (int32_t x = 0; x < header.biWidth; ++x) {
            uint8_t b, g, r;
            Pixel(uint32_t(x), uint32_t(y), b, g, r);
            out.push_back(b);
            out.push_back(g);
            out.push_back(r);
        }
    return out;
}

std::string DecodedDib::Fingerprint() const {
    std::string text(reinterpret_cast<const char*>(&header), sizeof header);
    text.append(reinterpret_cast<const char*>(colourTable.data()), colourTable.size() * 4);
    const size_t visible = (size_t(header.biWidth) * header.biBitCount + 7) / 8;
    for (int32_t y = 0; y < header.biHeight; ++y) {
        const uint8_t* row = rows.data() + stride * size_t(y);
        text.append(reinterpret_cast<const char*>(row), visible);
        // Bits of a partly used last byte carry no pixel.
        const unsigned usedBits = unsigned(size_t(header.biWidth) * header.biBitCount % 8);
        if (usedBits) text.back() = char(uint8_t(text.back()) & uint8_t(0xFF00 >> usedBits));
    }
    return text;
}
