#pragma once
// TJvTimer: calls OnTimer every Interval milliseconds, either from a worker
// thread that measures the time in 10 ms sleeps (Threaded, the default; the
// handler then runs on the window thread by synchronisation unless SyncEvent
// is off) or from a message-based window timer.
//
// The worker and the window timer are created and freed on the window
// thread only, and never from inside their own tick: inside it (on the
// thread that runs OnTimer, or on the window thread while it runs a call the
// handler waits for) a stop only holds them. A timer destroyed from inside
// its own tick releases its worker instead of waiting for it: the worker
// ends by itself once the tick has returned, touching nothing of the timer.
// Elsewhere, destruction and every change that ends the worker wait for it,
// serving the synchronised call it may be waiting for, whose handler may
// free the timer: nothing of it is touched after such a wait unless it
// still lives.
//
// An error of an unsynchronised handler is kept (LastError) and shown on the
// window thread, one box at a time with every other error of the program
// (TApplication::ReportException); the worker's next tick waits while an
// error box is open.
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "rtl/LifeToken.h"
#include "ui/Component.h"
#include "ui/Thread.h"
#include "ui/WindowTimer.h"
#include "win/CriticalSection.h"
#include "win/SharedEvent.h"

enum TJvTimerEventTime { tetPre, tetPost };

class TJvTimer;

// A thread with a name that a debugger shows.
class TJvCustomThread : public TThread {
public:
    const char* ClassName() const override { return "TJvCustomThread"; }
    const std::string& DebugName() const { return DebugName_; }

    virtual std::string ComposeDebugName();
    virtual void SetDebugName(const std::string& name) { DebugName_ = name; }
    // Raises the debugger's thread-naming exception and ignores it; a
    // threadId of -1 names the calling thread.
    virtual void AnnounceDebugName(const std::string& name, DWORD threadId);

private:
    std::string DebugName_;
};

class TJvTimerThread : public TJvCustomThread {
public:
    // Created suspended unless enabled; the timer always passes false and
    // starts it by clearing the pause.
    TJvTimerThread(TJvTimer* timer, bool enabled);
    ~TJvTimerThread() override;
    const char* ClassName() const override { return "TJvTimerThread"; }

    bool Paused();
    void SetPaused(bool paused);

    unsigned WaitInterval() const { return WaitInterval_.load(std::memory_order_relaxed); }
    void SetWaitInterval(unsigned milliseconds) { WaitInterval_.store(milliseconds, std::memory_order_relaxed); }
    void ResetWaitedMs() { WaitedMs_.store(0, std::memory_order_relaxed); }
    // The last error caught from an unsynchronised handler call.
    std::exception_ptr LastError() const;
    // For a timer destroyed from inside its tick: forget the timer, end
    // after the tick and free this object then.
    void Release();

protected:
    void Execute() override;

private:
    bool Stopping() const;
    void Wait();
    // An unsynchronised handler's error: kept, and shown on the window thread.
    void ReportError(const std::exception_ptr& error);

    std::atomic<TJvTimer*> OwnerTimer_;
    std::atomic<unsigned> WaitInterval_{1000};
    std::exception_ptr LastError_;
    bool PauseRequested_ = false;
    mutable TCriticalSection PauseGuard_;  // also guards LastError_
    std::atomic<unsigned> WaitedMs_{0};
};

class TJvTimer : public TComponent {
public:
    explicit TJvTimer(TComponent* owner);
    ~TJvTimer() override;
    const char* ClassName() const override { return "TJvTimer"; }

    bool Enabled() const { return Enabled_.load(); }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return Interval_.load(); }
    void SetInterval(unsigned milliseconds);
    TNotifyEvent OnTimer() const;
    void SetOnTimer(TNotifyEvent handler);
    bool SyncEvent() const { return SyncEvent_.load(); }
    void SetSyncEvent(bool syncEvent) { SyncEvent_.store(syncEvent); }
    bool Threaded() const { return Threaded_; }
    void SetThreaded(bool threaded);
    TJvTimerEventTime EventTime() const { return EventTime_.load(); }
    void SetEventTime(TJvTimerEventTime eventTime) { EventTime_.store(eventTime); }
    TThreadPriority ThreadPriority() const { return ThreadPriority_; }
    void SetThreadPriority(TThreadPriority priority);

    // Runs the method on the window thread: directly when called there,
    // else through a synchronised call that the caller waits for. A worker
    // of a timer that is being destroyed drops the call instead.
    void CallSynchronized(const std::function<void()>& method);

    // Calls OnTimer when the timer is enabled and not being destroyed.
    virtual void FireTimer();

    // For tests and diagnostics: which of the two tick sources exists.
    TJvTimerThread* WorkerThread() const { return WorkerThread_.load(); }
    TWindowTimer* WindowTimer() const { return WindowTimer_.get(); }
    // OnTimer runs now, on some thread.
    bool HandlerRunning() const { return HandlerThread_.load() != 0; }
    // The calling thread is inside the tick: it runs OnTimer, or it is the
    // window thread running a call that the handler waits for.
    bool InOwnTick() const;
    bool BeingDestroyed() const { return Destroying_.load(); }

private:
    bool Active() const;
    void ApplyTimerState();
    // Off the window thread: only the existing worker is paused or set going.
    void AdjustWorker();
    // Pauses the worker, restarts its wait with Interval and its priority,
    // and sets it going (starting a new one).
    void RestartWorker(TJvTimerThread& worker);
    // Ends a worker taken from WorkerThread_: waits for it, or releases it
    // when it waits for the calling thread.
    static void EndWorker(TJvTimerThread* worker);

    std::atomic<bool> Enabled_{true};
    std::atomic<unsigned> Interval_{1000};
    TSharedEvent<TNotifyEvent> OnTimer_;  // the worker copies the handler
    std::atomic<bool> SyncEvent_{true};
    std::atomic<bool> Threaded_{true};
    std::atomic<TJvTimerThread*> WorkerThread_{nullptr};  // owned
    std::unique_ptr<TWindowTimer> WindowTimer_;
    // WorkerThread_, WindowTimer_ and the worker's settings while a state is
    // applied; never held while waiting for the worker.
    mutable TCriticalSection StateLock_;
    std::atomic<TJvTimerEventTime> EventTime_{tetPre};
    std::atomic<TThreadPriority> ThreadPriority_{tpNormal};
    // The thread that runs OnTimer (0: none); per thread, because a window
    // thread call must not be taken for one made inside an async tick.
    std::atomic<DWORD> HandlerThread_{0};
    std::atomic<bool> Destroying_{false};
    TLifeToken Life_;
};
