#pragma once
// Heap allocations made through operator new by the calling thread.
// An executable that links AllocationCounter.cpp gets the counting operator new.

#include <cstdint>

uint64_t HeapAllocations();
