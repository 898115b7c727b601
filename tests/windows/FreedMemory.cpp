#include "FreedMemory.h"

#include <windows.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr unsigned char Pattern = 0xDD;
// Enough for what a test frees while it watches; past it, blocks are freed.
constexpr std::size_t MaxBlocks = 1 << 16;

struct TBlock {
    void* Memory;
    std::size_t Size;
};

// Plain data with static initialisers: operator delete may run before and
// after any constructor of this file, and must not allocate.
std::atomic<bool> Watching{false};
SRWLOCK BlocksLock = SRWLOCK_INIT;
TBlock Kept[MaxBlocks];
std::size_t KeptCount = 0;

bool Keep(void* memory) {
    if (!memory || !Watching.load())
        return false;
    AcquireSRWLockExclusive(&BlocksLock);
    const bool room = KeptCount < MaxBlocks;
    if (room) {
        const std::size_t size = _msize(memory);
        std::memset(memory, Pattern, size);
        Kept[KeptCount++] = TBlock{memory, size};
    }
    ReleaseSRWLockExclusive(&BlocksLock);
    return room;
}

}  // namespace

void operator delete(void* memory) noexcept {
    if (!Keep(memory))
        std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }

void operator delete[](void* memory) noexcept { operator delete(memory); }

void operator delete[](void* memory, std::size_t) noexcept { operator delete(memory); }

TFreedMemoryWatch::TFreedMemoryWatch() { Watching.store(true); }

TFreedMemoryWatch::~TFreedMemoryWatch() {
    Watching.store(false);
    AcquireSRWLockExclusive(&BlocksLock);
    for (std::size_t i = 0; i < KeptCount; ++i)
        std::free(Kept[i].Memory);
    KeptCount = 0;
    ReleaseSRWLockExclusive(&BlocksLock);
}

std::size_t TFreedMemoryWatch::Blocks() const {
    AcquireSRWLockExclusive(&BlocksLock);
    const std::size_t count = KeptCount;
    ReleaseSRWLockExclusive(&BlocksLock);
    return count;
}

bool TFreedMemoryWatch::Untouched() const {
    AcquireSRWLockExclusive(&BlocksLock);
    bool untouched = true;
    for (std::size_t i = 0; i < KeptCount && untouched; ++i)
        for (std::size_t j = 0; j < Kept[i].Size && untouched; ++j)
            untouched = static_cast<const unsigned char*>(Kept[i].Memory)[j] == Pattern;
    ReleaseSRWLockExclusive(&BlocksLock);
    return untouched;
}
