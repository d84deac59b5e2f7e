// SPDX-License-Identifier: MIT
#include "HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <new>

namespace HeapCounter {
std::atomic<bool> g_counting{false};
std::atomic<long long> g_newBytes{0};
std::atomic<long long> g_heapBytes{0};
} // namespace HeapCounter

using HeapCounter::g_counting;
using HeapCounter::g_heapBytes;
using HeapCounter::g_newBytes;

// ---------------------------------------------------------------------------------
// Heap accounting. A counting global operator new/delete gives the bytes the library
// allocates with new; Qt allocates text and byte buffers with malloc, so the C
// allocator's entry points are counted too (forwarding to glibc's own), which gives
// everything the heap holds. Both count only while a measurement runs, so the timed
// benchmarks pay one relaxed load per allocation.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

long long usable(void* p) noexcept
{
    return static_cast<long long>(malloc_usable_size(p));
}

void* counted(std::atomic<long long>& counter, void* p) noexcept
{
    if (p && g_counting.load(std::memory_order_relaxed))
        counter.fetch_add(usable(p), std::memory_order_relaxed);
    return p;
}

void uncount(std::atomic<long long>& counter, void* p) noexcept
{
    if (p && g_counting.load(std::memory_order_relaxed))
        counter.fetch_sub(usable(p), std::memory_order_relaxed);
}

void* countedNew(std::size_t n)
{
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return counted(g_newBytes, p);
    throw std::bad_alloc();
}

void countedDelete(void* p) noexcept
{
    uncount(g_newBytes, p);
    std::free(p);
}

} // namespace

extern "C" {
void* malloc(std::size_t n) noexcept
{
    return counted(g_heapBytes, __libc_malloc(n));
}
void* calloc(std::size_t n, std::size_t size) noexcept
{
    return counted(g_heapBytes, __libc_calloc(n, size));
}
void* realloc(void* p, std::size_t n) noexcept
{
    uncount(g_heapBytes, p);
    void* q = __libc_realloc(p, n);
    return counted(g_heapBytes, q ? q : (n ? p : nullptr));
}
void* memalign(std::size_t alignment, std::size_t n) noexcept
{
    return counted(g_heapBytes, __libc_memalign(alignment, n));
}
void* aligned_alloc(std::size_t alignment, std::size_t n) noexcept
{
    return memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) noexcept
{
    void* p = memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) noexcept
{
    uncount(g_heapBytes, p);
    __libc_free(p);
}
}

void* operator new(std::size_t n)
{
    return countedNew(n);
}
void* operator new[](std::size_t n)
{
    return countedNew(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return counted(g_newBytes, std::malloc(n == 0 ? 1 : n));
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return counted(g_newBytes, std::malloc(n == 0 ? 1 : n));
}
void operator delete(void* p) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p) noexcept
{
    countedDelete(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    countedDelete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    countedDelete(p);
}
