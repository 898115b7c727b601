#include "ui/Application.h"

#include <vector>

#include "rtl/ErrorReport.h"
#include "rtl/Errors.h"
#include "ui/Forms.h"
#include "ui/Synchronize.h"
#include "win/WinText.h"

TApplication* Application = nullptr;

void HandleWindowException(TComponent* sender) {
    if (Application)
        Application->HandleException(sender);
}

namespace {

// Disables every visible, enabled top-level window of this thread except
// the one given, and enables them again when it goes.
class TTaskWindowsDisabled {
public:
    explicit TTaskWindowsDisabled(HWND keep) : Keep_(keep) {
        EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
        for (HWND window : Windows_)
            EnableWindow(window, FALSE);
    }
    ~TTaskWindowsDisabled() {
        for (HWND window : Windows_)
            if (IsWindow(window))
                EnableWindow(window, TRUE);
    }
    TTaskWindowsDisabled(const TTaskWindowsDisabled&) = delete;
    TTaskWindowsDisabled& operator=(const TTaskWindowsDisabled&) = delete;

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM data) {
        auto* self = reinterpret_cast<TTaskWindowsDisabled*>(data);
        if (window != self->Keep_ && IsWindowVisible(window) && IsWindowEnabled(window))
            self->Windows_.push_back(window);
        return TRUE;
    }

    HWND Keep_;
    std::vector<HWND> Windows_;
};

}  // namespace

TApplication::TApplication(TComponent* owner) : TComponent(owner) {
    if (!Application)
        Application = this;
}

TApplication::~TApplication() {
    Destroying();
    // Forms go before the window that owns them.
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
    if (Handle_) {
        SetSynchronizeWindow(nullptr);
        SetWindowLongPtrW(Handle_, GWLP_USERDATA, 0);
        DestroyWindow(Handle_);
    }
    if (Application == this)
        Application = nullptr;
}

void TApplication::Initialize() {
    if (Handle_)
        return;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = AppWndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = Icon(false);
    windowClass.lpszClassName = L"KantrelApplication";
    RegisterClassExW(&windowClass);  // fails harmlessly when registered already
    Handle_ = CreateWindowExW(0, windowClass.lpszClassName, Utf8ToWide(Title_).c_str(),
                              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
    if (!Handle_)
        throw Exception("Cannot create the application window");
    SetWindowLongPtrW(Handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetSynchronizeWindow(Handle_);
}

LRESULT CALLBACK TApplication::AppWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The wake-up message of a call queued by another thread.
    if (message == WM_NULL) {
        CheckSynchronize();
        return 0;
    }
    // A polite end of the process (taskkill without /F) asks every top-level
    // window to close, this hidden one too. Left to the default, it would be
    // destroyed, and every later message box, the report of setup's exit code
    // among them, would fail for want of its owner. It is a request to end.
    if (message == WM_CLOSE) {
        if (auto* application = reinterpret_cast<TApplication*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            if (application->MainForm_)
                application->MainForm_->Close();
            else
                application->Terminate();
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TApplication::SetTitle(const std::string& title) {
    Title_ = title;
    if (Handle_)
        SetWindowTextW(Handle_, Utf8ToWide(title).c_str());
}

HICON TApplication::Icon(bool small) const {
    const int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    auto icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED));
    return icon ? icon : LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
}

void TApplication::FormDestroyed(TForm* form) {
    if (MainForm_ == form)
        MainForm_ = nullptr;
}

void TApplication::Run() {
    if (MainForm_ && ShowMainForm)
        MainForm_->Show();
    while (!Terminated_)
        HandleMessage();
}

void TApplication::HandleMessage() {
    MSG message;
    if (!ProcessMessage(message)) {
        // Idle: serve queued calls before sleeping.
        if (!CheckSynchronize())
            WaitMessage();
    }
}

void TApplication::ProcessMessages() {
    MSG message;
    while (ProcessMessage(message)) {
    }
    CheckSynchronize();
}

bool TApplication::ProcessMessage(MSG& message) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (message.message == WM_QUIT) {
        Terminated_.store(true);
        return true;
    }
    if (!IsDialogKey(message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

bool TApplication::IsDialogKey(MSG& message) {
    // Tab and the other dialog keys move between a form's controls.
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST || !message.hwnd)
        return false;
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    if (!dynamic_cast<TForm*>(TWinControl::FromHandle(root)))
        return false;
    return IsDialogMessageW(root, &message) != FALSE;
}

void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::HandleException(TComponent*) { ReportException(std::current_exception()); }

namespace {

// The text an error would be shown with; empty for the silent abort.
std::string ReportedText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return "";
    } catch (const std::exception& e) {
        return ErrorMessage(e);
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace

void TApplication::ReportException(std::exception_ptr error) {
    if (!error)
        return;
    if (!InMainThread()) {
        Synchronize([this, error] { ReportException(error); });
        return;
    }
    const std::string text = ReportedText(error);
    if (text.empty())
        return;
    if (ReportingErrors_.load()) {
        // Inside the open box's message loop: shown after it, once.
        for (const auto& [waiting, waitingText] : WaitingErrors_)
            if (waitingText == text)
                return;
        WaitingErrors_.emplace_back(error, text);
        return;
    }
    ReportingErrors_.store(true);
    struct TDone {
        TApplication& Application;
        ~TDone() {
            Application.WaitingErrors_.clear();
            Application.ReportingErrors_.store(false);
        }
    } done{*this};
    ShowOneException(error);
    while (!WaitingErrors_.empty()) {
        const std::exception_ptr next = WaitingErrors_.front().first;
        WaitingErrors_.erase(WaitingErrors_.begin());
        ShowOneException(next);
    }
}

void TApplication::ShowOneException(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        // The silent abort is never shown.
    } catch (const std::exception& e) {
        if (OnException)
            OnException(e);
        else
            ShowException(e);
    } catch (...) {
        const Exception unknown("Unknown error");
        if (OnException)
            OnException(unknown);
        else
            ShowException(unknown);
    }
}

void TApplication::ShowException(const std::exception& error) {
    MessageBox(ErrorReportText(ErrorMessage(error)), Title_, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    HWND active = GetActiveWindow();
    HWND focus = GetFocus();
    int result;
    {
        TTaskWindowsDisabled disabled(Handle_);
        result = ::MessageBoxW(Handle_, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), flags);
    }
    if (active && IsWindow(active))
        SetActiveWindow(active);
    if (focus && IsWindow(focus) && IsWindowEnabled(focus))
        ::SetFocus(focus);
    return result;
}
