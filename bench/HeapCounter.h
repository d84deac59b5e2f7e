// SPDX-License-Identifier: MIT
#pragma once

// The heap a benchmark's object holds, counted by the allocator interposer of
// HeapCounter.cpp (global operator new/delete and the C allocator's entry points).

#include <benchmark/benchmark.h>

#include <atomic>

namespace HeapCounter {

extern std::atomic<bool> g_counting;       // counting only while a measurement runs
extern std::atomic<long long> g_newBytes;  // held through operator new
extern std::atomic<long long> g_heapBytes; // held on the heap in all

struct HeapUse
{
    long long newBytes = 0;  // held through operator new
    long long heapBytes = 0; // held on the heap in all, Qt's text buffers included
};

// Heap held by the object that `make` returns, while it is alive (usable sizes of
// the blocks, without the allocator's own bookkeeping).
template <class Make> HeapUse heapOf(Make&& make)
{
    g_newBytes = 0;
    g_heapBytes = 0;
    g_counting = true;
    auto object = make();
    g_counting = false;
    const HeapUse use{g_newBytes.load(), g_heapBytes.load()};
    benchmark::DoNotOptimize(object);
    return use;
}

} // namespace HeapCounter
