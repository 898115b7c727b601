#pragma once
// TJvTimer: calls OnTimer every Interval milliseconds, either from a worker
// thread that measures the time in 10 ms sleeps (Threaded, the default; the
// handler then runs on the window thread by synchronisation unless SyncEvent
// is off) or from a message-based window timer.

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "ui/Component.h"
#include "ui/Thread.h"
#include "ui/WindowTimer.h"
#include "win/CriticalSection.h"

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

protected:
    void Execute() override;

private:
    bool Stopping() const;
    void Wait();

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

    // Runs the method on the window thread when called from a running
    // worker, else directly on the calling thread.
    void CallSynchronized(const std::function<void()>& method);

    // Calls OnTimer when the timer is enabled and not being destroyed.
    virtual void FireTimer();

    // For tests and diagnostics: which of the two tick sources exists.
    TJvTimerThread* WorkerThread() const { return WorkerThread_.load(); }
    TWindowTimer* WindowTimer() const { return WindowTimer_.get(); }
    bool HandlerRunning() const { return HandlerRunning_.load(); }
    bool BeingDestroyed() const { return Destroying_.load(); }

private:
    void ApplyTimerState();
    void FreeWorker();

    std::atomic<bool> Enabled_{true};
    std::atomic<unsigned> Interval_{1000};
    TNotifyEvent OnTimer_;
    mutable TCriticalSection OnTimerLock_;  // the worker copies the handler
    std::atomic<bool> SyncEvent_{true};
    bool Threaded_ = true;
    std::atomic<TJvTimerThread*> WorkerThread_{nullptr};  // owned
    std::unique_ptr<TWindowTimer> WindowTimer_;
    std::atomic<TJvTimerEventTime> EventTime_{tetPre};
    TThreadPriority ThreadPriority_ = tpNormal;
    std::atomic<bool> HandlerRunning_{false};
    std::atomic<bool> Destroying_{false};
};
