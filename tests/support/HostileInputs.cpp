// Damaged and misleading picture files, made deterministically from good ones.
#include "tests/support/HostileInputs.h"

#include "tests/support/PngBuilder.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>

namespace {

const std::vector<uint8_t> kSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

uint32_t ReadBigEndian(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

void WriteBigEndian(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (24 - 8 * i));
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

template <class Range>
void Append(std::vector<uint8_t>& out, const Range& bytes) {
    for (uint8_t byte : bytes) out.push_back(byte);
}

std::string ToString(uint64_t value) { return std::to_string(value); }

const PngChunkSpan* FindChunk(const std::vector<PngChunkSpan>& chunks, const std::string& type) {
    for (const PngChunkSpan& chunk : chunks)
        if (chunk.type == type) return &chunk;
    return nullptr;
}

// A PNG of the signature and the given chunks.
std::vector<uint8_t> Assemble(const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<uint8_t> png = kSignature;
    for (const auto& chunk : chunks) Append(png, chunk);
    return png;
}

std::vector<uint8_t> HeaderData(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
                                uint8_t interlace = 0) {
    std::vector<uint8_t> data(13, 0);
    WriteBigEndian(data, 0, width);
    WriteBigEndian(data, 4, height);
    data[8] = depth;
    data[9] = colourType;
    data[12] = interlace;
    return data;
}

// Raw scanlines (filter byte 0 and `rowBytes` bytes each) of a recognisable pattern.
std::vector<uint8_t> RawRows(size_t rows, size_t rowBytes, uint8_t filter = 0) {
    std::vector<uint8_t> raw;
    for (size_t y = 0; y < rows; ++y) {
        raw.push_back(filter);
        for (size_t x = 0; x < rowBytes; ++x) raw.push_back(uint8_t(x * 7 + y * 13));
    }
    return raw;
}

// Writes a deflate bit stream: fields least significant bit first, Huffman codes most
// significant bit first.
class BitWriter {
public:
    void Bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
    }
    void Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
    }
    // A symbol of the fixed literal/length code.
    void FixedSymbol(unsigned symbol) {
        if (symbol < 144) Code(0x30 + symbol, 8);
        else if (symbol < 256) Code(0x190 + symbol - 144, 9);
        else if (symbol < 280) Code(symbol - 256, 7);
        else Code(0xC0 + symbol - 280, 8);
    }
    std::vector<uint8_t> Finish() {
        if (used_) bytes_.push_back(current_);
        used_ = 0;
        current_ = 0;
        return bytes_;
    }

private:
    void Bit(uint32_t bit) {
        current_ |= uint8_t(bit << used_);
        if (++used_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            used_ = 0;
        }
    }
    std::vector<uint8_t> bytes_;
    uint8_t current_ = 0;
    int used_ = 0;
};

std::vector<uint8_t> ZlibAround(const std::vector<uint8_t>& deflate, uint32_t adler) {
    std::vector<uint8_t> out = {0x78, 0x01};
    Append(out, deflate);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(adler >> shift));
    return out;
}

// `bytes` zero bytes as one fixed-code block: a literal, then runs of 258 copies.
std::vector<uint8_t> ZlibZeros(size_t bytes) {
    BitWriter writer;
    writer.Bits(1, 1);  // final block
    writer.Bits(1, 2);  // fixed codes
    size_t written = 0;
    if (bytes > 0) {
        writer.FixedSymbol(0);
        written = 1;
    }
    while (bytes - written >= 258) {
        writer.FixedSymbol(285);  // length 258
        writer.Code(0, 5);        // distance 1
        written += 258;
    }
    while (written < bytes) {
        writer.FixedSymbol(0);
        ++written;
    }
    writer.FixedSymbol(256);
    // Adler-32 of n zero bytes: a = 1, b = n mod 65521.
    return ZlibAround(writer.Finish(), uint32_t(bytes % 65521) << 16 | 1);
}

// An 8 x 8 RGB picture with the given zlib stream as its only IDAT.
std::vector<uint8_t> RgbWithIdat(const std::vector<uint8_t>& zlib) {
    return Assemble({PngChunk("IHDR", HeaderData(8, 8, 8, 2)), PngChunk("IDAT", zlib), PngChunk("IEND", {})});
}

