#include "ui/WindowTimer.h"

#include "rtl/Errors.h"
#include "ui/WinControl.h"

namespace {
constexpr UINT_PTR TimerId = 1;
constexpr const wchar_t* TimerWindowClass = L"KantrelTimerWindow";
}  // namespace

TWindowTimer::TWindowTimer() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = TimerWindowClass;
    RegisterClassExW(&windowClass);  // fails harmlessly when registered already
    Handle_ = CreateWindowExW(0, TimerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    if (!Handle_)
        throw EOutOfResources("Cannot create the timer window");
    SetWindowLongPtrW(Handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TWindowTimer::~TWindowTimer() {
    KillTimer(Handle_, TimerId);
    SetWindowLongPtrW(Handle_, GWLP_USERDATA, 0);
    DestroyWindow(Handle_);
}

void TWindowTimer::SetInterval(unsigned milliseconds) {
    if (milliseconds == Interval_)
        return;
    Interval_ = milliseconds;
    UpdateTimer();
}

void TWindowTimer::SetEnabled(bool enabled) {
    if (enabled == Enabled_)
        return;
    Enabled_ = enabled;
    UpdateTimer();
}

void TWindowTimer::SetOnTimer(std::function<void()> handler) {
    OnTimer_ = std::move(handler);
    UpdateTimer();
}

void TWindowTimer::UpdateTimer() {
    KillTimer(Handle_, TimerId);
    if (Interval_ != 0 && Enabled_ && OnTimer_ && SetTimer(Handle_, TimerId, Interval_, nullptr) == 0)
        throw EOutOfResources("Not enough timers available");
}

LRESULT CALLBACK TWindowTimer::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER)
        return DefWindowProcW(window, message, wParam, lParam);
    // The handler may free the timer: ask the window again after it ran.
    const auto owner = [window] { return reinterpret_cast<TWindowTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA)); };
    TWindowTimer* timer = owner();
    if (!timer || !timer->Enabled_ || !timer->OnTimer_ || timer->Reporting_)
        return 0;
    // A copy: the handler may replace itself.
    const std::function<void()> handler = timer->OnTimer_;
    try {
        handler();
    } catch (...) {
        if (owner() == timer)
            timer->Reporting_ = true;
        HandleWindowException(nullptr);
        if (owner() == timer)
            timer->Reporting_ = false;
    }
    return 0;
}
