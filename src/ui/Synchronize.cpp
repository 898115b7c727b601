#include "ui/Synchronize.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>

#include "win/CriticalSection.h"
#include "win/ScopedWin.h"

namespace {

// Captured during static initialisation, which runs on the process's first
// thread.
const DWORD MainThread = GetCurrentThreadId();

struct TSyncRequest {
    const std::function<void()>* Method;
    DWORD Caller;
    uint64_t Sequence;
    std::exception_ptr Error;
    bool Done = false;
};

// The calls the window thread is running, innermost first; window thread only.
struct TServing {
    DWORD Caller;
    const TServing* Outer;
};
const TServing* Serving = nullptr;

// The queue's lock; a condition variable waits on the SRW lock itself.
struct TQueueLock {
    SRWLOCK Lock_ = SRWLOCK_INIT;
    void Lock() { AcquireSRWLockExclusive(&Lock_); }
    void Unlock() { ReleaseSRWLockExclusive(&Lock_); }
};

// Constant-initialised: no construction order to worry about and nothing to
// release (SRW locks and condition variables own no handle).
constinit TQueueLock QueueLock;
CONDITION_VARIABLE QueueDone = CONDITION_VARIABLE_INIT;
std::deque<TSyncRequest*>& Queue() {
    static std::deque<TSyncRequest*> queue;
    return queue;
}
uint64_t NextSequence = 0;  // under QueueLock
int EventWaits = 0;         // under QueueLock: registered TSynchronizeWaits
std::atomic<HWND> WakeWindow{nullptr};

class TExclusive : public TScopedLock<TQueueLock> {
public:
    TExclusive() : TScopedLock(QueueLock) {}
};

}  // namespace

DWORD MainThreadId() { return MainThread; }

bool InMainThread() { return GetCurrentThreadId() == MainThread; }

HANDLE SynchronizeEvent() {
    static TScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return event.Get();
}

void SetSynchronizeWindow(HWND window) { WakeWindow.store(window); }

TSynchronizeWait::TSynchronizeWait() {
    TExclusive lock;
    ++EventWaits;
}

TSynchronizeWait::~TSynchronizeWait() {
    TExclusive lock;
    --EventWaits;
}

void Synchronize(const std::function<void()>& method) {
    if (InMainThread()) {
        method();
        return;
    }
    TSyncRequest request{&method, GetCurrentThreadId(), 0, nullptr};
    bool signal;
    {
        TExclusive lock;
        request.Sequence = NextSequence++;
        Queue().push_back(&request);
        signal = EventWaits > 0;
    }
    if (signal)
        SetEvent(SynchronizeEvent());
    if (HWND window = WakeWindow.load())
        PostMessageW(window, WM_NULL, 0, 0);
    {
        TExclusive lock;
        while (!request.Done)
            SleepConditionVariableSRW(&QueueDone, &QueueLock.Lock_, INFINITE, 0);
    }
    if (request.Error)
        std::rethrow_exception(request.Error);
}

bool CheckSynchronize() {
    if (!InMainThread())
        return false;
    uint64_t end;
    {
        TExclusive lock;
        end = NextSequence;
    }
    bool ran = false;
    for (;;) {
        TSyncRequest* request = nullptr;
        {
            TExclusive lock;
            if (!Queue().empty() && Queue().front()->Sequence < end) {
                request = Queue().front();
                Queue().pop_front();
            }
        }
        if (!request)
            return ran;
        ran = true;
        const TServing serving{request->Caller, Serving};
        Serving = &serving;
        try {
            (*request->Method)();
        } catch (...) {
            request->Error = std::current_exception();
        }
        Serving = serving.Outer;
        {
            TExclusive lock;
            request->Done = true;
        }
        WakeAllConditionVariable(&QueueDone);
    }
}

bool ServingCallOf(DWORD threadId) {
    if (!InMainThread())
        return false;
    for (const TServing* serving = Serving; serving; serving = serving->Outer)
        if (serving->Caller == threadId)
            return true;
    return false;
}

int QueuedCalls() {
    TExclusive lock;
    return static_cast<int>(Queue().size());
}
