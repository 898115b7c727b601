#pragma once
// Helpers for the tests of the animator and its timer: generated
// animations, an animator shown on a form, the process's thread and handle
// counts, and waits for a worker to reach a known point.

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "GifWriter.h"
#include "TestSupport.h"
#include "controls/JvGIFCtrl.h"
#include "rtl/Streams.h"
#include "ui/Forms.h"
#include "win/ScopedWin.h"
#include "ui/Synchronize.h"

// An animation of size x size frames with the given delays (hundredths);
// frames alternate between the two colours.
inline gifwriter::Bytes Animation(const std::vector<uint16_t>& delays, uint16_t size = 8) {
    gifwriter::GifWriter gif;
    gif.Header().Screen(size, size, {{0, 0, 0}, {255, 255, 255}});
    for (size_t i = 0; i < delays.size(); ++i) {
        gif.GraphicControl(1, delays[i]);
        gifwriter::ImageSpec frame;
        frame.Width = size;
        frame.Height = size;
        frame.Indices.assign(static_cast<size_t>(size) * size, static_cast<uint8_t>(i % 2));
        gif.Image(frame);
    }
    return gif.Trailer().Finish();
}

inline void Load(TJvGIFAnimator& animator, const gifwriter::Bytes& gif) {
    TMemoryStream stream;
    stream.WriteBuffer(gif.data(), static_cast<int64_t>(gif.size()));
    stream.SetPosition(0);
    animator.Image().LoadFromStream(stream);
}

// A shown form with an animator on it (owned by the form).
struct TShownAnimator {
    TForm Form{nullptr};
    TJvGIFAnimator* Animator;
    TShownAnimator() {
        Form.SetBounds(100, 100, 200, 100);
        Animator = new TJvGIFAnimator(&Form);
        Animator->SetParent(&Form);
        Form.Show();
        Application->ProcessMessages();
    }
};

inline int ThreadCount() {
    TScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    return count;
}

// The system's count where it reports one; else (Wine reports 0) the
// handle values that name an open handle, tried one by one.
inline DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    DWORD flags;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    return count;
}

// Polls without handling messages, so that nothing queued for the window
// thread is served meanwhile; false after 10 s.
inline bool WaitWithoutServing(const std::function<bool()>& done) {
    for (const DWORD start = GetTickCount(); !done(); Sleep(1))
        if (GetTickCount() - start > 10000)
            return false;
    return true;
}

// Until `count` calls wait for the window thread: each worker that reached
// its synchronised call is parked there.
inline bool WaitForQueuedCalls(int count) {
    return WaitWithoutServing([count] { return QueuedCalls() >= count; });
}

// Until the process is back to `threads` threads (released workers end by
// themselves); handles messages meanwhile.
inline bool WaitForThreadCount(int threads) { return PumpUntil([threads] { return ThreadCount() <= threads; }, 10000); }

// Ends the process, saying what hung, when it is not disarmed (destroyed) in
// time: a deadlocked window thread can report nothing else.
class TDeadlockWatch {
public:
    TDeadlockWatch(const char* what, DWORD milliseconds)
        : Thread_([this, what, milliseconds] {
              if (WaitForSingleObject(Done_.Get(), milliseconds) == WAIT_TIMEOUT) {
                  std::fprintf(stderr, "Deadlock: %s\n", what);
                  std::fflush(stderr);
                  TerminateProcess(GetCurrentProcess(), 3);
              }
          }) {}
    ~TDeadlockWatch() {
        SetEvent(Done_.Get());
        Thread_.join();
    }
    TDeadlockWatch(const TDeadlockWatch&) = delete;
    TDeadlockWatch& operator=(const TDeadlockWatch&) = delete;

private:
    TScopedHandle Done_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread Thread_;
};
