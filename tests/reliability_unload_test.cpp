// Loading and unloading the plug-in again and again, as viewers do when they scan their
// plug-in folder, with decodes in between: every load works like the first, and unloading
// gives everything back (the pixel format catalogue, its lock and the extension pattern are
// torn down with the library and built again by the next load).
#include "tests/support/DibReader.h"
#include "tests/support/ProcessCensus.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kWarmUpCycles = 4;
constexpr int kCycles = 60;

// Growth allowed over all cycles: far below one handle or slot per load, and no block of
// the process heap (where a lock that is never deleted would leave its debug record).
constexpr int64_t kHandleMargin = 4;
constexpr int64_t kTlsSlotMargin = 2;
constexpr int64_t kProcessHeapBlockMargin = 16;
constexpr int64_t kPrivateBytesMargin = 4 << 20;
// The statically linked thread library keeps a few small blocks per load that nothing can
// give back (its lazily made mutexes, and the records of threads that called in and ended,
// kept for reuse): any DLL built with this runtime keeps the same, 4 blocks of 244 bytes
// in all (32-bit) or 3 of 528 (64-bit), and one more for each such thread. A catalogue
// left behind would be 76 blocks per load, a pattern dozens.
constexpr int64_t kRuntimeBlocksPerLoad = 5;
constexpr int64_t kRuntimeBytesPerLoad = 1024;
constexpr int64_t kHeapBlockMargin = 16 + kRuntimeBlocksPerLoad * kCycles;
constexpr int64_t kHeapByteMargin = (16 << 10) + kRuntimeBytesPerLoad * kCycles;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The first free thread-local storage slot: a library that takes slots and never gives
// them back moves it up with each load, until none is left.
int64_t FirstFreeTlsSlot() {
    const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) return -1;
    TlsFree(slot);
    return slot;
}

// What one loaded copy of the plug-in answers.
struct Answers {
    std::string rgba, large, palette;
    PictureInfo info{};
    int supported = -1, unsupported = -1;
};

std::string Decode(const PluginLibrary& plugin, const std::vector<uint8_t>& bytes) {
    HLOCAL info = nullptr, bits = nullptr;
    const int status = plugin.GetPicture(reinterpret_cast<LPCSTR>(bytes.data()), LengthOrOffset(bytes.size()), 1,
                                         &info, &bits, nullptr, 0);
    if (status != 0) return "status " + std::to_string(status);
    UniqueHlocal infoBlock(info), bitsBlock(bits);
    DecodedDib dib;
    return ReadDib(info, bits, dib) ? dib.Fingerprint() : "unreadable blocks";
}

class Unloading : public ::testing::Test {
protected:
    void SetUp() override {
        // A viewer has the system libraries the plug-in uses loaded already; were they
        // loaded and unloaded with it, Wine's comdlg32 would keep a mutex each time.
        for (const wchar_t* name : {L"ole32.dll", L"oleaut32.dll", L"windowscodecs.dll", L"shlwapi.dll", L"user32.dll",
                                    L"gdi32.dll", L"comdlg32.dll", L"advapi32.dll"})
            systemLibraries_.emplace_back(LoadLibraryW(name));
        rgba_ = ReadFileBytes(SuitePath(L"basn6a08.png"));
        palette_ = SuitePath(L"tbbn3p08.png");
        // Large enough for the 32-bit build's row loop to use the thread pool.
        large_ = EncodeWithWic(GUID_ContainerFormatPng, 320, 260);
        header_.assign(2048, 0);
        std::memcpy(header_.data(), rgba_.data(), rgba_.size());
    }

    // Loads the library, asks everything once (on this thread or on a thread of its own
    // that ends before the unloading), and unloads it.
    Answers Cycle(bool askOnAnotherThread = false) {
        Answers answers;
        PluginLibrary plugin;
        std::wstring error;
        std::vector<std::string> missing;
        EXPECT_TRUE(plugin.Load(path_, error, missing)) << Narrow(error);
        EXPECT_TRUE(missing.empty());
        if (!plugin.module || !missing.empty()) return answers;
        if (askOnAnotherThread) {
            RunOnNewThread([&] { answers = Ask(plugin); });
        } else {
            answers = Ask(plugin);
        }
        plugin.module.reset();
        EXPECT_EQ(GetModuleHandleW(kPluginName), nullptr) << "the library stayed loaded after FreeLibrary";
        return answers;
    }

