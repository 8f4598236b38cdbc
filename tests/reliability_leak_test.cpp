// Thousands of mixed good and bad calls through every export in one process: afterwards
// the process holds no more handles, window-system objects, private memory or heap blocks
// than before, within a small fixed margin. The host frees every block it receives, so a
// block the plug-in neither handed over nor freed shows up as growth of the heaps.
#include "tests/support/HostileInputs.h"
#include "tests/support/ProcessCensus.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <cstdio>
#include <functional>

namespace {

constexpr uint32_t kSeed = 20240611;
constexpr int kWarmUpRounds = 2;
constexpr int kRounds = 120;

// Growth allowed between the two counts. Caches of the platform (COM, the imaging
// component, the thread pool) fill during the warm-up; after it the counts stay put. A
// leak of one block or handle per call shows as hundreds.
constexpr int64_t kHandleMargin = 8;
constexpr int64_t kWindowObjectMargin = 2;
constexpr int64_t kPrivateBytesMargin = 8 << 20;
constexpr int64_t kHeapBlockMargin = 64;
constexpr int64_t kHeapByteMargin = 64 << 10;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const HLOCAL kInfoMarker = reinterpret_cast<HLOCAL>(0x11);
const HLOCAL kBitsMarker = reinterpret_cast<HLOCAL>(0x22);

// Stops the decode when it reports the point passed as user data.
int SPI_API StopAtPoint(int num, int, LONG_PTR point) { return num == point ? 1 : 0; }

// Opens `input` with the imaging component directly, the way the plug-in does.
void OpenWithPlatform(const HostileInput& input) {
    ComScope com;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.putVoid())))
        return;
    ComPtr<IStream> stream = ComPtr<IStream>::Attach(SHCreateMemStream(input.bytes.data(), UINT(input.length)));
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put())))
        return;
    ComPtr<IWICBitmapFrameDecode> frame;
    decoder->GetFrame(0, frame.put());
}

// True when the imaging component itself keeps memory each time it opens `input`.
bool PlatformKeepsMemory(const HostileInput& input) {
    OpenWithPlatform(input);  // the first time may fill caches
    const HeapUse before = WalkAllHeaps();
    OpenWithPlatform(input);
    const HeapUse after = WalkAllHeaps();
    return after.blocks != before.blocks || after.bytes != before.bytes;
}

// The pictures and files the calls use, made once.
struct Material {
    std::vector<uint8_t> rgba, palette, large, jpeg, truncated;
    std::wstring rgbaPath, largePath, truncatedPath, jpegPath, textPath, missingPath;
    // Damaged files, split by whether the imaging component alone keeps memory when it
    // fails on them (Wine's PNG decoder keeps its row table when the data runs out, its
    // GIF decoder the picture it had begun): those cannot be part of a zero-growth count.
    std::vector<HostileInput> hostile, platformLeaking;

    Material() {
        const std::wstring dir = ScratchDirectory(L"reliability_leak");
        rgba = ReadFileBytes(SuitePath(L"basn6a08.png"));
        palette = ReadFileBytes(SuitePath(L"basn3p04.png"));
        // Large enough that a lost pixel block per call is megabytes, and that the 32-bit
        // build's row loop runs on a team.
        large = EncodeWithWic(GUID_ContainerFormatPng, 300, 260);
        jpeg = EncodeWithWic(GUID_ContainerFormatJpeg, 40, 30);
        // Cut inside its header; cut inside the image data, it would make Wine's decoder keep
        // memory (see platformLeaking).
        truncated = std::vector<uint8_t>(large.begin(), large.begin() + 30);
        rgbaPath = SuitePath(L"basn6a08.png");
        largePath = dir + L"\\large.png";
        truncatedPath = dir + L"\\truncated.png";
        jpegPath = dir + L"\\photo.png";
        textPath = dir + L"\\text.png";
        missingPath = dir + L"\\missing.png";
        const std::string text = "not a picture";
        if (!WriteFileBytes(largePath, large) || !WriteFileBytes(truncatedPath, truncated) ||
            !WriteFileBytes(jpegPath, jpeg) || !WriteFileBytes(textPath, {text.begin(), text.end()}))
            throw std::runtime_error("cannot write the test files");
        std::vector<HostileInput> all;
        auto append = [&all](std::vector<HostileInput> more) {
            for (auto& input : more) all.push_back(std::move(input));
        };
        append(Truncations("basn0g01.png", ReadFileBytes(SuitePath(L"basn0g01.png")), false));
        append(BitFlips("basn3p04.png", palette, 40, kSeed));
        append(HeaderSizes("basn6a08.png", rgba));
        append(DepthColourPairs());
        append(BrokenZlibStreams(kSeed));
        append(ChunkOrder());
        append(OtherContainers());
        for (auto& input : all) (PlatformKeepsMemory(input) ? platformLeaking : hostile).push_back(std::move(input));
    }
};

