// The first calls of a process: the extension pattern is built once, also for threads
// that all make their first call at the same moment, and built again after a failed try.
// A separate executable, so that these calls really are the first ones.
#include "plugin/ExportBoundary.h"
#include "plugin/FileRecognition.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
// While set, every allocation of this executable fails (the plug-in's code linked into
// the test, not the DLL, which has its own run time).
std::atomic<bool> failAllocations{false};
}  // namespace

void* operator new(std::size_t size) {
    if (failAllocations.load()) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(FirstUse, PatternThatCouldNotBeBuiltIsBuiltByTheNextCall) {
    int probeCalls = 0;
    const RecognitionProbes probes{[&](HANDLE) { ++probeCalls; return Success; },
                                   [&](const void*, const wchar_t*) { ++probeCalls; return Success; }};
    failAllocations = true;
    bool threw = false;
    try {
        MatchesExtensionPattern(L".png");
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    // The export boundary answers "not supported" instead of letting the failure out.
    const int answer = GuardZero([&] { return RecognizeFile(L"a.png", 0x40, probes); });
    failAllocations = false;
    ASSERT_TRUE(threw) << "the pattern was built before, or building it allocated nothing";
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(probeCalls, 0);

    EXPECT_EQ(RecognizeFile(L"a.png", 0x40, probes), 1);
    EXPECT_EQ(RecognizeFile(L"a.jpg", 0x40, probes), 0);
    EXPECT_EQ(probeCalls, 1);
}

// What each thread saw.
struct ThreadAnswers {
    int png = -1;
    int jpg = -1;
};

struct RaceSetup {
    const PluginLibrary* plugin;
    ULONG_PTR header;
    const std::atomic<bool>* start;
    std::atomic<int>* ready;
    ThreadAnswers* answers;
};

DWORD WINAPI AskOnce(void* argument) {
    const RaceSetup& setup = *static_cast<RaceSetup*>(argument);
    ++*setup.ready;
    // Spinning rather than waiting on an event lets the threads start within moments.
    while (!setup.start->load()) YieldProcessor();
    // The first call must see a finished pattern to answer 1.
    setup.answers->png = setup.plugin->IsSupportedW(L"first.PNG", setup.header);
    setup.answers->jpg = setup.plugin->IsSupportedW(L"first.jpg", setup.header);
    return 0;
}

bool LoadFresh(PluginLibrary& plugin) {
    std::wstring error;
    std::vector<std::string> missing;
    return plugin.Load(ExecutableDirectory() + L"\\" + kPluginName, error, missing) && missing.empty();
}

// Loads the plug-in, lets `threads` threads make their first call together, unloads it.
void RaceOnce(int round, int threadCount, const std::vector<uint8_t>& header) {
    ASSERT_EQ(GetModuleHandleW(kPluginName), nullptr) << "the plug-in was loaded before round " << round;
    PluginLibrary plugin;
    ASSERT_TRUE(LoadFresh(plugin));
    std::atomic<bool> start{false};
    std::atomic<int> ready{0};
    std::vector<ThreadAnswers> answers(threadCount);
    std::vector<RaceSetup> setups;
    for (ThreadAnswers& a : answers)
        setups.push_back({&plugin, reinterpret_cast<ULONG_PTR>(header.data()), &start, &ready, &a});
    std::vector<UniqueKernelHandle> threads;
    std::vector<HANDLE> raw;
    for (RaceSetup& setup : setups) {
        threads.emplace_back(CreateThread(nullptr, 0, AskOnce, &setup, 0, nullptr));
        if (!threads.back()) break;
        raw.push_back(threads.back().get());
    }
    while (ready.load() < int(raw.size())) Sleep(0);
    start = true;
    ASSERT_EQ(raw.size(), size_t(threadCount));
    ASSERT_EQ(WaitForMultipleObjects(DWORD(raw.size()), raw.data(), TRUE, INFINITE), WAIT_OBJECT_0);
    for (int i = 0; i < threadCount; ++i) {
        EXPECT_EQ(answers[i].png, 1) << "round " << round << ", thread " << i;
        EXPECT_EQ(answers[i].jpg, 0) << "round " << round << ", thread " << i;
    }
    // Unloading destroys the pattern; the next load builds a new one.
    plugin.module.reset();
    EXPECT_EQ(GetModuleHandleW(kPluginName), nullptr) << "the plug-in stayed loaded after round " << round;
}

TEST(FirstUse, ThreadsMakingTheFirstCallTogetherAllUseAFinishedPattern) {
    std::vector<uint8_t> header = ReadFileBytes(SuitePath(L"basn2c08.png"));
    header.resize(kHeaderBufferSize, 0);
    for (int round = 0; round < 30 && !HasFailure(); ++round) RaceOnce(round, 8, header);
}

}  // namespace
