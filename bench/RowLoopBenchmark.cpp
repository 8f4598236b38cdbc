// vellaro-rowloop-bench [--runs N]: the row loop alone on a 4096 x 4096 32-bit picture.
// Times the flip and the composite over white in order on the calling thread and on the
// team, against memcpy of the same bytes, and prints `key: value` lines.
// vellaro-rowloop-bench --count: each step once in order, between callgrind's collection
// switches (run it under callgrind with --collect-atstart=no): the first dump counts the
// flip's instructions, the second the composite's; the same on every run.
#include "bitmap/DibImage.h"
#include "bitmap/FlipRows.h"
#include "bitmap/ResolveAlpha.h"
#include "host/BenchTiming.h"

#include <windows.h>

#ifdef VELLARO_CALLGRIND
#include <valgrind/callgrind.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr uint32_t kSide = 4096;
constexpr uint8_t kWhite[3] = {0xFF, 0xFF, 0xFF};
constexpr uint32_t kComposite = 1;

// Blue-green-red-alpha pixels with every kind of alpha: opaque and transparent stretches
// and soft edges between, the colours changing from pixel to pixel.
std::vector<uint8_t> MasterPicture() {
    std::vector<uint8_t> pixels(size_t(kSide) * kSide * 4);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < kSide; ++y)
        for (uint32_t x = 0; x < kSide; ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            uint8_t* p = &pixels[(size_t(y) * kSide + x) * 4];
            p[0] = uint8_t(x + (noise & 7));
            p[1] = uint8_t(y + ((noise >> 3) & 7));
            p[2] = uint8_t((x ^ y) + ((noise >> 6) & 7));
            const uint32_t band = (x / 64 + y / 64) % 3;
            p[3] = band == 0 ? 255 : band == 1 ? 0 : uint8_t(x * 3 + y);
        }
    return pixels;
}

// A fresh copy of the master picture for each measured step. The two pixel blocks take
// turns through the spare slot, so that after the first run no step writes into pages
// never touched before, except where a step allocates a new block itself.
struct Workbench {
    std::vector<uint8_t> master = MasterPicture();
    DibImage image;
    UniqueHlocal spare;

    void Load() {
        image.Allocate(kSide, kSide, 32, {}, spare);
        std::memcpy(image.pixels(), master.data(), master.size());
    }
};

struct Step {
    double flipMs = 0, compositeMs = 0;
};

// What GetPicture does with a transparent picture: both steps within the block.
Step FlipAndComposite(Workbench& bench, unsigned workers) {
    bench.Load();
    Step step;
    const double start = Now();
    FlipToBottomUpInPlace(bench.image, workers);
    const double flipped = Now();
    ResolveAlphaInPlace(bench.image, kComposite, kWhite, workers);
    step.flipMs = flipped - start;
    step.compositeMs = Now() - flipped;
    return step;
}

// The flip into a second block, warm from earlier runs or newly allocated.
double CopyingFlipMs(Workbench& bench, bool freshBlock) {
    bench.Load();
    if (freshBlock) bench.spare.reset();
    const double start = Now();
    FlipToBottomUp(bench.image, bench.spare, 1);
    return Now() - start;
}

double MemcpyMs(std::vector<uint8_t>& to, const std::vector<uint8_t>& from) {
    const double start = Now();
    std::memcpy(to.data(), from.data(), from.size());
    return Now() - start;
}

double GigabytesPerSecond(double bytes, double ms) { return bytes / (ms * 1e6); }

double Min(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }
double Max(const std::vector<double>& values) { return *std::max_element(values.begin(), values.end()); }

int CountInstructions() {
#ifdef VELLARO_CALLGRIND
    Workbench bench;
    bench.Load();
    CALLGRIND_TOGGLE_COLLECT;
    FlipToBottomUpInPlace(bench.image, 1);
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    ResolveAlphaInPlace(bench.image, kComposite, kWhite, 1);
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS;
    std::printf("counted: flip (first dump), composite (second dump) of %u x %u pixels\n", kSide, kSide);
    return 0;
#else
    std::fprintf(stderr, "built without callgrind's header (Debian package valgrind)\n");
    return 3;
#endif
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"--count") == 0) return CountInstructions();
    unsigned runs = 11;
    if (argc == 3 && std::wcscmp(argv[1], L"--runs") == 0) runs = unsigned(std::wcstoul(argv[2], nullptr, 10));
    if (runs == 0 || (argc != 1 && argc != 3)) {
        std::fprintf(stderr, "usage: vellaro-rowloop-bench [--runs N | --count]\n");
        return 2;
    }
    Workbench bench;
    const double bytes = double(bench.master.size());
    std::vector<uint8_t> copy(bench.master.size(), 1);

    // Warm-up: both blocks and the team's threads exist before the first timing.
    for (int i = 0; i < 2; ++i) {
        FlipAndComposite(bench, 1);
        FlipAndComposite(bench, kDefaultRowWorkers);
        CopyingFlipMs(bench, false);
    }
    MemcpyMs(copy, bench.master);

    std::vector<double> memcpyMs, flipOne, compositeOne, flipTeam, compositeTeam, bothOne, bothTeam;
    std::vector<double> copyWarm, copyFresh;
    for (unsigned run = 0; run < runs; ++run) {
        memcpyMs.push_back(MemcpyMs(copy, bench.master));
        for (int turn = 0; turn < 2; ++turn) {
            const bool team = (turn == 0) == (run % 2 == 0);
            const Step step = FlipAndComposite(bench, team ? kDefaultRowWorkers : 1);
            (team ? flipTeam : flipOne).push_back(step.flipMs);
            (team ? compositeTeam : compositeOne).push_back(step.compositeMs);
            (team ? bothTeam : bothOne).push_back(step.flipMs + step.compositeMs);
        }
        copyWarm.push_back(CopyingFlipMs(bench, false));
        copyFresh.push_back(CopyingFlipMs(bench, true));
    }

    std::printf("runs: %u\npicture: %u x %u x 32 bits (%.1f MB), composited over white in place\n", runs, kSide,
                kSide, bytes / 1048576.0);
#ifdef _WIN64
    std::printf("build: 64-bit (GetPicture runs its rows in order)\n");
#else
    std::printf("build: 32-bit (GetPicture runs its rows on a team of %u)\n", kDefaultRowWorkers);
#endif
    const auto print = [&](const char* name, const std::vector<double>& ms) {
        std::printf("%s.median_ms: %.2f\n%s.spread_ms: %.2f-%.2f\n%s.gbps: %.2f\n", name, Median(ms), name, Min(ms),
                    Max(ms), name, GigabytesPerSecond(bytes, Median(ms)));
    };
    print("memcpy", memcpyMs);
    print("flip.inorder", flipOne);
    std::printf("flip.vs_memcpy: %.2f\n", Median(memcpyMs) / Median(flipOne));
    print("composite.inorder", compositeOne);
    print("flip.team", flipTeam);
    print("composite.team", compositeTeam);
    print("copying_flip.warm_block", copyWarm);
    print("copying_flip.fresh_block", copyFresh);
    std::printf("rowloop.inorder.median_ms: %.2f\nrowloop.inorder.spread_ms: %.2f-%.2f\n", Median(bothOne),
                Min(bothOne), Max(bothOne));
    std::printf("rowloop.team.median_ms: %.2f\nrowloop.team.spread_ms: %.2f-%.2f\n", Median(bothTeam), Min(bothTeam),
                Max(bothTeam));
    std::printf("rowloop.speedup: %.2f\n", Median(bothOne) / Median(bothTeam));
    return 0;
}
