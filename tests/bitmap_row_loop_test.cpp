// The row loop (in order and on a team of threads) and the bottom-up reordering built on it.
#include "bitmap/FlipRows.h"
#include "bitmap/RowLoop.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// --- Row loop ---------------------------------------------------------------------------

// What each row saw: how often it ran and the block that ran it. Each row's entries are
// written by the one body that runs it.
struct RowLog {
    std::vector<int> runs;
    std::vector<uint32_t> blockFirst;
    std::vector<uint32_t> blockEnd;
};

struct RowLogView {
    int* runs;
    uint32_t* blockFirst;
    uint32_t* blockEnd;
};

void LogRows(uint32_t first, uint32_t end, const RowLogView& log) {
    for (uint32_t r = first; r < end; ++r) {
        ++log.runs[r];
        log.blockFirst[r] = first;
        log.blockEnd[r] = end;
    }
}

RowLog RunLogged(uint32_t rows, unsigned workers) {
    RowLog log{std::vector<int>(rows), std::vector<uint32_t>(rows), std::vector<uint32_t>(rows)};
    ForEachRow(rows, 1, LogRows, RowLogView{log.runs.data(), log.blockFirst.data(), log.blockEnd.data()}, workers);
    return log;
}

// Every row runs exactly once, in min(workers, rows) contiguous blocks whose sizes differ by
// at most one row.
TEST(ForEachRow, EveryRowOnceInContiguousBlocksOfNearlyEqualSize) {
    const uint32_t rowCounts[] = {0, 1, 3, 7, 8, 9, 1000};
    const unsigned workerCounts[] = {1, 2, 3, 8};
    for (uint32_t rows : rowCounts) {
        for (unsigned workers : workerCounts) {
            SCOPED_TRACE(testing::Message() << rows << " rows, " << workers << " workers");
            const RowLog log = RunLogged(rows, workers);
            EXPECT_EQ(std::count(log.runs.begin(), log.runs.end(), 1), static_cast<long>(rows));
            std::vector<uint32_t> sizes;
            for (uint32_t r = 0; r < rows; r = log.blockEnd[r]) {
                ASSERT_EQ(log.blockFirst[r], r);
                ASSERT_GT(log.blockEnd[r], r);
                for (uint32_t inner = r; inner < log.blockEnd[r]; ++inner) ASSERT_EQ(log.blockFirst[inner], r);
                sizes.push_back(log.blockEnd[r] - r);
            }
            if (rows == 0) continue;
            EXPECT_EQ(sizes.size(), std::min<size_t>(workers, rows));
            const auto [smallest, largest] = std::minmax_element(sizes.begin(), sizes.end());
            EXPECT_LE(*largest - *smallest, 1u);
        }
    }
}

// The threads of this process, the test's own included.
int ProcessThreads() {
    UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    return count;
}

// A host decodes picture after picture: the team's helpers must come back to the pool
// ready for the next loop, not leave it to start new threads (each of which holds a stack
// in a 32-bit host's address space).
TEST(ForEachRow, ManyTeamLoopsKeepThePoolSmall) {
    std::vector<int> runs(64);
    const RowLogView unused{runs.data(), nullptr, nullptr};
    const auto count = [](uint32_t first, uint32_t end, const RowLogView& log) {
        for (uint32_t r = first; r < end; ++r) ++log.runs[r];
    };
    for (int loop = 0; loop < 300; ++loop) ForEachRow(64, 1, +count, unused, kDefaultRowWorkers);
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 300), 64);
    const int threads = ProcessThreads();
    EXPECT_GT(threads, 0);
    EXPECT_LE(threads, 24);
}

TEST(ForEachRow, AutomaticChoiceRunsEveryRowOnce) {
    // A few rows of a few bytes, and enough rows to be worth a team in the 32-bit build.
    const uint32_t rowCounts[] = {0, 1, 5, 300000};
    for (uint32_t rows : rowCounts) {
        const RowLog log = RunLogged(rows, kAutomaticWorkers);
        EXPECT_EQ(std::count(log.runs.begin(), log.runs.end(), 1), static_cast<long>(rows)) << rows;
    }
}

// --- Flip -------------------------------------------------------------------------------

