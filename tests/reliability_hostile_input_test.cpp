// Damaged and misleading files through GetPictureInfo, GetPicture and IsSupported of the
// plug-in, by file name and from memory: no crash, only the host's statuses, the host's
// record and out-parameters untouched on every failure, and file and memory input alike.
// The inputs are made from small PngSuite pictures with fixed seeds, so every run tries
// the same ones; a crash ends the process and so fails the test.
#include "tests/support/DibReader.h"
#include "tests/support/HostileInputs.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr uint32_t kSeed = 20240610;
constexpr unsigned char kRecordMarker = 0xA5;
const HLOCAL kInfoMarker = reinterpret_cast<HLOCAL>(0x11);
const HLOCAL kBitsMarker = reinterpret_cast<HLOCAL>(0x22);

// Small pictures of each kind: gray, palette, RGBA, interlaced 16-bit, tRNS, 1 x 1, image
// data in several chunks, compressed text, best compression.
const wchar_t* const kSmallPictures[] = {L"basn0g01.png", L"basn3p04.png", L"basn6a08.png", L"s01n3p01.png",
                                         L"oi4n2c16.png"};
const wchar_t* const kLargerPictures[] = {L"basi2c16.png", L"tbbn3p08.png", L"basn0g16.png",
                                          L"z09n2c08.png", L"ctzn0g04.png", L"basi3p02.png"};
// One of each depth and layout for the header edits.
const wchar_t* const kHeaderPictures[] = {L"basn0g01.png", L"basn3p04.png", L"basn6a08.png", L"basi2c16.png"};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// What the run tried and what it got, printed at the end for the README.
struct Tally {
    size_t inputs = 0;
    size_t calls = 0;
    std::map<int, size_t> statuses;
    std::map<int, size_t> supported;
};
Tally tally;

class Summary : public ::testing::Environment {
public:
    void TearDown() override {
        std::printf("[reliability] hostile inputs: %zu inputs, %zu calls, 0 crashes; statuses", tally.inputs,
                    tally.calls);
        for (auto [status, count] : tally.statuses) std::printf(" %d:%zu", status, count);
        std::printf("; IsSupported");
        for (auto [answer, count] : tally.supported) std::printf(" %d:%zu", answer, count);
        std::printf("\n");
        std::fflush(stdout);
    }
};
const auto* const summary = ::testing::AddGlobalTestEnvironment(new Summary);

bool IsHostStatus(int status) { return status == 0 || status == 2 || status == 4 || status == 8; }

bool RecordUntouched(const PictureInfo& info) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        if (bytes[i] != kRecordMarker) return false;
    return true;
}

struct PictureResult {
    int status = -1;
    DecodedDib dib;
};

class HostileInputTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        path_ = ScratchDirectory(L"reliability_hostile") + L"\\hostile.png";
    }

    // Every export on one input; `ansiFile` picks which of the ANSI and wide exports reads
    // the file (the other reads the memory block), so both kinds see both sources.
    void Try(const HostileInput& input) {
        SCOPED_TRACE(input.name);
        ++tally.inputs;
        const std::vector<uint8_t> fileBytes(input.bytes.begin(), input.bytes.begin() + long(input.length));
        ASSERT_TRUE(WriteFileBytes(path_, fileBytes));
        const bool ansiFile = tally.inputs % 2 == 0;

        PictureInfo byFile, byMemory;
        const int infoFile = PictureInfoFromFile(ansiFile, byFile);
        const int infoMemory = PictureInfoFromMemory(!ansiFile, input, byMemory);
        EXPECT_EQ(infoFile, infoMemory) << "GetPictureInfo: file and memory input differ";
        if (infoFile == 0 && infoMemory == 0) {
            EXPECT_EQ(std::memcmp(&byFile, &byMemory, sizeof byFile), 0);
        }

        const PictureResult pictureFile = PictureFromFile(!ansiFile);
        const PictureResult pictureMemory = PictureFromMemory(ansiFile, input);
        EXPECT_EQ(pictureFile.status, pictureMemory.status) << "GetPicture: file and memory input differ";
        if (pictureFile.status == 0 && pictureMemory.status == 0) {
            EXPECT_TRUE(pictureFile.dib.Fingerprint() == pictureMemory.dib.Fingerprint());
        }
        if (pictureFile.status == 0 && infoFile == 0) {
            EXPECT_EQ(pictureFile.dib.header.biWidth, byFile.width);
            EXPECT_EQ(pictureFile.dib.header.biHeight, byFile.height);
        }

        // A picture that decodes is one the host is told it can read.
        const int byHeader = SupportedByHeader(input);
        const int byHandle = SupportedByHandle();
        if (pictureFile.status == 0) {
            EXPECT_EQ(byHeader, 1);
            EXPECT_EQ(byHandle, 1);
        }
    }

