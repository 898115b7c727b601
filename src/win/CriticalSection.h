#pragma once
// A recursive lock (platform critical section) and the scope guards of every
// lock in the program.

#include <windows.h>

class TCriticalSection {
public:
    TCriticalSection() { InitializeCriticalSection(&Section_); }
    ~TCriticalSection() { DeleteCriticalSection(&Section_); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    void Lock() { EnterCriticalSection(&Section_); }
    void Unlock() { LeaveCriticalSection(&Section_); }
    // Enters only when no other thread is inside.
    bool TryLock() { return TryEnterCriticalSection(&Section_) != FALSE; }

private:
    CRITICAL_SECTION Section_;
};

// Holds a lock for one scope: Acquire when made, Release when it goes, also
// when an error passes. Any class with a pair of such operations fits
// (Lock and Unlock by default): a critical section, a canvas, an image
// control's picture lock.
template <class L, void (L::*Acquire)() = &L::Lock, void (L::*Release)() = &L::Unlock>
class TScopedLock {
public:
    explicit TScopedLock(L& lock) : Lock_(lock) { (Lock_.*Acquire)(); }
    ~TScopedLock() { (Lock_.*Release)(); }
    TScopedLock(const TScopedLock&) = delete;
    TScopedLock& operator=(const TScopedLock&) = delete;

private:
    L& Lock_;
};

// Holds a lock for one scope when it can be had at once (TryAcquire), for a
// thread that must not wait for the holder; converts to true when it holds.
template <class L, bool (L::*TryAcquire)(), void (L::*Release)()>
class TScopedTryLock {
public:
    explicit TScopedTryLock(L& lock) : Lock_(lock), Held_((lock.*TryAcquire)()) {}
    ~TScopedTryLock() {
        if (Held_)
            (Lock_.*Release)();
    }
    TScopedTryLock(const TScopedTryLock&) = delete;
    TScopedTryLock& operator=(const TScopedTryLock&) = delete;
    explicit operator bool() const { return Held_; }

private:
    L& Lock_;
    const bool Held_;
};
