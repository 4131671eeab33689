#pragma once
// Counts heap allocations: the benchmark binary replaces the global operator
// new and delete (alloc_counter.cpp), so every allocation of the plug-in, the
// host library and the standard library passes through one counter. A region
// is measured as the difference of two readings.
#include <cstdint>

namespace bench {

// Allocations (every form of operator new) since the program started.
uint64_t AllocationCount();

// Allocations made while the object lives, read with Count().
class AllocationScope {
public:
    AllocationScope() : start_(AllocationCount()) {}
    uint64_t Count() const { return AllocationCount() - start_; }

private:
    uint64_t start_;
};

}  // namespace bench