private:
    static void Count(int status) {
        ++tally.calls;
        ++tally.statuses[status];
    }

    int PictureInfoFromFile(bool ansi, PictureInfo& info) {
        std::memset(&info, kRecordMarker, sizeof info);
        const int status = ansi ? Plugin().GetPictureInfo(Narrow(path_).c_str(), 0, 0, &info)
                                : Plugin().GetPictureInfoW(path_.c_str(), 0, 0, &info);
        CheckInfo(status, info, "GetPictureInfo by file");
        return status;
    }

    int PictureInfoFromMemory(bool ansi, const HostileInput& input, PictureInfo& info) {
        std::memset(&info, kRecordMarker, sizeof info);
        const void* bytes = input.bytes.data();
        const auto length = LengthOrOffset(input.length);
        const int status = ansi ? Plugin().GetPictureInfo(static_cast<LPCSTR>(bytes), length, 1, &info)
                                : Plugin().GetPictureInfoW(static_cast<LPCWSTR>(bytes), length, 1, &info);
        CheckInfo(status, info, "GetPictureInfo from memory");
        return status;
    }

    static void CheckInfo(int status, const PictureInfo& info, const char* call) {
        Count(status);
        EXPECT_TRUE(IsHostStatus(status)) << call << ": status " << Hex(status);
        if (status != 0) {
            EXPECT_TRUE(RecordUntouched(info)) << call << " failed with " << status << " but wrote the record";
        } else {
            EXPECT_EQ(info.left, 0);
            EXPECT_EQ(info.top, 0);
        }
    }

    PictureResult PictureFromFile(bool ansi) {
        HLOCAL info = kInfoMarker, bits = kBitsMarker;
        const int status = ansi ? Plugin().GetPicture(Narrow(path_).c_str(), 0, 0, &info, &bits, nullptr, 0)
                                : Plugin().GetPictureW(path_.c_str(), 0, 0, &info, &bits, nullptr, 0);
        return TakePicture(status, info, bits, "GetPicture by file");
    }

    PictureResult PictureFromMemory(bool ansi, const HostileInput& input) {
        HLOCAL info = kInfoMarker, bits = kBitsMarker;
        const void* bytes = input.bytes.data();
        const auto length = LengthOrOffset(input.length);
        const int status =
            ansi ? Plugin().GetPicture(static_cast<LPCSTR>(bytes), length, 1, &info, &bits, nullptr, 0)
                 : Plugin().GetPictureW(static_cast<LPCWSTR>(bytes), length, 1, &info, &bits, nullptr, 0);
        return TakePicture(status, info, bits, "GetPicture from memory");
    }

    // Checks the outcome and frees what the host received.
    static PictureResult TakePicture(int status, HLOCAL info, HLOCAL bits, const char* call) {
        Count(status);
        PictureResult result;
        result.status = status;
        EXPECT_TRUE(IsHostStatus(status)) << call << ": status " << Hex(status);
        if (status != 0) {
            EXPECT_EQ(info, kInfoMarker) << call << " failed with " << status << " but wrote the out-parameters";
            EXPECT_EQ(bits, kBitsMarker) << call << " failed with " << status << " but wrote the out-parameters";
            return result;
        }
        EXPECT_TRUE(ReadDib(info, bits, result.dib)) << call << ": the blocks do not describe a bitmap";
        UniqueHlocal infoBlock(info), bitsBlock(bits);
        return result;
    }

    int SupportedByHeader(const HostileInput& input) {
        // The host reads up to 2048 bytes of the file and zero-fills the rest of its buffer.
        std::vector<uint8_t> header(2048, 0);
        std::memcpy(header.data(), input.bytes.data(), std::min<size_t>(input.length, header.size()));
        const int answer = Plugin().IsSupported(Narrow(path_).c_str(), reinterpret_cast<ULONG_PTR>(header.data()));
        CountAnswer(answer, "IsSupported with the header");
        return answer;
    }

    int SupportedByHandle() {
        UniqueFile file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(file);
        const int answer = Plugin().IsSupportedW(path_.c_str(), reinterpret_cast<ULONG_PTR>(file.get()));
        CountAnswer(answer, "IsSupportedW with a file handle");
        return answer;
    }

    static void CountAnswer(int answer, const char* call) {
        ++tally.calls;
        ++tally.supported[answer];
        EXPECT_TRUE(answer == 0 || answer == 1) << call << " answered " << answer;
    }

    // The calls run in an STA of the host, as on a viewer's window thread; the plug-in's
    // own apartment set-up is tried by the leak and thread tests.
    ComScope com_;
    static std::wstring path_;
};
std::wstring HostileInputTest::path_;

std::vector<uint8_t> Suite(const wchar_t* name) { return ReadFileBytes(SuitePath(name)); }

void TryAll(HostileInputTest& test, const std::vector<HostileInput>& inputs) {
    ASSERT_FALSE(inputs.empty());
    for (const HostileInput& input : inputs) {
        test.Try(input);
        if (test.HasFatalFailure()) return;
    }
}

