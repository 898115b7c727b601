#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

// The library's other forms of new (arrays, nothrow) end in this one;
// over-aligned allocations are not counted. Counted per thread: a locked
// increment would make every allocation of the timed decoders slower.

namespace {
thread_local uint64_t allocations = 0;
}

uint64_t HeapAllocations() {
    return allocations;
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
