#pragma once
// The application object: hidden main window, message loop, central error
// reporting and message boxes owned by the hidden window.

#include <windows.h>
// TApplication::MessageBox is ours; the W function is called by its name.
#undef MessageBox

#include <atomic>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/Component.h"

class TForm;

class TApplication : public TComponent {
public:
    // The first application object becomes the global Application.
    explicit TApplication(TComponent* owner = nullptr);
    ~TApplication() override;
    const char* ClassName() const override { return "TApplication"; }

    // Creates the hidden main window that owns message boxes. A request to
    // close it closes the main form instead (or ends the loop when there is
    // none); it is never destroyed before the application object.
    void Initialize();
    HWND Handle() const { return Handle_; }
    const std::string& Title() const { return Title_; }
    void SetTitle(const std::string& title);
    // The application's icon: MAINICON of the program file when it has one.
    HICON Icon(bool small) const;

    // Creates a form owned by the application; the first becomes MainForm.
    template <class T>
    void CreateForm(T*& reference) {
        T* form = new T(this);
        reference = form;
        if (!MainForm_)
            MainForm_ = form;
    }
    TForm* MainForm() const { return MainForm_; }
    bool ShowMainForm = true;

    // Shows the main form and handles messages until Terminated.
    void Run();
    // Handles every pending message, then returns; a quit message only sets
    // Terminated.
    void ProcessMessages();
    // Handles one message, waiting for one when none is pending.
    void HandleMessage();
    // Asks the message loop to end (after any running handler returns).
    void Terminate();
    // Read by worker threads too.
    bool Terminated() const { return Terminated_.load(); }

    // The central error reporting: called inside a catch block, shows the
    // current error unless it is a silent abort (ReportException).
    void HandleException(TComponent* sender);
    // Shows an error in a box on the window thread, one box at a time in the
    // whole program: an error reported while a box is open (from that box's
    // message loop) is shown after it, unless one of the same text already
    // waits. From another thread the error is handed to the window thread
    // (a box there disables the program's windows) and the call returns
    // once it was shown or put to wait.
    void ReportException(std::exception_ptr error);
    // An error box is open, or an error waits for one; read by workers too.
    bool ReportingErrors() const { return ReportingErrors_.load(); }
    // When set, takes the errors that HandleException would show, inside its
    // catch block; a tool without a user to press OK sets it.
    std::function<void(const std::exception&)> OnException;
    void ShowException(const std::exception& error);

    // A message box owned by the hidden main window: every other window of
    // the program is disabled while it is open; afterwards the previously
    // active window and its focused control come back. Returns the button.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

private:
    friend class TForm;
    bool ProcessMessage(MSG& message);
    // Shows one error, or hands it to OnException (inside a catch block).
    void ShowOneException(const std::exception_ptr& error);
    bool IsDialogKey(MSG& message);
    void FormDestroyed(TForm* form);
    static LRESULT CALLBACK AppWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Handle_ = nullptr;
    std::string Title_;
    TForm* MainForm_ = nullptr;
    std::atomic<bool> Terminated_{false};
    std::atomic<bool> ReportingErrors_{false};
    // Errors waiting for the open box, with their text; window thread only.
    std::vector<std::pair<std::exception_ptr, std::string>> WaitingErrors_;
};

extern TApplication* Application;
