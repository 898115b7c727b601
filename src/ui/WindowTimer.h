#pragma once
// A message-based timer: WM_TIMER messages to a message-only window of its
// own deliver the ticks on the thread that created it (the window thread).
// An error from the tick handler goes to the central error reporting; while
// its message box is open, the timer's ticks are dropped (the box's own
// message loop would deliver them and open a box for every failing tick).

#include <windows.h>

#include <functional>

class TWindowTimer {
public:
    TWindowTimer();
    ~TWindowTimer();
    TWindowTimer(const TWindowTimer&) = delete;
    TWindowTimer& operator=(const TWindowTimer&) = delete;

    // Each change that differs re-creates the platform timer; enabling
    // fails with EOutOfResources "Not enough timers available" when the
    // system refuses one. The first tick comes one interval after.
    unsigned Interval() const { return Interval_; }
    void SetInterval(unsigned milliseconds);
    bool Enabled() const { return Enabled_; }
    void SetEnabled(bool enabled);
    const std::function<void()>& OnTimer() const { return OnTimer_; }
    void SetOnTimer(std::function<void()> handler);

    HWND Handle() const { return Handle_; }

private:
    void UpdateTimer();
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Handle_ = nullptr;
    unsigned Interval_ = 1000;
    bool Enabled_ = true;
    bool Reporting_ = false;
    std::function<void()> OnTimer_;
};