// An image whose every byte, padding and the 4 trailing bytes included, tells its row and column.
void AllocatePatterned(DibImage& image, uint32_t width, uint32_t height, int32_t bitsPerPixel,
                       const std::vector<uint32_t>& palette = {}) {
    UniqueHlocal none;
    ASSERT_EQ(image.Allocate(width, height, bitsPerPixel, palette, none), Success);
    const size_t size = LocalSize(image.pixelBlock());
    for (size_t i = 0; i < size; ++i) image.pixels()[i] = static_cast<uint8_t>(i * 7 + i / image.header()->stride * 13 + 1);
}

std::vector<uint8_t> Rows(const DibImage& image) {
    const size_t size = image.header()->stride * image.header()->height;
    return std::vector<uint8_t>(image.pixels(), image.pixels() + size);
}

std::vector<uint8_t> Reversed(const std::vector<uint8_t>& rows, size_t stride) {
    std::vector<uint8_t> reversed;
    for (size_t end = rows.size(); end >= stride && end > 0; end -= stride)
        reversed.insert(reversed.end(), rows.begin() + (end - stride), rows.begin() + end);
    return reversed;
}

struct FlipCase {
    uint32_t width;
    uint32_t height;
    int32_t bitsPerPixel;
};

// Destination row r is source row height - 1 - r byte for byte, padding included, for
// every depth and every way of running the rows.
TEST(FlipToBottomUp, ReversesWholeRowsWithTheirPadding) {
    const FlipCase cases[] = {
        {3, 1, 24},  {3, 2, 24}, {3, 3, 24}, {9, 5, 1},    {5, 3, 4},    {7, 11, 8},
        {3, 7, 16},  {5, 8, 24}, {5, 9, 24}, {2, 1000, 32}, {13, 257, 24}, {4, 0, 32},
    };
    const unsigned workerCounts[] = {kAutomaticWorkers, 1, 2, 8};
    for (const FlipCase& c : cases) {
        for (unsigned workers : workerCounts) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bitsPerPixel << ", "
                                            << workers << " workers");
            DibImage image;
            AllocatePatterned(image, c.width, c.height, c.bitsPerPixel);
            const std::vector<uint8_t> before = Rows(image);
            UniqueHlocal spare;
            const PluginStatus status = FlipToBottomUp(image, spare, workers);
            ASSERT_EQ(status, Success) << Hex(status);
            EXPECT_EQ(image.header()->width, c.width);
            EXPECT_EQ(image.header()->height, c.height);
            EXPECT_EQ(image.header()->bitsPerPixel, c.bitsPerPixel);
            EXPECT_EQ(Rows(image), Reversed(before, image.header()->stride));
        }
    }
}

// A picture large enough for the 32-bit build's team gives the bytes of the in-order loop.
TEST(FlipToBottomUp, TeamAndInOrderGiveTheSameBytes) {
    DibImage inOrder, team, automatic;
    AllocatePatterned(inOrder, 1001, 301, 32);
    AllocatePatterned(team, 1001, 301, 32);
    AllocatePatterned(automatic, 1001, 301, 32);
    UniqueHlocal spare1, spare2, spare3;
    ASSERT_EQ(FlipToBottomUp(inOrder, spare1, 1), Success);
    ASSERT_EQ(FlipToBottomUp(team, spare2, kDefaultRowWorkers), Success);
    ASSERT_EQ(FlipToBottomUp(automatic, spare3), Success);
    EXPECT_EQ(Rows(team), Rows(inOrder));
    EXPECT_EQ(Rows(automatic), Rows(inOrder));
}

TEST(FlipToBottomUp, CarriesThePaletteOver) {
    const std::vector<uint32_t> palette = {0xFF102030, 0x00405060};
    DibImage image;
    AllocatePatterned(image, 9, 4, 1, palette);  // stride 4
    UniqueHlocal spare;
    ASSERT_EQ(FlipToBottomUp(image, spare), Success);
    EXPECT_EQ(image.header()->stride, 4u);
    EXPECT_EQ(image.header()->palette, palette);
}

