// The row loop shared by the bitmap transforms: a table of row addresses and a fork and
// join over contiguous blocks of rows (in the 32-bit build), or an in-order loop (64-bit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// One destination row and the first byte of the source data it is made from.
struct RowPair {
    uint8_t* destination;
    const uint8_t* source;
};

// One entry per destination row, filled before the loop and only read while it runs.
class RowTable {
public:
    // Makes room for exactly `rows` entries; false (and empty) when memory is short.
    bool Reserve(uint32_t rows) noexcept;

    RowPair& operator[](size_t row) { return entries_[row]; }
    const RowPair& operator[](size_t row) const { return entries_[row]; }
    uint32_t size() const { return rows_; }

private:
    std::unique_ptr<RowPair[]> entries_;
    uint32_t rows_ = 0;
};

// Processes rows first to end - 1, writing nothing outside those destination rows.
using RowBody = void (*)(uint32_t first, uint32_t end, const void* shared);

// How many threads run a loop: kAutomaticWorkers lets the build decide (a team of
// kDefaultRowWorkers in the 32-bit build unless the picture is too small to be worth
// it; in order on the calling thread in the 64-bit build). Any other count is used as
// given, 1 meaning in order on the calling thread.
constexpr unsigned kAutomaticWorkers = 0;
constexpr unsigned kDefaultRowWorkers = 8;

// The number of threads ForEachRow runs a loop of `rows` rows of about `rowBytes` bytes
// on: kAutomaticWorkers resolved as described above, any other count as given.
unsigned RowWorkers(uint32_t rows, size_t rowBytes, unsigned workers);

// Runs `body` over rows 0 to rows - 1 in index order on the calling thread.
void ForEachRowInOrder(uint32_t rows, RowBody body, const void* shared);

// Splits rows 0 to rows - 1 into `workers` contiguous blocks of nearly equal size, runs
// them on a team of threads (the calling thread among them) and returns when all are
// done. Runs in order when threads cannot be had; the bytes written are the same.
void ForEachRowOnTeam(uint32_t rows, RowBody body, const void* shared, unsigned workers);

// The row loop of the transforms. `rowBytes` is about how many bytes a body touches per
// row, used to keep small pictures on the calling thread.
void ForEachRow(uint32_t rows, size_t rowBytes, RowBody body, const void* shared,
                unsigned workers = kAutomaticWorkers);

// Test hook: a team's blocks are claimed last first (any order gives the same bytes), so
// that a body that depends on the order of the blocks shows it even on one thread.
namespace RowLoopTesting {
void ClaimLastBlockFirst(bool enabled);
}  // namespace RowLoopTesting

// Typed form: `body` receives the caller's own shared arguments.
template <class Shared>
void ForEachRow(uint32_t rows, size_t rowBytes, void (*body)(uint32_t, uint32_t, const Shared&),
                const Shared& shared, unsigned workers = kAutomaticWorkers) {
    struct Bound {
        void (*body)(uint32_t, uint32_t, const Shared&);
        const Shared* shared;
    };
    const Bound bound{body, &shared};
    ForEachRow(
        rows, rowBytes,
        [](uint32_t first, uint32_t end, const void* p) {
            const auto* b = static_cast<const Bound*>(p);
            b->body(first, end, *b->shared);
        },
        &bound, workers);
}
