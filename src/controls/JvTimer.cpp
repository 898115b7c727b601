#include "controls/JvTimer.h"

#include "rtl/Errors.h"
#include "ui/Application.h"
#include "ui/Synchronize.h"

namespace {

constexpr DWORD ThreadNameException = 0x406D1388;
constexpr unsigned WaitStep = 10;

// Swallows the thread-naming exception once a debugger (if any) has seen it.
LONG CALLBACK IgnoreThreadName(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == ThreadNameException ? EXCEPTION_CONTINUE_EXECUTION
                                                                        : EXCEPTION_CONTINUE_SEARCH;
}

class TScopedVectoredHandler {
public:
    explicit TScopedVectoredHandler(PVECTORED_EXCEPTION_HANDLER handler)
        : Handle_(AddVectoredExceptionHandler(1, handler)) {}
    ~TScopedVectoredHandler() {
        if (Handle_)
            RemoveVectoredExceptionHandler(Handle_);
    }
    TScopedVectoredHandler(const TScopedVectoredHandler&) = delete;
    TScopedVectoredHandler& operator=(const TScopedVectoredHandler&) = delete;

private:
    void* Handle_;
};

}  // namespace

// TJvCustomThread

std::string TJvCustomThread::ComposeDebugName() {
    if (DebugName_.empty())
        return ClassName();
    return DebugName_ + " {" + ClassName() + "}";
}

void TJvCustomThread::AnnounceDebugName(const std::string& name, DWORD threadId) {
    const ULONG_PTR arguments[4] = {0x1000, reinterpret_cast<ULONG_PTR>(name.c_str()), threadId, 0};
    TScopedVectoredHandler ignore(IgnoreThreadName);
    RaiseException(ThreadNameException, 0, 4, arguments);
}

// TJvTimerThread

TJvTimerThread::TJvTimerThread(TJvTimer* timer, bool enabled) : OwnerTimer_(timer) {
    SetFreeOnTerminate(false);
    SetDebugName(Format("%s: %s", "TJvTimerThread", timer->Name().c_str()));
    if (enabled)
        Resume();
}

TJvTimerThread::~TJvTimerThread() {
    // The body uses PauseGuard_: end it before the members go.
    StopAndWait();
}

bool TJvTimerThread::Paused() {
    TScopedLock<TCriticalSection> lock(PauseGuard_);
    return PauseRequested_;
}

void TJvTimerThread::SetPaused(bool paused) {
    if (Paused() == paused)
        return;
    {
        TScopedLock<TCriticalSection> lock(PauseGuard_);
        PauseRequested_ = paused;
    }
    if (!paused && Suspended())
        Resume();
}

std::exception_ptr TJvTimerThread::LastError() const {
    TScopedLock<TCriticalSection> lock(PauseGuard_);
    return LastError_;
}

void TJvTimerThread::Release() {
    OwnerTimer_.store(nullptr);
    SetFreeOnTerminate(true);
    Terminate();
    SetPaused(false);
}

bool TJvTimerThread::Stopping() const {
    return Terminated() || (Application && Application->Terminated()) || !OwnerTimer_.load();
}

void TJvTimerThread::Wait() {
    WaitedMs_.store(0, std::memory_order_relaxed);
    while (!Stopping() && WaitedMs_.load(std::memory_order_relaxed) < WaitInterval_.load(std::memory_order_relaxed)) {
        SleepEx(WaitStep, FALSE);
        WaitedMs_.fetch_add(WaitStep, std::memory_order_relaxed);
    }
}

void TJvTimerThread::ReportError(const std::exception_ptr& error) {
    {
        TScopedLock<TCriticalSection> lock(PauseGuard_);
        LastError_ = error;
    }
    if (!Application)
        return;
    // Shown on the window thread, everything but the silent abort; not once
    // this worker is being ended, since its box would open inside the code
    // that ends it.
    Synchronize([this, error] {
        if (!Terminated())
            Application->ReportException(error);
    });
    // While an error box is open the next tick waits: it would most likely
    // fail as well, and its error would only wait behind this one.
    while (Application->ReportingErrors() && !Stopping())
        SleepEx(WaitStep, TRUE);
}

void TJvTimerThread::Execute() {
    AnnounceDebugName(ComposeDebugName(), static_cast<DWORD>(-1));
    while (!Terminated()) {
        const TJvTimerEventTime eventTime = [this] {
            const TJvTimer* timer = OwnerTimer_.load();
            return timer ? timer->EventTime() : tetPre;
        }();
        if (eventTime == tetPost)
            Wait();
        // The timer lives while this thread is not stopping: it waits for
        // the thread, or releases it (OwnerTimer_ cleared) from inside the
        // tick, after which nothing here touches it again.
        TJvTimer* timer = OwnerTimer_.load();
        if (!Stopping() && timer->Enabled()) {
            if (timer->SyncEvent()) {
                // An error from the handler ends this thread (kept as its
                // fatal error); no further ticks come.
                Synchronize([timer] { timer->FireTimer(); });
            } else {
                try {
                    timer->FireTimer();
                } catch (const Exception&) {
                    ReportError(std::current_exception());
                }
            }
        }
        if (eventTime == tetPre)
            Wait();
        while (Paused() && !Terminated())
            SleepEx(WaitStep, TRUE);
        // After the quit message both waits end at once: idle instead of
        // spinning until the owner ends the thread.
        if (Stopping() && !Terminated())
            SleepEx(WaitStep, TRUE);
    }
}

// TJvTimer

TJvTimer::TJvTimer(TComponent* owner) : TComponent(owner) {}