TEST_F(HostileInputTest, TruncatedFiles) {
    for (const wchar_t* name : kSmallPictures) TryAll(*this, Truncations(Narrow(name), Suite(name), true));
    for (const wchar_t* name : kLargerPictures) TryAll(*this, Truncations(Narrow(name), Suite(name), false));
}

TEST_F(HostileInputTest, SingleBitFlips) {
    uint32_t seed = kSeed;
    for (const wchar_t* name : kSmallPictures) TryAll(*this, BitFlips(Narrow(name), Suite(name), 48, seed++));
    for (const wchar_t* name : kLargerPictures) TryAll(*this, BitFlips(Narrow(name), Suite(name), 32, seed++));
}

TEST_F(HostileInputTest, WrongChecksums) {
    for (const wchar_t* name : kSmallPictures) TryAll(*this, CrcErrors(Narrow(name), Suite(name)));
    for (const wchar_t* name : kLargerPictures) TryAll(*this, CrcErrors(Narrow(name), Suite(name)));
}

TEST_F(HostileInputTest, HeadersWithImpossibleSides) {
    for (const wchar_t* name : kHeaderPictures) TryAll(*this, HeaderSizes(Narrow(name), Suite(name)));
}

TEST_F(HostileInputTest, HeadersWithInvalidFields) {
    for (const wchar_t* name : kHeaderPictures) TryAll(*this, HeaderFieldFlips(Narrow(name), Suite(name)));
}

TEST_F(HostileInputTest, InvalidDepthAndColourTypePairsAndPalettes) { TryAll(*this, DepthColourPairs()); }

TEST_F(HostileInputTest, BrokenZlibStreams) { TryAll(*this, BrokenZlibStreams(kSeed)); }

TEST_F(HostileInputTest, ImageDataTooShortOrTooLong) { TryAll(*this, ImageDataLengths()); }

TEST_F(HostileInputTest, MissingAndMisplacedChunks) { TryAll(*this, ChunkOrder()); }

TEST_F(HostileInputTest, OtherContainersMadeByThePlatform) {
    const std::vector<HostileInput> inputs = OtherContainers();
    // BMP, GIF, JPEG and TIFF at least (Wine 8 has no ICO, DDS or WMP encoder), three inputs each.
    ASSERT_GE(inputs.size(), 4 * 3u);
    TryAll(*this, inputs);
}

// Names a viewer may hand over that hold no picture: a folder, missing folders, a name
// past MAX_PATH, a device name, wildcards and a trailing dot. (Not CON: reading the
// console would wait for input.)
TEST(HostileNames, NamesThatHoldNoPictureFailCleanly) {
    const std::wstring dir = ScratchDirectory(L"reliability_names");
    CreateDirectoryW((dir + L"\\folder.png").c_str(), nullptr);
    const std::wstring names[] = {
        dir + L"\\folder.png",
        dir + L"\\missing\\picture.png",
        dir + L"\\" + std::wstring(300, L'a') + L".png",
        L"\\\\?\\" + dir + L"\\" + std::wstring(300, L'b') + L".png",
        L"nul.png",
        dir + L"\\*.png",
        dir + L"\\?.png",
        dir + L"\\picture.png.",
        L".png",
    };
    std::vector<uint8_t> garbage(2048, 0x5A);
    for (const std::wstring& name : names) {
        SCOPED_TRACE(Narrow(name.substr(0, 80)));
        PictureInfo info;
        std::memset(&info, kRecordMarker, sizeof info);
        for (int ansi = 0; ansi < 2; ++ansi) {
            const int status = ansi ? Plugin().GetPictureInfo(Narrow(name).c_str(), 0, 0, &info)
                                    : Plugin().GetPictureInfoW(name.c_str(), 0, 0, &info);
            EXPECT_TRUE(status == 2 || status == 4 || status == 8) << "GetPictureInfo: " << Hex(status);
            EXPECT_TRUE(RecordUntouched(info));
            HLOCAL infoBlock = kInfoMarker, bitsBlock = kBitsMarker;
            const int picture = ansi ? Plugin().GetPicture(Narrow(name).c_str(), 0, 0, &infoBlock, &bitsBlock, nullptr, 0)
                                     : Plugin().GetPictureW(name.c_str(), 0, 0, &infoBlock, &bitsBlock, nullptr, 0);
            EXPECT_TRUE(picture == 2 || picture == 4 || picture == 8) << "GetPicture: " << Hex(picture);
            EXPECT_EQ(infoBlock, kInfoMarker);
            EXPECT_EQ(bitsBlock, kBitsMarker);
            const int supported =
                ansi ? Plugin().IsSupported(Narrow(name).c_str(), reinterpret_cast<ULONG_PTR>(garbage.data()))
                     : Plugin().IsSupportedW(name.c_str(), reinterpret_cast<ULONG_PTR>(garbage.data()));
            EXPECT_TRUE(supported == 0 || supported == 1) << supported;
            tally.calls += 3;
            ++tally.statuses[status];
            ++tally.statuses[picture];
            ++tally.supported[supported];
        }
        ++tally.inputs;
    }
}

}  // namespace
