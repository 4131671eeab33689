// The global allocation functions of the benchmark binary: malloc and free
// behind a counter. The shared host library and the standard library resolve
// operator new to these definitions, so their allocations are counted too.
#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// Plain load and store, not an atomic increment: the benchmarks run on one
// thread, and a locked instruction per allocation would weigh on the timings.
std::atomic<uint64_t> g_allocations{0};

void Count() {
    g_allocations.store(g_allocations.load(std::memory_order_relaxed) + 1,
                        std::memory_order_relaxed);
}

void* AllocateOrNull(std::size_t size) noexcept {
    Count();
    return std::malloc(size == 0 ? 1 : size);
}

void* Allocate(std::size_t size) {
    if (void* p = AllocateOrNull(size)) return p;
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    Count();
    const auto alignment = static_cast<std::size_t>(align);
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    if (void* p = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded)) return p;
    throw std::bad_alloc();
}
}  // namespace

namespace bench {
uint64_t AllocationCount() { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace bench

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new(std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
