#include "ui/Synchronize.h"

#include <atomic>
#include <deque>
#include <exception>

#include "win/ScopedWin.h"

namespace {

// Captured during static initialisation, which runs on the process's first
// thread.
const DWORD MainThread = GetCurrentThreadId();

struct TSyncRequest {
    const std::function<void()>* Method;
    std::exception_ptr Error;
    bool Done = false;
};

// Plain data with static initialisers: no construction order to worry about
// and nothing to release (SRW locks and condition variables own no handle).
SRWLOCK QueueLock = SRWLOCK_INIT;
CONDITION_VARIABLE QueueDone = CONDITION_VARIABLE_INIT;
std::deque<TSyncRequest*>& Queue() {
    static std::deque<TSyncRequest*> queue;
    return queue;
}
std::atomic<HWND> WakeWindow{nullptr};

class TExclusive {
public:
    TExclusive() { AcquireSRWLockExclusive(&QueueLock); }
    ~TExclusive() { ReleaseSRWLockExclusive(&QueueLock); }
    TExclusive(const TExclusive&) = delete;
    TExclusive& operator=(const TExclusive&) = delete;
};

}  // namespace

DWORD MainThreadId() { return MainThread; }

bool InMainThread() { return GetCurrentThreadId() == MainThread; }

HANDLE SynchronizeEvent() {
    static TScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return event.Get();
}

void SetSynchronizeWindow(HWND window) { WakeWindow.store(window); }

void Synchronize(const std::function<void()>& method) {
    if (InMainThread()) {
        method();
        return;
    }
    TSyncRequest request{&method, nullptr};
    {
        TExclusive lock;
        Queue().push_back(&request);
    }
    SetEvent(SynchronizeEvent());
    if (HWND window = WakeWindow.load())
        PostMessageW(window, WM_NULL, 0, 0);
    {
        TExclusive lock;
        while (!request.Done)
            SleepConditionVariableSRW(&QueueDone, &QueueLock, INFINITE, 0);
    }
    if (request.Error)
        std::rethrow_exception(request.Error);
}

void AcquireServingSynchronize(const std::function<bool()>& tryAcquire, const std::function<void()>& acquire) {
    if (!InMainThread()) {
        acquire();
        return;
    }
    while (!tryAcquire()) {
        CheckSynchronize();
        // Woken at once by a queued call; the lock itself is polled.
        WaitForSingleObject(SynchronizeEvent(), 1);
    }
}

bool CheckSynchronize() {
    if (!InMainThread())
        return false;
    std::deque<TSyncRequest*> pending;
    {
        TExclusive lock;
        pending.swap(Queue());
    }
    for (TSyncRequest* request : pending) {
        try {
            (*request->Method)();
        } catch (...) {
            request->Error = std::current_exception();
        }
        {
            TExclusive lock;
            request->Done = true;
        }
        WakeAllConditionVariable(&QueueDone);
    }
    return !pending.empty();
}
