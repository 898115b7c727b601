#pragma once
// Heap allocations made through operator new, counted for the whole process.
// An executable that links AllocationCounter.cpp gets the counting operator new.

#include <cstdint>

uint64_t HeapAllocations();