TJvTimer::~TJvTimer() {
    Destroying();
    Destroying_.store(true);
    Enabled_.store(false);
    OnTimer_ = nullptr;
    Life_.End();
    TJvTimerThread* worker;
    {
        TScopedLock<TCriticalSection> lock(StateLock_);
        worker = WorkerThread_.exchange(nullptr);
        WindowTimer_.reset();
    }
    // Waits for the worker, serving a synchronised tick it may be blocked
    // in; from inside the tick, releases it.
    if (worker)
        EndWorker(worker);
}

void TJvTimer::EndWorker(TJvTimerThread* worker) {
    if (worker->ThreadID() == GetCurrentThreadId() || ServingCallOf(worker->ThreadID())) {
        // It waits for the call that is running here, or this is it.
        worker->Release();
        return;
    }
    delete worker;
}

void TJvTimer::SetEnabled(bool enabled) {
    if (Enabled_.load() == enabled)
        return;
    Enabled_.store(enabled);
    ApplyTimerState();
}

void TJvTimer::SetInterval(unsigned milliseconds) {
    if (Interval_.load() == milliseconds)
        return;
    Interval_.store(milliseconds);
    ApplyTimerState();
}

TNotifyEvent TJvTimer::OnTimer() const { return OnTimer_.Get(); }

void TJvTimer::SetOnTimer(TNotifyEvent handler) {
    const bool changed = static_cast<bool>(OnTimer_) != static_cast<bool>(handler);
    OnTimer_ = std::move(handler);
    // Replacing one handler by another leaves the running wait alone.
    if (changed)
        ApplyTimerState();
}

void TJvTimer::SetThreaded(bool threaded) {
    if (Threaded_.load() == threaded)
        return;
    // The handler would otherwise wait for its own thread to end.
    if (InOwnTick())
        throw Exception(Format("Cannot change %s in the timer event", "TJvTimer.Threaded"));
    Threaded_.store(threaded);
    ApplyTimerState();
}

void TJvTimer::SetThreadPriority(TThreadPriority priority) {
    if (ThreadPriority_.load() == priority)
        return;
    ThreadPriority_.store(priority);
    if (Threaded_.load())
        ApplyTimerState();
}

bool TJvTimer::InOwnTick() const {
    const DWORD handlerThread = HandlerThread_.load();
    return handlerThread != 0 && (handlerThread == GetCurrentThreadId() || ServingCallOf(handlerThread));
}

bool TJvTimer::Active() const {
    return Interval_.load() != 0 && Enabled_.load() && static_cast<bool>(OnTimer_);
}

void TJvTimer::RestartWorker(TJvTimerThread& worker) {
    worker.SetPaused(true);
    worker.ResetWaitedMs();
    worker.SetWaitInterval(Interval_.load());
    worker.SetPriority(ThreadPriority_.load());
    worker.SetPaused(false);
}

void TJvTimer::AdjustWorker() {
    TScopedLock<TCriticalSection> lock(StateLock_);
    TJvTimerThread* worker = WorkerThread_.load();
    if (!worker)
        return;
    if (Active() && Threaded_.load())
        RestartWorker(*worker);
    else
        worker->SetPaused(true);
}

void TJvTimer::ApplyTimerState() {
    if (!InMainThread()) {
        AdjustWorker();
        return;
    }
    // Waiting for a worker to end serves the call it waits for, whose
    // handler may free this timer.
    const TLifeWatch alive = Life_.Watch();
    for (;;) {
        TJvTimerThread* retired = nullptr;
        {
            TScopedLock<TCriticalSection> lock(StateLock_);
            const bool active = Active();
            if (active && Threaded_.load()) {
                WindowTimer_.reset();
                TJvTimerThread* worker = WorkerThread_.load();
                if (!worker) {
                    worker = new TJvTimerThread(this, false);
                    WorkerThread_.store(worker);
                }
                RestartWorker(*worker);
                return;
            }
            if (active) {
                retired = WorkerThread_.exchange(nullptr);
                if (!retired) {
                    if (!WindowTimer_)
                        WindowTimer_ = std::make_unique<TWindowTimer>();
                    WindowTimer_->SetInterval(Interval_.load());
                    WindowTimer_->SetOnTimer([this] { FireTimer(); });
                    WindowTimer_->SetEnabled(true);
                    return;
                }
            } else if (InOwnTick()) {
                // Never free the tick source from inside its own tick.
                if (TJvTimerThread* worker = WorkerThread_.load())
                    worker->SetPaused(true);
                if (WindowTimer_)
                    WindowTimer_->SetEnabled(false);
                return;
            } else {
                retired = WorkerThread_.exchange(nullptr);
                WindowTimer_.reset();
                if (!retired)
                    return;
            }
        }
        EndWorker(retired);
        if (!alive)
            return;
        // Calls served while waiting may have changed the state: decide again.
    }
}

void TJvTimer::CallSynchronized(const std::function<void()>& method) {
    if (InMainThread())
        method();
    else if (!Destroying_.load())
        Synchronize(method);
}

void TJvTimer::FireTimer() {
    if (!Enabled_.load() || Destroying_.load())
        return;
    const TNotifyEvent handler = OnTimer_.Get();
    if (!handler)
        return;
    // The handler may free this timer: nothing of it is touched afterwards.
    const TLifeWatch alive = Life_.Watch();
    struct TRunning {
        TJvTimer& Timer;
        const TLifeWatch& Alive;
        DWORD Outer;
        ~TRunning() {
            if (Alive)
                Timer.HandlerThread_.store(Outer);
        }
    } running{*this, alive, HandlerThread_.exchange(GetCurrentThreadId())};
    handler(this);
}
