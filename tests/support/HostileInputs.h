// Damaged and misleading picture files, made deterministically from good ones: what a
// viewer meets in the wild, for the reliability tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One input: the host passes `bytes` with the length `length` (which may be shorter than
// the bytes: a host that reads less than the data), and a file holds the first `length`.
struct HostileInput {
    std::string name;  // what was done to which picture, for failure messages
    std::vector<uint8_t> bytes;
    size_t length = 0;
};

// A chunk of a PNG file: `offset` is where its length field starts.
struct PngChunkSpan {
    size_t offset = 0;
    uint32_t length = 0;
    std::string type;
    size_t dataOffset() const { return offset + 8; }
    size_t crcOffset() const { return offset + 8 + length; }
    size_t end() const { return offset + 12 + length; }
};

// The chunks after the signature, as far as the file holds whole chunk headers.
std::vector<PngChunkSpan> ListPngChunks(const std::vector<uint8_t>& png);
// Recomputes the CRC of `chunk` so that damage inside it reaches the parser.
void RepairPngCrc(std::vector<uint8_t>& png, const PngChunkSpan& chunk);

// Every damage below, for one good PNG `png` called `name`. `seed` makes the random
// choices of bit flips and garbage repeatable.
std::vector<HostileInput> Truncations(const std::string& name, const std::vector<uint8_t>& png, bool everyByte);
std::vector<HostileInput> BitFlips(const std::string& name, const std::vector<uint8_t>& png, int count,
                                   uint32_t seed);
std::vector<HostileInput> CrcErrors(const std::string& name, const std::vector<uint8_t>& png);
std::vector<HostileInput> HeaderSizes(const std::string& name, const std::vector<uint8_t>& png);
std::vector<HostileInput> HeaderFieldFlips(const std::string& name, const std::vector<uint8_t>& png);

// Pictures built byte by byte: impossible depth and colour-type pairs, broken palettes,
// broken zlib streams, image data too short or too long, missing and misplaced chunks.
std::vector<HostileInput> DepthColourPairs();
std::vector<HostileInput> BrokenZlibStreams(uint32_t seed);
std::vector<HostileInput> ImageDataLengths();
std::vector<HostileInput> ChunkOrder();

// Other containers, made with the platform's own encoders, and PNG signatures in front of them.
std::vector<HostileInput> OtherContainers();

// An input the host passes whole.
HostileInput WholeInput(std::string name, std::vector<uint8_t> bytes);