// Height 1 leaves the picture as it was, in a new block; the old one lands in the empty spare slot.
TEST(FlipToBottomUp, OldBlockLandsInAnEmptySpareSlot) {
    DibImage image;
    AllocatePatterned(image, 5, 1, 24);
    const std::vector<uint8_t> before = Rows(image);
    const HLOCAL oldBlock = image.pixelBlock();
    UniqueHlocal spare;
    ASSERT_EQ(FlipToBottomUp(image, spare), Success);
    EXPECT_EQ(spare.get(), oldBlock);
    EXPECT_NE(image.pixelBlock(), oldBlock);
    EXPECT_EQ(image.pixels(), image.pixelBlock());
    EXPECT_EQ(Rows(image), before);
}

// Two flips in a row swap the two blocks through the spare slot and restore the picture.
TEST(FlipToBottomUp, SecondFlipReusesTheSpareBlock) {
    DibImage image;
    AllocatePatterned(image, 6, 9, 24);
    const std::vector<uint8_t> before = Rows(image);
    const HLOCAL first = image.pixelBlock();
    UniqueHlocal spare;
    ASSERT_EQ(FlipToBottomUp(image, spare), Success);
    const HLOCAL second = image.pixelBlock();
    ASSERT_EQ(FlipToBottomUp(image, spare), Success);
    EXPECT_EQ(image.pixelBlock(), first);
    EXPECT_EQ(spare.get(), second);
    EXPECT_EQ(Rows(image), before);
}

// The flip GetPicture uses: the same bytes, within the image's own block and palette.
TEST(FlipToBottomUpInPlace, ReversesWholeRowsWithinTheirBlock) {
    const FlipCase cases[] = {
        {3, 1, 24},  {3, 2, 24}, {3, 3, 24}, {9, 5, 1},     {5, 3, 4},     {7, 11, 8},  {3, 7, 16},
        {5, 8, 24},  {5, 9, 24}, {2, 1000, 32}, {13, 257, 24}, {4, 0, 32}, {1001, 301, 32}, {37, 64, 8},
    };
    const std::vector<uint32_t> palette = {0xFF102030, 0x00405060};
    const unsigned workerCounts[] = {kAutomaticWorkers, 1, 2, 8};
    for (const FlipCase& c : cases) {
        for (unsigned workers : workerCounts) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bitsPerPixel << ", "
                                            << workers << " workers");
            DibImage image;
            AllocatePatterned(image, c.width, c.height, c.bitsPerPixel, palette);
            const std::vector<uint8_t> before = Rows(image);
            const std::vector<uint32_t> paletteBefore = image.header()->palette;
            const HLOCAL block = image.pixelBlock();
            const size_t size = LocalSize(block);
            const std::vector<uint8_t> trailing(image.pixels() + before.size(), image.pixels() + size);
            const PluginStatus status = FlipToBottomUpInPlace(image, workers);
            ASSERT_EQ(status, Success) << Hex(status);
            EXPECT_EQ(image.pixelBlock(), block);
            EXPECT_EQ(image.header()->bitsPerPixel, c.bitsPerPixel);
            EXPECT_EQ(image.header()->palette, paletteBefore);
            EXPECT_EQ(Rows(image), Reversed(before, image.header()->stride));
            EXPECT_EQ(std::vector<uint8_t>(image.pixels() + before.size(), image.pixels() + size), trailing);
        }
    }
}

TEST(FlipToBottomUpInPlace, IncompleteImageAnswersInternalError) {
    DibImage empty;
    const PluginStatus status = FlipToBottomUpInPlace(empty);
    EXPECT_EQ(status, InternalError) << Hex(status);
    EXPECT_EQ(empty.pixelBlock(), nullptr);
}

TEST(FlipToBottomUp, IncompleteImageAnswersInternalErrorAndAllocatesNothing) {
    DibImage empty;
    UniqueHlocal spare(LocalAlloc(LMEM_FIXED, 16));
    const HLOCAL spareBefore = spare.get();
    const PluginStatus status = FlipToBottomUp(empty, spare);
    EXPECT_EQ(status, InternalError) << Hex(status);
    EXPECT_EQ(empty.header(), nullptr);
    EXPECT_EQ(empty.pixelBlock(), nullptr);
    EXPECT_EQ(spare.get(), spareBefore);
}

}  // namespace