    Answers Ask(const PluginLibrary& plugin) {
        Answers answers;
        answers.rgba = Decode(plugin, rgba_);
        answers.large = Decode(plugin, large_);
        HLOCAL info = nullptr, bits = nullptr;
        if (plugin.GetPictureW(palette_.c_str(), 0, 0, &info, &bits, nullptr, 0) == 0) {
            UniqueHlocal infoBlock(info), bitsBlock(bits);
            DecodedDib dib;
            answers.palette = ReadDib(info, bits, dib) ? dib.Fingerprint() : "unreadable";
        }
        if (plugin.GetPictureInfo(Narrow(palette_).c_str(), 0, 0, &answers.info) != 0) answers.palette += " no info";
        answers.supported = plugin.IsSupported("picture.png", reinterpret_cast<ULONG_PTR>(header_.data()));
        answers.unsupported = plugin.IsSupportedW(L"picture.gif", reinterpret_cast<ULONG_PTR>(header_.data()));
        char text[128];
        if (plugin.GetPluginInfo(0, text, sizeof text) <= 0) answers.supported = -1;
        return answers;
    }

    std::vector<UniqueModule> systemLibraries_;
    const std::wstring path_ = ExecutableDirectory() + L"\\" + kPluginName;
    std::vector<uint8_t> rgba_, large_, header_;
    std::wstring palette_;
};

TEST_F(Unloading, EveryLoadAnswersAsTheFirstAndUnloadingGivesEverythingBack) {
    ASSERT_EQ(GetModuleHandleW(kPluginName), nullptr) << "this test loads the library itself";
    const Answers first = Cycle();
    ASSERT_EQ(first.supported, 1);
    ASSERT_EQ(first.unsupported, 0);
    ASSERT_EQ(first.rgba.size() > 100, true) << first.rgba;
    ASSERT_EQ(first.large.size() > 100, true) << first.large;
    // The platform's own first-use work (class registrations, caches, thread-pool
    // threads) happens here, for both ways of asking.
    for (int cycle = 1; cycle < kWarmUpCycles; ++cycle) Cycle(cycle % 2 == 1);

    const ProcessCensus before = TakeCensus();
    const int64_t tlsBefore = FirstFreeTlsSlot();
    int same = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        // Every other load is asked on a thread of its own, as viewers that decode in the
        // background do.
        const Answers answers = Cycle(cycle % 2 == 1);
        const bool alike = answers.rgba == first.rgba && answers.large == first.large &&
                           answers.palette == first.palette &&
                           std::memcmp(&answers.info, &first.info, sizeof answers.info) == 0 &&
                           answers.supported == first.supported && answers.unsupported == first.unsupported;
        EXPECT_TRUE(alike) << "load " << cycle << " answers differently";
        same += alike;
        if (HasFailure()) break;
    }
    const int64_t tlsAfter = FirstFreeTlsSlot();
    const ProcessCensus after = TakeCensus();
    const std::string growth = DescribeGrowth(before, after) + "first free TLS slot: " + std::to_string(tlsBefore) +
                               " -> " + std::to_string(tlsAfter) + "\n";

    EXPECT_LE(after.handles - before.handles, kHandleMargin) << growth;
    EXPECT_LE(after.privateBytes - before.privateBytes, kPrivateBytesMargin) << growth;
    EXPECT_LE(after.processHeap.blocks - before.processHeap.blocks, kProcessHeapBlockMargin) << growth;
    EXPECT_LE(after.allHeaps.blocks - before.allHeaps.blocks, kHeapBlockMargin) << growth;
    EXPECT_LE(after.allHeaps.bytes - before.allHeaps.bytes, kHeapByteMargin) << growth;
    EXPECT_LE(tlsAfter - tlsBefore, kTlsSlotMargin) << growth;
    std::printf("[reliability] unloading: %d loads and unloads with decodes between (half of them on another thread), "
                "%d answering as the first; "
                "handles %+lld, private bytes %+lld, all heaps %+lld blocks / %+lld bytes, TLS slots %+lld\n",
                kCycles, same, (long long)(after.handles - before.handles),
                (long long)(after.privateBytes - before.privateBytes),
                (long long)(after.allHeaps.blocks - before.allHeaps.blocks),
                (long long)(after.allHeaps.bytes - before.allHeaps.bytes), (long long)(tlsAfter - tlsBefore));
    std::fflush(stdout);
}

}  // namespace
