#pragma once
// A platform thread owned by an object. The thread is created suspended; a
// descendant's constructor (or its creator) starts it with Resume once the
// object is whole.
//
// Destruction terminates the thread, starts it if it never started (so that
// it can see the flag) and waits for it to end. A descendant whose Execute
// uses its own members calls StopAndWait first in its own destructor, since
// those members are gone by the time the base destructor runs.

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>

#include "win/ScopedWin.h"

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The platform's value for a priority (THREAD_PRIORITY_*).
int PlatformPriority(TThreadPriority priority);

class TThread {
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    virtual const char* ClassName() const { return "TThread"; }

    HANDLE Handle() const { return Handle_.Get(); }
    DWORD ThreadID() const { return ThreadID_; }
    bool Terminated() const { return Terminated_.load(); }
    bool Suspended() const { return Suspended_.load(); }
    bool Finished() const { return Finished_.load(); }
    // Deletes the object when Execute has returned; for threads that no one
    // waits for.
    bool FreeOnTerminate() const { return FreeOnTerminate_.load(); }
    void SetFreeOnTerminate(bool value) { FreeOnTerminate_.store(value); }
    TThreadPriority Priority() const { return Priority_.load(); }
    void SetPriority(TThreadPriority priority);

    // Only sets the flag; Execute is expected to look at it.
    void Terminate() { Terminated_.store(true); }
    // Starts a suspended thread; nothing for a running one.
    void Resume();
    // Waits for the end and returns the exit code. On the window thread it
    // keeps running synchronised calls and sent messages meanwhile, so that
    // a thread blocked in Synchronize can finish.
    DWORD WaitFor();
    // The error that ended Execute, if any.
    std::exception_ptr FatalException() const { return FatalException_; }

    // Runs the call on the window thread and waits for it (see Synchronize.h).
    void Synchronize(const std::function<void()>& method);

protected:
    // Told on the thread after Execute has returned (also after an error).
    virtual void DoTerminate() {}
    // The thread's body.
    virtual void Execute() = 0;
    // Terminate, start if suspended, wait. Idempotent.
    void StopAndWait();

private:
    static DWORD WINAPI ThreadProc(void* parameter);

    TScopedHandle Handle_;
    DWORD ThreadID_ = 0;
    std::atomic<bool> Terminated_{false};
    std::atomic<bool> Suspended_{true};
    std::atomic<bool> Finished_{false};
    std::atomic<bool> FreeOnTerminate_{false};
    std::atomic<TThreadPriority> Priority_{tpNormal};
    std::exception_ptr FatalException_;
};

// A thread whose body is a function. Its destructor waits for the body.
class TAnonymousThread : public TThread {
public:
    explicit TAnonymousThread(std::function<void()> body) : Body_(std::move(body)) {}
    ~TAnonymousThread() override { StopAndWait(); }

protected:
    void Execute() override { Body_(); }

private:
    std::function<void()> Body_;
};

// Waits for a kernel object on the window thread while serving synchronised
// calls and sent messages; elsewhere a plain wait.
DWORD WaitServingWindowThread(HANDLE object, DWORD milliseconds);
