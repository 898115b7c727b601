#include "ui/Thread.h"

#include "rtl/Errors.h"
#include "ui/Synchronize.h"

int PlatformPriority(TThreadPriority priority) {
    static const int values[] = {-15, -2, -1, 0, 1, 2, 15};
    return values[priority];
}

TThread::TThread() {
    Handle_.Reset(CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &ThreadID_));
    if (!Handle_.Get())
        throw Exception(Format("Thread creation error: %lu", GetLastError()));
}

TThread::~TThread() { StopAndWait(); }

void TThread::StopAndWait() {
    // A free-on-terminate thread deletes itself and must not wait for itself.
    if (GetCurrentThreadId() == ThreadID_)
        return;
    Terminate();
    Resume();
    WaitFor();
}

void TThread::SetPriority(TThreadPriority priority) {
    Priority_.store(priority);
    SetThreadPriority(Handle_.Get(), PlatformPriority(priority));
}

void TThread::Resume() {
    if (Suspended_.exchange(false))
        ResumeThread(Handle_.Get());
}

DWORD TThread::WaitFor() {
    WaitServingWindowThread(Handle_.Get(), INFINITE);
    DWORD code = 0;
    GetExitCodeThread(Handle_.Get(), &code);
    return code;
}

void TThread::Synchronize(const std::function<void()>& method) { ::Synchronize(method); }

DWORD WINAPI TThread::ThreadProc(void* parameter) {
    auto* thread = static_cast<TThread*>(parameter);
    try {
        if (!thread->Terminated())
            thread->Execute();
    } catch (...) {
        thread->FatalException_ = std::current_exception();
    }
    const bool freeOnTerminate = thread->FreeOnTerminate();
    try {
        thread->DoTerminate();
    } catch (...) {
    }
    thread->Finished_.store(true);
    if (freeOnTerminate)
        delete thread;
    return 0;
}

DWORD WaitServingWindowThread(HANDLE object, DWORD milliseconds) {
    if (!InMainThread())
        return WaitForSingleObject(object, milliseconds);
    const DWORD start = GetTickCount();
    HANDLE handles[] = {object, SynchronizeEvent()};
    const TSynchronizeWait waiting;
    for (;;) {
        // Calls queued before the wait began did not set the event.
        CheckSynchronize();
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= milliseconds)
                return WaitForSingleObject(object, 0);
            left = milliseconds - spent;
        }
        const DWORD result = MsgWaitForMultipleObjects(2, handles, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0 || result == WAIT_TIMEOUT || result == WAIT_FAILED)
            return result;
        if (result == WAIT_OBJECT_0 + 2) {
            // Peeking delivers the messages other threads sent to our windows.
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}
