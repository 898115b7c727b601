#pragma once
// Calls handed from other threads to the window thread. A caller queues its
// call, wakes the window thread and blocks until the call has run there; an
// error the call raises is raised again in the caller.
//
// The window thread serves the queue when it dispatches the wake-up message
// (a WM_NULL posted to the application's hidden window), whenever it handles
// all pending messages or goes idle, and while it waits for a thread to end.

#include <windows.h>

#include <functional>

// The program's window thread: the thread that started the process.
DWORD MainThreadId();
bool InMainThread();

// Runs the call on the window thread and returns when it has run; on the
// window thread itself it runs at once.
void Synchronize(const std::function<void()>& method);

// Runs the calls queued before it began, in the order they were queued, one
// at a time: a call that waits for a thread whose own call is still queued
// (freeing a timer whose worker waits) serves that call in its wait, and a
// worker that queues again at once cannot hold the window thread here.
// Window thread only; true when at least one ran.
bool CheckSynchronize();

// True while the window thread runs, at any depth, a call that the thread
// threadId queued and waits for: that thread cannot end before the call
// returns. False on any other thread.
bool ServingCallOf(DWORD threadId);

// Calls queued and not yet taken by the window thread (for tests).
int QueuedCalls();

// The window that receives the wake-up message; null when none (the queue
// is then served only by CheckSynchronize and thread waits).
void SetSynchronizeWindow(HWND window);

// An auto-reset event for waits of the window thread that must keep serving
// the queue: set when a call is queued while such a wait is registered
// (TSynchronizeWait), not otherwise, since setting it is a call into the
// system (a server round trip under Wine) on every synchronised call.
HANDLE SynchronizeEvent();

// Registers a wait on SynchronizeEvent for one scope. Calls queued before it
// was made did not set the event: serve the queue (CheckSynchronize) after
// making it and before waiting.
class TSynchronizeWait {
public:
    TSynchronizeWait();
    ~TSynchronizeWait();
    TSynchronizeWait(const TSynchronizeWait&) = delete;
    TSynchronizeWait& operator=(const TSynchronizeWait&) = delete;
};
