#pragma once
// Drives a real kantrel.exe from another process, as a user would: finds its
// windows, types, pastes, presses buttons, reads message boxes and takes
// pictures of windows. Used by the end-to-end tests and by the headless demo.

#include "ScreenPicture.h"
#include "win/ScopedWin.h"
#include "win/WinText.h"

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>


// A control's text, asked of its window (WM_GETTEXT).
std::string WindowText(HWND window);
// A top-level window's caption as the system keeps it; asks nothing of the
// window's thread, so it does not wait for a busy program.
std::string WindowCaption(HWND window);
std::string WindowClass(HWND window);
// The first direct child of the class (and text, when given).
HWND FindChild(HWND parent, const wchar_t* className, const std::string& text = {});

// A message box of the system: its text and the ids of its buttons (IDOK, IDYES...).
std::string MessageBoxText(HWND box);
std::vector<int> MessageBoxButtons(HWND box);

// Presses a button by its own click message; posted, because the handler may
// run a modal loop.
void ClickButton(HWND button);
// Types characters one by one, each through the control's key handling.
void TypeText(HWND edit, const std::string& text);
// Replaces the whole text through the clipboard, as Ctrl+V does.
void PasteText(HWND edit, const std::string& text);
void ClearText(HWND edit);

// Polls the condition until it holds; false on time-out.
bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs = 10000);

// Saves what the screen shows of the window as a 24-bit BMP.
bool SaveWindowPicture(HWND window, const std::filesystem::path& bmp);

// kantrel.exe started in a job, so that it and every process it starts end
// with the session, also when a test fails half-way.
class TKantrelSession {
public:
    // arguments: the rest of the command line, quoted as it should be.
    TKantrelSession(const std::filesystem::path& program, const std::filesystem::path& currentDirectory,
                    const std::wstring& arguments = {});
    ~TKantrelSession();
    TKantrelSession(const TKantrelSession&) = delete;
    TKantrelSession& operator=(const TKantrelSession&) = delete;

    DWORD ProcessId() const { return ProcessId_; }
    bool WaitForExit(unsigned timeoutMs);
    // STILL_ACTIVE while it runs.
    DWORD ExitCode();
    bool Running();
    // Processes of the session: alive now, and started in all (kantrel.exe
    // counts); -1 when the system cannot tell.
    int ActiveProcesses();
    int TotalProcesses();
    // Ends kantrel.exe and whatever it started.
    void Kill();
    // Threads of kantrel.exe now (a Toolhelp snapshot); -1 when the system
    // cannot tell.
    int ThreadCount();
    // CPU time kantrel.exe's living threads have used so far, kernel and
    // user, in 100 ns units, from their own accounting; -1 when the system
    // cannot tell.
    long long CpuTime();

    // The visible top-level windows of kantrel.exe.
    std::vector<HWND> Windows();
    // Waits until a visible top-level window matches; null on time-out.
    HWND WaitForWindow(const std::function<bool(HWND)>& match, unsigned timeoutMs = 10000);
    HWND WaitForMainWindow(unsigned timeoutMs = 10000);
    HWND WaitForMessageBox(const std::string& caption, unsigned timeoutMs = 10000);
    HWND FindSplash();
    HWND WaitForSplash(unsigned timeoutMs = 10000);
    // Waits until no visible window matches; false on time-out.
    bool WaitForNoWindow(const std::function<bool(HWND)>& match, unsigned timeoutMs = 10000);

private:
    TScopedHandle Job_;
    TScopedHandle Process_;
    DWORD ProcessId_ = 0;
};

bool IsMessageBox(HWND window);
bool IsSplash(HWND window);
