#pragma once
// A use-after-free detector for tests of code that a handler may free under
// its feet: while a TFreedMemoryWatch lives, every block given back with
// delete (on any thread) is filled with a pattern and kept instead of being
// freed. A later read of a pointer in it fails at once (the pattern is no
// address), and a later write shows in Untouched. The blocks are freed when
// the watch ends. Link FreedMemory.cpp into the test: it replaces the
// program's operator delete.

#include <cstddef>

class TFreedMemoryWatch {
public:
    TFreedMemoryWatch();
    ~TFreedMemoryWatch();
    TFreedMemoryWatch(const TFreedMemoryWatch&) = delete;
    TFreedMemoryWatch& operator=(const TFreedMemoryWatch&) = delete;

    // Blocks kept so far.
    std::size_t Blocks() const;
    // Every kept block still holds nothing but the pattern.
    bool Untouched() const;
};
