#pragma once
// Helpers for the tests of the animator and its timer: generated
// animations, an animator shown on a form, the process's thread and handle
// counts, and waits for a worker to reach a known point.

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
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

// An animation of size x size frames that leave every other pixel
// transparent (the pattern moves by one pixel a frame), so that what lies
// beneath shows through; each frame is cleared after it was shown.
inline gifwriter::Bytes TransparentAnimation(int frames, uint16_t size = 32) {
    gifwriter::GifWriter gif;
    gif.Header().Screen(size, size, {{0, 0, 0}, {200, 40, 40}, {40, 40, 200}, {240, 200, 40}});
    for (int i = 0; i < frames; ++i) {
        gif.GraphicControl(2, 0, 0);
        gifwriter::ImageSpec frame;
        frame.Width = size;
        frame.Height = size;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                frame.Indices.push_back((x + y + i) % 2 ? static_cast<uint8_t>(1 + i % 3) : 0);
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

// An animator whose worker can be stopped inside its image paint (holding
// the control's locks), and which tells when the window thread paints it.
class TParkingAnimator : public TJvGIFAnimator {
public:
    using TJvGIFAnimator::TJvGIFAnimator;
    using TJvImageControl::NotifyPictureChanged;

    // Shared with a parked worker, which may go on while the animator is
    // being destroyed, and with calls that release it then.
    struct TParking {
        TScopedHandle Parked{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        TScopedHandle Release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        TScopedHandle WindowThreadPaint{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::atomic<bool> Park{false};
        std::atomic<bool> ParkedNow{false};
    };
    std::shared_ptr<TParking> Parking() const { return Parking_; }

    // The next image paint on a worker stops there until Release (or 10 s).
    void ParkNextWorkerPaint() {
        ResetEvent(Parking_->Parked.Get());
        ResetEvent(Parking_->Release.Get());
        Parking_->Park = true;
    }
    bool WaitParked() const { return WaitForSingleObject(Parking_->Parked.Get(), 10000) == WAIT_OBJECT_0; }
    bool Parked() const { return Parking_->ParkedNow.load(); }
    void Release() { SetEvent(Parking_->Release.Get()); }
    // Set when a paint of this control begins on the window thread.
    HANDLE WindowThreadPaint() const { return Parking_->WindowThreadPaint.Get(); }
    // Image paints finished on a worker, and whether the image changed under a parked one.
    std::atomic<int> WorkerPaints{0};
    std::atomic<int> ChangedUnderPaint{0};

    LRESULT Perform(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_PAINT && wParam && InMainThread())
            SetEvent(Parking_->WindowThreadPaint.Get());
        return TJvGIFAnimator::Perform(message, wParam, lParam);
    }

protected:
    void RenderImage() override {
        if (!InMainThread() && Parking_->Park.exchange(false)) {
            const std::shared_ptr<TParking> parking = Parking_;
            const int before = Image().FrameCount();
            parking->ParkedNow = true;
            SetEvent(parking->Parked.Get());
            WaitForSingleObject(parking->Release.Get(), 10000);
            parking->ParkedNow = false;
            if (Image().FrameCount() != before)
                ++ChangedUnderPaint;
        }
        TJvGIFAnimator::RenderImage();
        if (!InMainThread())
            ++WorkerPaints;
    }

private:
    std::shared_ptr<TParking> Parking_ = std::make_shared<TParking>();
};

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