void Add(std::vector<HostileInput>& inputs, std::string name, std::vector<uint8_t> bytes) {
    inputs.push_back(WholeInput(std::move(name), std::move(bytes)));
}

}  // namespace

HostileInput WholeInput(std::string name, std::vector<uint8_t> bytes) {
    HostileInput input;
    input.name = std::move(name);
    input.length = bytes.size();
    input.bytes = std::move(bytes);
    return input;
}

std::vector<PngChunkSpan> ListPngChunks(const std::vector<uint8_t>& png) {
    std::vector<PngChunkSpan> chunks;
    size_t at = kSignature.size();
    while (at + 8 <= png.size()) {
        PngChunkSpan chunk;
        chunk.offset = at;
        chunk.length = ReadBigEndian(png, at);
        chunk.type.assign(png.begin() + at + 4, png.begin() + at + 8);
        chunks.push_back(chunk);
        if (uint64_t(at) + 12 + chunk.length > png.size()) break;
        at = chunk.end();
    }
    return chunks;
}

void RepairPngCrc(std::vector<uint8_t>& png, const PngChunkSpan& chunk) {
    if (chunk.end() > png.size()) return;
    WriteBigEndian(png, chunk.crcOffset(), Crc32(png.data() + chunk.offset + 4, size_t(chunk.length) + 4));
}

std::vector<HostileInput> Truncations(const std::string& name, const std::vector<uint8_t>& png, bool everyByte) {
    std::set<size_t> cuts = {0, 1, 4, 7, 8};
    if (everyByte) {
        for (size_t cut = 0; cut < png.size(); ++cut) cuts.insert(cut);
    } else {
        for (const PngChunkSpan& chunk : ListPngChunks(png)) {
            // At the chunk's boundary, after its length, after its type, inside its data,
            // before and inside its CRC.
            for (size_t cut : {chunk.offset, chunk.offset + 4, chunk.offset + 8, chunk.dataOffset() + chunk.length / 2,
                               chunk.crcOffset() - 1, chunk.crcOffset(), chunk.crcOffset() + 2})
                cuts.insert(cut);
        }
        cuts.insert(png.size() - 1);
    }
    std::vector<HostileInput> inputs;
    for (size_t cut : cuts) {
        if (cut >= png.size()) continue;
        HostileInput input;
        input.name = name + " cut to " + ToString(cut) + " of " + ToString(png.size()) + " bytes";
        input.bytes = png;  // the host's block holds the whole file; it says less
        input.length = cut;
        inputs.push_back(std::move(input));
    }
    return inputs;
}

std::vector<HostileInput> BitFlips(const std::string& name, const std::vector<uint8_t>& png, int count,
                                   uint32_t seed) {
    std::mt19937 random(seed);
    const std::vector<PngChunkSpan> chunks = ListPngChunks(png);
    const PngChunkSpan* idat = FindChunk(chunks, "IDAT");
    std::vector<HostileInput> inputs;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> bytes = png;
        // Every other flip lands in the image data with its CRC made right again, so that
        // the damage reaches the zlib stream and the rows.
        const bool inImageData = i % 2 == 1 && idat && idat->length > 0;
        const size_t at = inImageData ? idat->dataOffset() + random() % idat->length : random() % png.size();
        const int bit = int(random() % 8);
        bytes[at] ^= uint8_t(1u << bit);
        std::string what = name + " bit " + std::to_string(bit) + " of byte " + ToString(at) + " flipped";
        if (inImageData) {
            RepairPngCrc(bytes, *idat);
            what += ", CRC repaired";
        }
        Add(inputs, std::move(what), std::move(bytes));
    }
    return inputs;
}

std::vector<HostileInput> CrcErrors(const std::string& name, const std::vector<uint8_t>& png) {
    std::vector<HostileInput> inputs;
    for (const PngChunkSpan& chunk : ListPngChunks(png)) {
        if (chunk.end() > png.size()) continue;
        std::vector<uint8_t> bytes = png;
        bytes[chunk.crcOffset() + 3] ^= 0x01;
        Add(inputs, name + " wrong CRC of " + chunk.type + " at " + ToString(chunk.offset), std::move(bytes));
    }
    return inputs;
}