// Runs the calls of one round; the host's part (freeing what it receives) included.
class MixedCalls {
public:
    explicit MixedCalls(const Material& material) : m_(material) {}

    size_t calls() const { return calls_; }

    void Round(int round) {
        const PluginLibrary& plugin = Plugin();
        PictureInfo info{};
        Expect(0, plugin.GetPictureInfo(Bytes(m_.rgba), Length(m_.rgba), 1, &info));
        Expect(0, plugin.GetPictureInfoW(m_.rgbaPath.c_str(), 0, 0, &info));
        Expect(0, plugin.GetPictureInfo(Narrow(m_.largePath).c_str(), 0, 0, &info));
        ExpectFailure(plugin.GetPictureInfo(Bytes(m_.truncated), Length(m_.truncated), 1, &info));
        Expect(2, plugin.GetPictureInfoW(m_.jpegPath.c_str(), 0, 0, &info));
        Expect(8, plugin.GetPictureInfo(Narrow(m_.missingPath).c_str(), 0, 0, &info));
        Expect(8, plugin.GetPictureInfo(Bytes(m_.rgba), Length(m_.rgba), 2, &info));

        Picture(0, [&](HLOCAL* i, HLOCAL* b) {
            return plugin.GetPicture(Bytes(m_.rgba), Length(m_.rgba), 1, i, b, nullptr, 0);
        });
        Picture(0, [&](HLOCAL* i, HLOCAL* b) {
            return plugin.GetPictureW(reinterpret_cast<LPCWSTR>(m_.palette.data()), Length(m_.palette), 1, i, b,
                                      nullptr, 0);
        });
        Picture(0, [&](HLOCAL* i, HLOCAL* b) {
            return plugin.GetPictureW(m_.largePath.c_str(), 0, 0, i, b, nullptr, 0);
        });
        Picture(0, [&](HLOCAL* i, HLOCAL* b) {
            return plugin.GetPicture(Bytes(m_.large), Length(m_.large), 1, i, b, nullptr, 0);
        });
        Picture(-1, [&](HLOCAL* i, HLOCAL* b) {
            return plugin.GetPicture(Narrow(m_.truncatedPath).c_str(), 0, 0, i, b, nullptr, 0);
        });
        Picture(2, [&](HLOCAL* i, HLOCAL* b) {
            return plugin.GetPicture(Bytes(m_.jpeg), Length(m_.jpeg), 1, i, b, nullptr, 0);
        });
        // Stopped at each progress point in turn; at 100 the blocks are already the host's.
        static const int kPoints[] = {0, 10, 30, 50, 60, 70, 80, 90, 100};
        const int point = kPoints[round % 9];
        Picture(1, [&](HLOCAL* i, HLOCAL* b) {
            return plugin.GetPicture(Bytes(m_.large), Length(m_.large), 1, i, b, StopAtPoint, point);
        });

        // Two hostile inputs per round, each through both picture exports.
        for (int k = 0; k < 2; ++k) {
            const HostileInput& input = m_.hostile[(size_t(round) * 2 + size_t(k)) % m_.hostile.size()];
            ExpectFailureOrSuccess(plugin.GetPictureInfo(Bytes(input.bytes), LengthOrOffset(input.length), 1, &info));
            Picture(-2, [&](HLOCAL* i, HLOCAL* b) {
                return plugin.GetPicture(Bytes(input.bytes), LengthOrOffset(input.length), 1, i, b, nullptr, 0);
            });
        }

        std::vector<uint8_t> header(2048, 0);
        std::copy_n(m_.rgba.begin(), std::min(m_.rgba.size(), header.size()), header.begin());
        Answer(1, plugin.IsSupported("picture.png", reinterpret_cast<ULONG_PTR>(header.data())));
        Answer(0, plugin.IsSupported("picture.jpg", reinterpret_cast<ULONG_PTR>(header.data())));
        std::vector<uint8_t> textHeader(2048, 'x');
        Answer(0, plugin.IsSupportedW(m_.textPath.c_str(), reinterpret_cast<ULONG_PTR>(textHeader.data())));
        Answer(1, plugin.IsSupportedW(m_.missingPath.c_str(), reinterpret_cast<ULONG_PTR>(textHeader.data())));
        Answer(1, plugin.IsSupportedW(m_.largePath.c_str(), reinterpret_cast<ULONG_PTR>(textHeader.data())));
        {
            UniqueFile file(CreateFileW(m_.largePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
            Answer(1, plugin.IsSupportedW(m_.largePath.c_str(), reinterpret_cast<ULONG_PTR>(file.get())));
        }

        char text[256];
        wchar_t wide[256];
        ++calls_;
        EXPECT_GT(plugin.GetPluginInfo(round % 4, text, sizeof text), 0);
        ++calls_;
        EXPECT_GT(plugin.GetPluginInfoW(round % 4, wide, 256), 0);
        HLOCAL i = nullptr, b = nullptr;
        Expect(-1, plugin.GetPreview(Bytes(m_.rgba), Length(m_.rgba), 1, &i, &b, nullptr, 0));
        Expect(-1, plugin.ConfigurationDlg(nullptr, 7));
    }

private:
    static LPCSTR Bytes(const std::vector<uint8_t>& bytes) { return reinterpret_cast<LPCSTR>(bytes.data()); }
    static LengthOrOffset Length(const std::vector<uint8_t>& bytes) { return LengthOrOffset(bytes.size()); }

    void Expect(int expected, int status) {
        ++calls_;
        EXPECT_EQ(status, expected) << "call " << calls_;
    }
    void ExpectFailure(int status) {
        ++calls_;
        EXPECT_TRUE(status == 2 || status == 4 || status == 8) << "call " << calls_ << ": status " << status;
    }
    void ExpectFailureOrSuccess(int status) {
        ++calls_;
        EXPECT_TRUE(status == 0 || status == 2 || status == 4 || status == 8) << "call " << calls_ << ": status " << status;
    }
    void Answer(int expected, int answer) {
        ++calls_;
        EXPECT_EQ(answer, expected) << "call " << calls_;
    }

    // One GetPicture call: `expected` is the status, -1 any failure, -2 any host status.
    // The host takes and frees whatever it was given.
    void Picture(int expected, const std::function<int(HLOCAL*, HLOCAL*)>& call) {
        ++calls_;
        HLOCAL info = kInfoMarker, bits = kBitsMarker;
        const int status = call(&info, &bits);
        if (expected >= 0) {
            EXPECT_EQ(status, expected) << "call " << calls_;
        } else if (expected == -1) {
            EXPECT_TRUE(status == 2 || status == 4 || status == 8) << "call " << calls_ << ": " << status;
        }
        const bool handedOver = info != kInfoMarker;
        EXPECT_EQ(handedOver, bits != kBitsMarker) << "call " << calls_;
        if (!handedOver) return;
        EXPECT_TRUE(status == 0 || status == 1) << "call " << calls_ << ": blocks handed over with status " << status;
        UniqueHlocal infoBlock(info), bitsBlock(bits);
    }

    const Material& m_;
    size_t calls_ = 0;
};

// Made once per process: sorting the damaged files takes a few seconds.
const Material& SharedMaterial() {
    static const Material material;
    return material;
}

TEST(Leaks, MixedCallsLeaveNothingBehind) {
    const Material& material = SharedMaterial();
    MixedCalls calls(material);
    // The first rounds fill the platform's caches and the plug-in's catalogue and pattern.
    for (int round = 0; round < kWarmUpRounds; ++round) calls.Round(round);
    for (const HostileInput& input : material.hostile) {
        PictureInfo info{};
        Plugin().GetPictureInfo(reinterpret_cast<LPCSTR>(input.bytes.data()), LengthOrOffset(input.length), 1, &info);
    }
    const size_t warmUpCalls = calls.calls();

    const ProcessCensus before = TakeCensus();
    for (int round = 0; round < kRounds; ++round) {
        calls.Round(round);
        if (HasFailure()) break;
    }
    const ProcessCensus after = TakeCensus();
    const std::string growth = DescribeGrowth(before, after);

    EXPECT_LE(after.handles - before.handles, kHandleMargin) << growth;
    EXPECT_LE(after.gdiObjects - before.gdiObjects, kWindowObjectMargin) << growth;
    EXPECT_LE(after.userObjects - before.userObjects, kWindowObjectMargin) << growth;
    EXPECT_LE(after.privateBytes - before.privateBytes, kPrivateBytesMargin) << growth;
    EXPECT_LE(after.processHeap.blocks - before.processHeap.blocks, kHeapBlockMargin) << growth;
    EXPECT_LE(after.processHeap.bytes - before.processHeap.bytes, kHeapByteMargin) << growth;
    EXPECT_LE(after.allHeaps.blocks - before.allHeaps.blocks, kHeapBlockMargin) << growth;
    EXPECT_LE(after.allHeaps.bytes - before.allHeaps.bytes, kHeapByteMargin) << growth;

    std::printf("[reliability] leaks: %zu calls (%zu counted, %zu damaged files among them), handles %+lld, GDI objects %+lld, USER objects %+lld, "
                "private bytes %+lld, process heap %+lld blocks / %+lld bytes, all heaps %+lld blocks / %+lld bytes\n",
                calls.calls(), calls.calls() - warmUpCalls, material.hostile.size(), (long long)(after.handles - before.handles),
                (long long)(after.gdiObjects - before.gdiObjects), (long long)(after.userObjects - before.userObjects),
                (long long)(after.privateBytes - before.privateBytes),
                (long long)(after.processHeap.blocks - before.processHeap.blocks),
                (long long)(after.processHeap.bytes - before.processHeap.bytes),
                (long long)(after.allHeaps.blocks - before.allHeaps.blocks),
                (long long)(after.allHeaps.bytes - before.allHeaps.bytes));
    std::fflush(stdout);
}

// The measure itself: a host that keeps the blocks of each call makes the counts grow by
// two blocks per call, far beyond the margins above.
TEST(Leaks, TheCountsSeeOneBlockKeptPerCall) {
    const std::vector<uint8_t> png = ReadFileBytes(SuitePath(L"basn6a08.png"));
    constexpr int kCalls = 200;
    std::vector<UniqueHlocal> kept;
    const ProcessCensus before = TakeCensus();
    for (int i = 0; i < kCalls; ++i) {
        HLOCAL info = nullptr, bits = nullptr;
        ASSERT_EQ(Plugin().GetPicture(reinterpret_cast<LPCSTR>(png.data()), LengthOrOffset(png.size()), 1, &info, &bits,
                                      nullptr, 0),
                  0);
        kept.emplace_back(info);
        kept.emplace_back(bits);
    }
    const ProcessCensus after = TakeCensus();
    kept.clear();
    EXPECT_GE(after.processHeap.blocks - before.processHeap.blocks, 2 * kCalls - kHeapBlockMargin)
        << DescribeGrowth(before, after);
    EXPECT_GT(after.processHeap.blocks - before.processHeap.blocks, kHeapBlockMargin);
    EXPECT_GT(after.processHeap.bytes - before.processHeap.bytes, kHeapByteMargin);
}

// Where the imaging component keeps memory by itself, the plug-in adds nothing: the same
// files through the plug-in and straight to the component make the heaps grow alike.
TEST(Leaks, OnFilesThePlatformLeaksTheGrowthIsThePlatformsOwn) {
    const Material& material = SharedMaterial();
    if (material.platformLeaking.empty()) GTEST_SKIP() << "the imaging component keeps nothing on these files";
    const ProcessCensus start = TakeCensus();
    for (const HostileInput& input : material.platformLeaking) {
        const auto bytes = reinterpret_cast<LPCSTR>(input.bytes.data());
        const auto length = LengthOrOffset(input.length);
        PictureInfo info{};
        const int status = Plugin().GetPictureInfo(bytes, length, 1, &info);
        EXPECT_TRUE(status == 2 || status == 4 || status == 8) << input.name << ": " << status;
        HLOCAL infoBlock = kInfoMarker, bitsBlock = kBitsMarker;
        EXPECT_NE(Plugin().GetPicture(bytes, length, 1, &infoBlock, &bitsBlock, nullptr, 0), 0) << input.name;
    }
    const ProcessCensus afterPlugin = TakeCensus();
    // The plug-in opened each file twice; so does the component alone.
    for (const HostileInput& input : material.platformLeaking) {
        OpenWithPlatform(input);
        OpenWithPlatform(input);
    }
    const ProcessCensus afterPlatform = TakeCensus();
    const int64_t pluginBytes = afterPlugin.allHeaps.bytes - start.allHeaps.bytes;
    const int64_t platformBytes = afterPlatform.allHeaps.bytes - afterPlugin.allHeaps.bytes;
    const int64_t pluginBlocks = afterPlugin.allHeaps.blocks - start.allHeaps.blocks;
    const int64_t platformBlocks = afterPlatform.allHeaps.blocks - afterPlugin.allHeaps.blocks;
    EXPECT_LE(pluginBytes, platformBytes + kHeapByteMargin) << DescribeGrowth(start, afterPlugin);
    EXPECT_LE(pluginBlocks, platformBlocks + kHeapBlockMargin) << DescribeGrowth(start, afterPlugin);
    EXPECT_LE(afterPlugin.handles - start.handles, kHandleMargin) << DescribeGrowth(start, afterPlugin);
    std::printf("[reliability] leaks on %zu damaged files the imaging component itself leaks on: through the plug-in "
                "%+lld blocks / %+lld bytes, the component alone %+lld blocks / %+lld bytes\n",
                material.platformLeaking.size(), (long long)pluginBlocks, (long long)pluginBytes,
                (long long)platformBlocks, (long long)platformBytes);
    std::fflush(stdout);
}

}  // namespace
