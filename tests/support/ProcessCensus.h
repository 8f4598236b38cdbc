// What the process holds at one moment: handles, window-system objects, private memory and
// the busy blocks of its heaps, for the leak and unload tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct HeapUse {
    int64_t blocks = 0;
    int64_t bytes = 0;
};

struct ProcessCensus {
    int64_t handles = 0;
    int64_t gdiObjects = 0;
    int64_t userObjects = 0;
    int64_t privateBytes = 0;
    // The process heap, where LocalAlloc takes the blocks handed to the host.
    HeapUse processHeap;
    // Every heap of the process, the C runtime's among them.
    HeapUse allHeaps;
};

// Counts everything; call it with no other thread of the test running.
ProcessCensus TakeCensus();

// The busy blocks of one heap, and of all heaps of the process.
HeapUse WalkHeap(HANDLE heap);
HeapUse WalkAllHeaps();

// The growth from `before` to `after`, one figure per line, for failure messages and logs.
std::string DescribeGrowth(const ProcessCensus& before, const ProcessCensus& after);
