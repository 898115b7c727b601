#pragma once
// A recursive lock (platform critical section) and its scope guard.

#include <windows.h>

class TCriticalSection {
public:
    TCriticalSection() { InitializeCriticalSection(&Section_); }
    ~TCriticalSection() { DeleteCriticalSection(&Section_); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&Section_); }
    void Leave() { LeaveCriticalSection(&Section_); }
    // Enters only when no other thread is inside.
    bool TryEnter() { return TryEnterCriticalSection(&Section_) != FALSE; }

private:
    CRITICAL_SECTION Section_;
};

// Holds a lock (anything with Enter and Leave) for one scope.
template <class L>
class TScopedLock {
public:
    explicit TScopedLock(L& lock) : Lock_(lock) { Lock_.Enter(); }
    ~TScopedLock() { Lock_.Leave(); }
    TScopedLock(const TScopedLock&) = delete;
    TScopedLock& operator=(const TScopedLock&) = delete;

private:
    L& Lock_;
};
