// Every PngSuite picture through GetPicture/GetPictureW of the plug-in: the four ways of
// asking (file or memory, ANSI or wide) give one picture, it matches the suite's reference
// pixels composited over white (and with alpha removed), the two DLLs agree, and the
// damaged files fail cleanly or decode completely.
#include "tests/support/DibReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

const wchar_t kSettingsKey[] = L"Software\\Tessalind\\Vellaro.spi";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<std::wstring> SuiteFiles(bool damaged) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(SuitePath(L"*.png").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if ((name[0] == L'x') == damaged) names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The suite's reference: RGBA bytes, top row first; 16-bit pictures use their 8-bit file.
bool ReadReference(const std::wstring& png, std::vector<int>& rgba, bool& sixteenBit) {
    const std::string stem = Narrow(png.substr(0, png.size() - 4));
    const std::string dir = Narrow(DataPath(L"pngsuite\\json\\"));
    std::ifstream eight(dir + stem + "_to8.json");
    sixteenBit = eight.good();
    std::ifstream plain(dir + stem + ".json");
    std::istream& in = sixteenBit ? static_cast<std::istream&>(eight) : plain;
    if (!in.good()) return false;
    std::stringstream text;
    text << in.rdbuf();
    rgba.clear();
    const std::string numbers = text.str();
    for (const char* p = numbers.c_str(); *p;) {
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        if (end != p) { rgba.push_back(int(value)); p = end; } else { ++p; }
    }
    // A few 16-bit pictures have only 16-bit references: bring them to 8 bits.
    bool wide = false;
    for (int value : rgba) wide = wide || value > 255;
    if (wide) {
        for (int& value : rgba) value = (value * 255 + 32767) / 65535;
        sixteenBit = true;
    }
    return true;
}

struct Decoded {
    int status = -1;
    DecodedDib dib;
};

Decoded Decode(const std::wstring& name, bool memory, bool wide) {
    const PluginLibrary& plugin = Plugin();
    const std::wstring path = SuitePath(name);
    HLOCAL info = reinterpret_cast<HLOCAL>(0x11), bits = reinterpret_cast<HLOCAL>(0x22);
    Decoded out;
    if (memory) {
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        const auto length = LengthOrOffset(bytes.size());
        out.status = wide ? plugin.GetPictureW(reinterpret_cast<LPCWSTR>(bytes.data()), length, 1, &info, &bits, nullptr, 0)
                          : plugin.GetPicture(reinterpret_cast<const char*>(bytes.data()), length, 1, &info, &bits,
                                              nullptr, 0);
    } else {
        out.status = wide ? plugin.GetPictureW(path.c_str(), 0, 0, &info, &bits, nullptr, 0)
                          : plugin.GetPicture(Narrow(path).c_str(), 0, 0, &info, &bits, nullptr, 0);
    }
    if (out.status == 0) {
        EXPECT_TRUE(ReadDib(info, bits, out.dib)) << Narrow(name);
        LocalFree(info);
        LocalFree(bits);
    } else {
        EXPECT_EQ(info, reinterpret_cast<HLOCAL>(0x11)) << Narrow(name) << ": out-parameters must stay untouched";
        EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(0x22)) << Narrow(name);
    }
    return out;
}

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// Compares a decode with the reference; returns the number of channels off by more than
// `tolerance`, and describes the first.
int CountDifferences(const DecodedDib& dib, const std::vector<int>& rgba, bool removeAlpha, int tolerance,
                     std::string& first) {
    int differences = 0;
    const uint32_t width = uint32_t(dib.header.biWidth), height = uint32_t(dib.header.biHeight);
    if (rgba.size() != size_t(width) * height * 4) {
        first = "reference has " + std::to_string(rgba.size() / 4) + " pixels";
        return int(width * height * 3);
    }
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t bgr[3];
            dib.Pixel(x, y, bgr[0], bgr[1], bgr[2]);
            const int* px = &rgba[(size_t(y) * width + x) * 4];
            const int alpha = px[3];
            for (int c = 0; c < 3; ++c) {
                const int source = px[2 - c];
                const int expected = removeAlpha ? source : (source * alpha + 255 * (255 - alpha)) / 255;
                if (std::abs(expected - bgr[c]) > tolerance) {
                    if (differences++ == 0) {
                        first = "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") channel " +
                                std::to_string(c) + ": got " + std::to_string(bgr[c]) + ", reference " +
                                std::to_string(expected) + " (alpha " + std::to_string(alpha) + ")";
                    }
                }
            }
        }
    return differences;
}

