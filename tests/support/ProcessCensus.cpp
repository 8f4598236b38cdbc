// What the process holds at one moment, for the leak and unload tests.
#include "tests/support/ProcessCensus.h"

#include <vector>

HeapUse WalkHeap(HANDLE heap) {
    HeapUse use;
    if (!HeapLock(heap)) return use;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
        if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
        ++use.blocks;
        use.bytes += int64_t(entry.cbData);
    }
    HeapUnlock(heap);
    return use;
}

namespace {

// Wine answers 0 to GetProcessHandleCount: then the handle values are tried one by one.
// Kernel handles are multiples of 4 handed out lowest first, so the search ends after a
// long run of values that are not open.
int64_t CountHandles() {
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0) return handles;
    constexpr uintptr_t kClosedRun = 1024;
    int64_t open = 0;
    uintptr_t lastOpen = 0;
    for (uintptr_t value = 4; value <= lastOpen + 4 * kClosedRun; value += 4) {
        DWORD flags = 0;
        if (!GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) continue;
        ++open;
        lastOpen = value;
    }
    return open;
}

// Committed private memory, region by region (Wine reports no PrivateUsage).
int64_t CountPrivateBytes() {
    int64_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    uintptr_t at = 0;
    while (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region)) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += int64_t(region.RegionSize);
        const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

}  // namespace

ProcessCensus TakeCensus() {
    ProcessCensus census;
    census.handles = CountHandles();
    // Wine does not count these (GetGuiResources answers 0); Windows does.
    census.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    census.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    census.privateBytes = CountPrivateBytes();

    census.processHeap = WalkHeap(GetProcessHeap());
    census.allHeaps = WalkAllHeaps();
    return census;
}

HeapUse WalkAllHeaps() {
    // The list is read twice: the first call gives the count.
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(DWORD(heaps.size()), heaps.data()));
    HeapUse all;
    for (HANDLE heap : heaps) {
        const HeapUse use = WalkHeap(heap);
        all.blocks += use.blocks;
        all.bytes += use.bytes;
    }
    return all;
}

std::string DescribeGrowth(const ProcessCensus& before, const ProcessCensus& after) {
    auto line = [](const char* what, int64_t from, int64_t to) {
        return std::string(what) + ": " + std::to_string(from) + " -> " + std::to_string(to) + " (" +
               (to >= from ? "+" : "") + std::to_string(to - from) + ")\n";
    };
    return line("handles", before.handles, after.handles) + line("GDI objects", before.gdiObjects, after.gdiObjects) +
           line("USER objects", before.userObjects, after.userObjects) +
           line("private bytes", before.privateBytes, after.privateBytes) +
           line("process heap blocks", before.processHeap.blocks, after.processHeap.blocks) +
           line("process heap bytes", before.processHeap.bytes, after.processHeap.bytes) +
           line("all heaps blocks", before.allHeaps.blocks, after.allHeaps.blocks) +
           line("all heaps bytes", before.allHeaps.bytes, after.allHeaps.bytes);
}
