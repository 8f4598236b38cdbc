// Row table and row loop: in order, or a team on the process thread pool that shares
// out a fixed division of the rows and is joined before the loop returns.
#include "bitmap/RowLoop.h"

#include "plugin/Owners.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <new>

namespace {

// Below this many bytes a picture is done before a team could be woken.
constexpr uint64_t kTeamThresholdBytes = 256 * 1024;

struct ThreadpoolWorkTraits {
    static PTP_WORK invalid() { return nullptr; }
    static void close(PTP_WORK work) { CloseThreadpoolWork(work); }
};
using UniqueThreadpoolWork = UniqueHandle<PTP_WORK, ThreadpoolWorkTraits>;

// One loop's division of the rows into `blocks` contiguous blocks; members claim whole
// blocks by number, so which thread runs a block changes nothing in the result.
struct Team {
    RowBody body;
    const void* shared;
    uint32_t rows;
    unsigned blocks;
    std::atomic<unsigned> nextBlock{0};
};

// Test hook: blocks claimed last first, the order least like the in-order loop.
std::atomic<bool> lastBlockFirst{false};

uint32_t BlockStart(const Team& team, unsigned block) {
    return static_cast<uint32_t>(uint64_t{team.rows} * block / team.blocks);
}

void RunUnclaimedBlocks(Team& team) {
    for (;;) {
        const unsigned claim = team.nextBlock.fetch_add(1, std::memory_order_relaxed);
        if (claim >= team.blocks) return;
        const unsigned block = lastBlockFirst.load(std::memory_order_relaxed) ? team.blocks - 1 - claim : claim;
        team.body(BlockStart(team, block), BlockStart(team, block + 1), team.shared);
    }
}

void CALLBACK RunBlocksOnPool(PTP_CALLBACK_INSTANCE, PVOID team, PTP_WORK) {
    RunUnclaimedBlocks(*static_cast<Team*>(team));
}

// Pool threads worth asking for besides the calling thread: one per further processor.
// Members claim blocks until none is left, so more threads than processors would only
// wait for a turn, and each request the pool cannot meet at once makes it start a thread.
unsigned PoolHelpers(unsigned blocks) {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const unsigned processors = std::max<unsigned>(system.dwNumberOfProcessors, 1);
    return std::min(blocks, processors) - 1;
}

unsigned AutomaticWorkers([[maybe_unused]] uint32_t rows, [[maybe_unused]] size_t rowBytes) {
#ifdef _WIN64
    return 1;
#else
    return uint64_t{rows} * rowBytes < kTeamThresholdBytes ? 1 : kDefaultRowWorkers;
#endif
}

}  // namespace

bool RowTable::Reserve(uint32_t rows) noexcept {
    entries_.reset(new (std::nothrow) RowPair[rows]);
    rows_ = entries_ ? rows : 0;
    return entries_ != nullptr;
}

void ForEachRowInOrder(uint32_t rows, RowBody body, const void* shared) {
    if (rows > 0) body(0, rows, shared);
}

void ForEachRowOnTeam(uint32_t rows, RowBody body, const void* shared, unsigned workers) {
    const unsigned blocks = static_cast<unsigned>(std::min<uint64_t>(workers, rows));
    if (blocks <= 1) return ForEachRowInOrder(rows, body, shared);
    Team team{body, shared, rows, blocks};
    const unsigned helpers = PoolHelpers(blocks);
    if (helpers == 0) return RunUnclaimedBlocks(team);
    UniqueThreadpoolWork work(CreateThreadpoolWork(RunBlocksOnPool, &team, nullptr));
    if (!work) return ForEachRowInOrder(rows, body, shared);
    // The calling thread is one member; the pool lends the others.
    for (unsigned i = 0; i < helpers; ++i) SubmitThreadpoolWork(work.get());
    RunUnclaimedBlocks(team);
    // Every block is claimed now; a member that starts late finds none and returns at once.
    // Its request is not cancelled: under Wine each cancelling wait leaves the pool short
    // of an idle thread, so that it starts a new one for the next request, about a
    // millisecond each, and hundreds pile up in a long-running host.
    WaitForThreadpoolWorkCallbacks(work.get(), FALSE);
}

unsigned RowWorkers(uint32_t rows, size_t rowBytes, unsigned workers) {
    return workers == kAutomaticWorkers ? AutomaticWorkers(rows, rowBytes) : workers;
}

void ForEachRow(uint32_t rows, size_t rowBytes, RowBody body, const void* shared, unsigned workers) {
    workers = RowWorkers(rows, rowBytes, workers);
    if (workers <= 1) return ForEachRowInOrder(rows, body, shared);
    ForEachRowOnTeam(rows, body, shared, workers);
}

namespace RowLoopTesting {
void ClaimLastBlockFirst(bool enabled) { lastBlockFirst.store(enabled); }
}  // namespace RowLoopTesting