std::vector<HostileInput> HeaderSizes(const std::string& name, const std::vector<uint8_t>& png) {
    const std::vector<PngChunkSpan> chunks = ListPngChunks(png);
    const PngChunkSpan* ihdr = FindChunk(chunks, "IHDR");
    if (!ihdr || ihdr->length < 13) throw std::runtime_error("no IHDR in " + name);
    const uint32_t sides[] = {0, 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (uint32_t width : sides)
        for (uint32_t height : sides) sizes.emplace_back(width, height);
    // Sides a decoder may accept whose pixel block cannot be represented in 32 bits or
    // allocated: 4 GiB and more at any depth, 2^31 rows of one pixel, one row of 2^30.
    for (auto size : {std::pair{0x10000u, 0x10000u}, {1000000u, 1000000u}, {46341u, 46341u}, {0x40000000u, 4u},
                      {4u, 0x40000000u}, {0x20000000u, 1u}, {1u, 0x7FFFFFFFu}, {30000u, 30000u}})
        sizes.push_back(size);
    std::vector<HostileInput> inputs;
    for (auto [width, height] : sizes) {
        std::vector<uint8_t> bytes = png;
        WriteBigEndian(bytes, ihdr->dataOffset(), width);
        WriteBigEndian(bytes, ihdr->dataOffset() + 4, height);
        RepairPngCrc(bytes, *ihdr);
        Add(inputs, name + " header says " + ToString(width) + " x " + ToString(height), std::move(bytes));
    }
    return inputs;
}

std::vector<HostileInput> HeaderFieldFlips(const std::string& name, const std::vector<uint8_t>& png) {
    const std::vector<PngChunkSpan> chunks = ListPngChunks(png);
    const PngChunkSpan* ihdr = FindChunk(chunks, "IHDR");
    if (!ihdr || ihdr->length < 13) throw std::runtime_error("no IHDR in " + name);
    struct Field {
        const char* name;
        size_t offset;
        std::vector<uint8_t> values;
    };
    const Field fields[] = {
        {"bit depth", 8, {0, 3, 5, 7, 9, 15, 17, 32, 255}},
        {"colour type", 9, {1, 5, 7, 8, 255}},
        {"compression method", 10, {1, 8, 255}},
        {"filter method", 11, {1, 64, 255}},
        {"interlace method", 12, {1, 2, 255}},
    };
    std::vector<HostileInput> inputs;
    for (const Field& field : fields)
        for (uint8_t value : field.values) {
            std::vector<uint8_t> bytes = png;
            bytes[ihdr->dataOffset() + field.offset] = value;
            RepairPngCrc(bytes, *ihdr);
            Add(inputs, name + " " + field.name + " " + std::to_string(value), std::move(bytes));
        }
    return inputs;
}

std::vector<HostileInput> DepthColourPairs() {
    const std::set<std::pair<int, int>> valid = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                                 {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    std::vector<HostileInput> inputs;
    for (int colourType : {0, 1, 2, 3, 4, 5, 6, 7, 255})
        for (int depth : {0, 1, 2, 3, 4, 5, 8, 12, 16, 32, 255}) {
            if (valid.count({colourType, depth})) continue;
            PngSpec spec;
            spec.width = 4;
            spec.height = 4;
            spec.bitDepth = uint8_t(depth);
            spec.colorType = uint8_t(colourType);
            if (colourType == 3) spec.palette = {0, 0, 0, 255, 255, 255};
            Add(inputs, "colour type " + std::to_string(colourType) + " at depth " + std::to_string(depth),
                BuildPng(spec));
        }

    // Palettes that do not fit the picture.
    PngSpec indexed;
    indexed.width = 16;
    indexed.height = 16;
    indexed.colorType = 3;
    for (uint32_t i = 0; i < 256; ++i) indexed.rows.push_back(uint8_t(i));
    auto paletteOf = [](size_t bytes) {
        std::vector<uint8_t> palette;
        for (size_t i = 0; i < bytes; ++i) palette.push_back(uint8_t(i * 37));
        return palette;
    };
    PngSpec spec = indexed;
    Add(inputs, "palette picture without PLTE", BuildPng(spec));
    for (size_t bytes : {size_t(3), size_t(6), size_t(10), size_t(768), size_t(771), size_t(3000)}) {
        spec = indexed;
        spec.palette = paletteOf(bytes);
        Add(inputs, "indices 0 to 255 with a PLTE of " + ToString(bytes) + " bytes", BuildPng(spec));
    }
    spec = indexed;
    spec.palette = paletteOf(6);
    spec.transparency = std::vector<uint8_t>(300, 0x80);
    Add(inputs, "tRNS longer than the palette", BuildPng(spec));
    PngSpec rgba;
    rgba.width = 4;
    rgba.height = 4;
    rgba.colorType = 6;
    rgba.transparency = {0, 1, 0, 2, 0, 3};
    Add(inputs, "tRNS in an RGBA picture", BuildPng(rgba));
    PngSpec gray;
    gray.width = 4;
    gray.height = 4;
    gray.colorType = 0;
    gray.palette = paletteOf(6);
    gray.transparency = {0, 1, 2, 3, 4};
    Add(inputs, "PLTE and an odd tRNS in a gray picture", BuildPng(gray));
    return inputs;
}

std::vector<HostileInput> BrokenZlibStreams(uint32_t seed) {
    const std::vector<uint8_t> raw = RawRows(8, 24);
    const std::vector<uint8_t> good = ZlibStored(raw);
    std::vector<HostileInput> inputs;
    auto variant = [&](const std::string& what, auto change) {
        std::vector<uint8_t> zlib = good;
        change(zlib);
        Add(inputs, "zlib: " + what, RgbWithIdat(zlib));
    };
    variant("method 7", [](auto& z) { z[0] = 0x77; z[1] = uint8_t(31 - (0x7700 % 31)); });
    variant("window of 64 KiB", [](auto& z) { z[0] = 0x88; z[1] = uint8_t(31 - (0x8800 % 31)); });
    variant("header check wrong", [](auto& z) { z[1] = 0x00; });
    variant("preset dictionary asked for", [](auto& z) {
        z[1] = 0x20;
        z[1] = uint8_t(z[1] + 31 - ((0x78 << 8 | z[1]) % 31));
        z.insert(z.begin() + 2, {0x12, 0x34, 0x56, 0x78});
    });
    variant("stored length and its complement disagree", [](auto& z) { z[5] ^= 0xFF; });
    variant("stored length longer than the stream", [](auto& z) { z[3] = 0xFF; z[4] = 0x7F; z[5] = 0x00; z[6] = 0x80; });
    variant("reserved block type", [](auto& z) { z[2] = 0x07; });
    variant("Adler-32 wrong", [](auto& z) { z.back() ^= 0x55; });
    variant("Adler-32 missing", [](auto& z) { z.resize(z.size() - 4); });
    variant("stream cut in the middle", [](auto& z) { z.resize(z.size() / 2); });
    variant("no final block", [](auto& z) { z[2] = 0x00; });
    variant("garbage after the stream", [](auto& z) { for (int i = 0; i < 64; ++i) z.push_back(uint8_t(i * 5)); });
    variant("only the header", [](auto& z) { z.resize(2); });
    variant("empty", [](auto& z) { z.clear(); });

    // A copy from before the start of the output.
    BitWriter farBack;
    farBack.Bits(1, 1);
    farBack.Bits(1, 2);
    farBack.FixedSymbol(257);  // length 3
    farBack.Code(0, 5);        // distance 1, with nothing written yet
    farBack.FixedSymbol(256);
    Add(inputs, "zlib: distance beyond the start", RgbWithIdat(ZlibAround(farBack.Finish(), 1)));
    // Distance codes 30 and 31 do not exist.
    BitWriter badDistance;
    badDistance.Bits(1, 1);
    badDistance.Bits(1, 2);
    badDistance.FixedSymbol(0);
    badDistance.FixedSymbol(257);
    badDistance.Code(30, 5);
    badDistance.FixedSymbol(256);
    Add(inputs, "zlib: distance code 30", RgbWithIdat(ZlibAround(badDistance.Finish(), 1)));
    // A dynamic block whose code lengths describe no valid code.
    BitWriter dynamic;
    dynamic.Bits(1, 1);
    dynamic.Bits(2, 2);
    dynamic.Bits(29, 5);  // 286 literal/length codes
    dynamic.Bits(29, 5);  // 30 distance codes
    dynamic.Bits(15, 4);  // 19 code length codes
    for (int i = 0; i < 19; ++i) dynamic.Bits(7, 3);  // all of length 7: over-subscribed
    Add(inputs, "zlib: over-subscribed code lengths", RgbWithIdat(ZlibAround(dynamic.Finish(), 1)));
    // Far more data than the picture needs: 16 MiB of zeros in about 100 KiB.
    Add(inputs, "zlib: 16 MiB for an 8 x 8 picture", RgbWithIdat(ZlibZeros(16u << 20)));

    // Random bytes after a valid header, in each block type.
    std::mt19937 random(seed);
    for (int i = 0; i < 24; ++i) {
        std::vector<uint8_t> zlib = {0x78, 0x9C};
        const size_t size = 4 + random() % 200;
        for (size_t j = 0; j < size; ++j) zlib.push_back(uint8_t(random()));
        zlib[2] = uint8_t((zlib[2] & ~6u) | ((i % 3) << 1));  // stored, fixed, dynamic
        Add(inputs, "zlib: " + ToString(size) + " random bytes, variant " + std::to_string(i), RgbWithIdat(zlib));
    }
    return inputs;
}

std::vector<HostileInput> ImageDataLengths() {
    std::vector<HostileInput> inputs;
    // 8 x 8 RGB needs 8 rows of 1 + 24 bytes.
    for (size_t rows : {size_t(0), size_t(1), size_t(7), size_t(9), size_t(16), size_t(4096)})
        Add(inputs, "8 x 8 RGB with " + ToString(rows) + " rows of data", RgbWithIdat(ZlibStored(RawRows(rows, 24))));
    std::vector<uint8_t> raw = RawRows(8, 24);
    raw.pop_back();
    Add(inputs, "8 x 8 RGB one byte short", RgbWithIdat(ZlibStored(raw)));
    raw = RawRows(8, 24);
    raw.push_back(0);
    Add(inputs, "8 x 8 RGB one byte long", RgbWithIdat(ZlibStored(raw)));
    for (uint8_t filter : {uint8_t(5), uint8_t(255)})
        Add(inputs, "8 x 8 RGB with filter type " + std::to_string(filter),
            RgbWithIdat(ZlibStored(RawRows(8, 24, filter))));
    // Interlaced, with the data of a plain picture (too short for the seven passes).
    Add(inputs, "interlaced 8 x 8 RGB with plain rows",
        Assemble({PngChunk("IHDR", HeaderData(8, 8, 8, 2, 1)), PngChunk("IDAT", ZlibStored(RawRows(8, 24))),
                  PngChunk("IEND", {})}));
    // Large sides with a little data: a decoder that believes the header runs out early.
    for (auto [width, height, depth, type] : {std::tuple{100000u, 100000u, 16, 6}, {65535u, 65535u, 8, 2},
                                              {20000u, 20000u, 1, 0}, {1u, 1000000u, 8, 6}})
        Add(inputs,
            std::to_string(width) + " x " + std::to_string(height) + " at depth " + std::to_string(depth) +
                ", type " + std::to_string(type) + ", with 1000 rows of zeros",
            Assemble({PngChunk("IHDR", HeaderData(width, height, uint8_t(depth), uint8_t(type))),
                      PngChunk("IDAT", ZlibZeros(1000)), PngChunk("IEND", {})}));
    return inputs;
}

std::vector<HostileInput> ChunkOrder() {
    const std::vector<uint8_t> ihdr = PngChunk("IHDR", HeaderData(8, 8, 8, 2));
    const std::vector<uint8_t> idat = PngChunk("IDAT", ZlibStored(RawRows(8, 24)));
    const std::vector<uint8_t> iend = PngChunk("IEND", {});
    std::vector<HostileInput> inputs;
    Add(inputs, "no IHDR", Assemble({idat, iend}));
    Add(inputs, "IDAT before IHDR", Assemble({idat, ihdr, iend}));
    Add(inputs, "two IHDR", Assemble({ihdr, PngChunk("IHDR", HeaderData(4, 4, 8, 0)), idat, iend}));
    Add(inputs, "no IDAT", Assemble({ihdr, iend}));
    Add(inputs, "no IEND", Assemble({ihdr, idat}));
    Add(inputs, "IDAT after IEND", Assemble({ihdr, iend, idat}));
    Add(inputs, "PLTE after IDAT", Assemble({ihdr, idat, PngChunk("PLTE", {1, 2, 3}), iend}));
    Add(inputs, "unknown critical chunk", Assemble({ihdr, PngChunk("ABCD", {1, 2, 3}), idat, iend}));
    Add(inputs, "IHDR of 12 bytes", Assemble({PngChunk("IHDR", std::vector<uint8_t>(12, 0)), idat, iend}));
    Add(inputs, "IHDR of 14 bytes", Assemble({PngChunk("IHDR", std::vector<uint8_t>(14, 1)), idat, iend}));
    // IDAT split in one-byte chunks (valid), and split by another chunk (not valid).
    std::vector<std::vector<uint8_t>> split = {ihdr};
    const std::vector<uint8_t> zlib = ZlibStored(RawRows(8, 24));
    for (uint8_t byte : zlib) split.push_back(PngChunk("IDAT", {byte}));
    split.push_back(iend);
    Add(inputs, "IDAT in one-byte chunks", Assemble(split));
    const size_t half = zlib.size() / 2;
    Add(inputs, "IDAT interrupted by tEXt",
        Assemble({ihdr, PngChunk("IDAT", std::vector<uint8_t>(zlib.begin(), zlib.begin() + long(half))),
                  PngChunk("tEXt", {'a', 0, 'b'}), PngChunk("IDAT", std::vector<uint8_t>(zlib.begin() + long(half), zlib.end())),
                  iend}));
    // Chunk lengths that run far past the file's end. For the 2 GiB tEXt, Wine's 64-bit
    // decoder allocates and reads for seconds before it fails: slow, but a clean failure.
    for (uint32_t length : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x10000u}) {
        std::vector<uint8_t> big = PngChunk("tEXt", {'a', 0, 'b'});
        WriteBigEndian(big, 0, length);
        Add(inputs, "tEXt claiming " + ToString(length) + " bytes", Assemble({ihdr, big, idat, iend}));
        std::vector<uint8_t> bigIdat = idat;
        WriteBigEndian(bigIdat, 0, length);
        Add(inputs, "IDAT claiming " + ToString(length) + " bytes", Assemble({ihdr, bigIdat, iend}));
    }
    // Each byte of the signature wrong.
    const std::vector<uint8_t> good = Assemble({ihdr, idat, iend});
    for (size_t at = 0; at < kSignature.size(); ++at) {
        std::vector<uint8_t> bytes = good;
        bytes[at] = uint8_t(bytes[at] + 1);
        Add(inputs, "signature byte " + ToString(at) + " wrong", std::move(bytes));
    }
    Add(inputs, "signature only", kSignature);
    Add(inputs, "2048 zero bytes", std::vector<uint8_t>(2048, 0));
    Add(inputs, "2048 bytes of 0xFF", std::vector<uint8_t>(2048, 0xFF));
    const std::string text = "This is a text file that says it is a PNG picture.\r\n";
    Add(inputs, "text", std::vector<uint8_t>(text.begin(), text.end()));
    return inputs;
}

std::vector<HostileInput> OtherContainers() {
    const std::pair<const char*, GUID> containers[] = {
        {"BMP", GUID_ContainerFormatBmp}, {"GIF", GUID_ContainerFormatGif}, {"JPEG", GUID_ContainerFormatJpeg},
        {"TIFF", GUID_ContainerFormatTiff}, {"ICO", GUID_ContainerFormatIco}, {"DDS", GUID_ContainerFormatDds},
        {"WMP", GUID_ContainerFormatWmp},
    };
    std::vector<HostileInput> inputs;
    for (const auto& [name, container] : containers) {
        std::vector<uint8_t> bytes;
        try {
            bytes = EncodeWithWic(container, 16, 12);
        } catch (const std::exception&) {
            continue;  // the platform has no encoder for it
        }
        Add(inputs, std::string(name) + " picture", bytes);
        std::vector<uint8_t> disguised = kSignature;
        Append(disguised, bytes);
        Add(inputs, std::string("PNG signature before a ") + name + " picture", std::move(disguised));
        // The other format's header followed by a PNG file's chunks.
        std::vector<uint8_t> mixed(bytes.begin(), bytes.begin() + long(std::min<size_t>(bytes.size(), 16)));
        const std::vector<uint8_t> png = BuildPng(PngSpec{});
        Append(mixed, std::vector<uint8_t>(png.begin() + 8, png.end()));
        Add(inputs, std::string(name) + " header before PNG chunks", std::move(mixed));
    }
    return inputs;
}