// Pictures whose reference the platform's decoder does not reproduce, with the reason.
std::map<std::string, std::string> KnownDifferences() {
    std::map<std::string, std::string> known;
    std::ifstream in(Narrow(DataPath(L"conformance-differences.txt")));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find(' ');
        known[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return known;
}

class SettingsKey {
public:
    SettingsKey() { Clear(); }
    ~SettingsKey() { Clear(); }
    void SetAlpha(DWORD mode) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Alpha", REG_DWORD, &mode, sizeof mode);
    }

private:
    void Clear() {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Alpha");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Color");
    }
};

void CheckAgainstReference(bool removeAlpha) {
    const std::map<std::string, std::string> known = KnownDifferences();
    std::ostringstream digests;
    int checked = 0;
    for (const std::wstring& name : SuiteFiles(false)) {
        const std::string file = Narrow(name);
        SCOPED_TRACE(file);
        const Decoded byName = Decode(name, false, false);
        ASSERT_EQ(byName.status, 0);
        const std::string fingerprint = byName.dib.Fingerprint();
        for (auto [memory, wide] : {std::pair{false, true}, std::pair{true, false}, std::pair{true, true}}) {
            const Decoded other = Decode(name, memory, wide);
            ASSERT_EQ(other.status, 0);
            EXPECT_TRUE(other.dib.Fingerprint() == fingerprint) << "memory " << memory << " wide " << wide;
        }
        // A recycled block may be larger than the rows need; never smaller.
        EXPECT_GE(byName.dib.bitsBlockSize, byName.dib.stride * size_t(byName.dib.header.biHeight) + 4);
        digests << file << ' ' << std::hex << Fnv1a(fingerprint) << std::dec << '\n';

        std::vector<int> rgba;
        bool sixteenBit = false;
        ASSERT_TRUE(ReadReference(name, rgba, sixteenBit));
        std::string first;
        const int differences = CountDifferences(byName.dib, rgba, removeAlpha, sixteenBit ? 1 : 0, first);
        const auto reason = known.find(file);
        if (reason != known.end()) {
            EXPECT_GT(differences, 0) << "listed as differing (" << reason->second << ") but now matches";
        } else {
            EXPECT_EQ(differences, 0) << first;
        }
        ++checked;
    }
    EXPECT_GT(checked, 150);
    // Both DLLs must give the same pictures: the second architecture compares with the first.
    const std::string mode = removeAlpha ? "remove" : "composite";
    const std::string mine = Narrow(ExecutableDirectory()) + "\\..\\conformance-" + mode + "-" + Narrow(kPluginName) + ".txt";
    std::ofstream(mine) << digests.str();
    const std::string otherName = sizeof(void*) == 8 ? "Vellaro.spi" : "Vellaro.sph";
    std::ifstream other(Narrow(ExecutableDirectory()) + "\\..\\conformance-" + mode + "-" + otherName + ".txt");
    if (other.good()) {
        std::stringstream theirs;
        theirs << other.rdbuf();
        EXPECT_TRUE(theirs.str() == digests.str()) << "the 32-bit and 64-bit DLLs decode differently";
    }
}

TEST(Conformance, EveryValidPictureCompositedOverWhite) {
    SettingsKey key;
    CheckAgainstReference(false);
}

TEST(Conformance, EveryValidPictureWithAlphaRemoved) {
    SettingsKey key;
    key.SetAlpha(0);
    CheckAgainstReference(true);
}

// Damaged files the platform's decoder accepts anyway (a checksum it does not verify, say):
// these must come out as complete pictures.
const std::set<std::string> kAcceptedDamage = {
    "xcsn0g01.png",  // wrong checksum of an IDAT chunk
    "xhdn0g08.png",  // wrong checksum of the IHDR chunk
};

TEST(Conformance, DamagedFilesFailCleanlyOrDecodeCompletely) {
    for (const std::wstring& name : SuiteFiles(true)) {
        const std::string file = Narrow(name);
        SCOPED_TRACE(file);
        for (bool memory : {false, true}) {
            const Decoded decoded = Decode(name, memory, false);
            if (kAcceptedDamage.count(file)) {
                EXPECT_EQ(decoded.status, 0);
                EXPECT_GT(decoded.dib.header.biWidth, 0);
            } else {
                EXPECT_TRUE(decoded.status == 2 || decoded.status == 4 || decoded.status == 8)
                    << "status " << decoded.status;
            }
        }
    }
}

}  // namespace
