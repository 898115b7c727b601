#include "KantrelDriver.h"

#include <stdexcept>

#include <tlhelp32.h>

namespace {

struct TFindState {
    DWORD ProcessId;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM data) {
    auto* state = reinterpret_cast<TFindState*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == state->ProcessId && IsWindowVisible(window))
        state->Found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(parent, CollectChildren, reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> direct;
    for (HWND child : all)
        if (GetParent(child) == parent)
            direct.push_back(child);
    return direct;
}

constexpr const wchar_t* DriverDesktop = L"KantrelDriver";

// Runs kantrel.exe and this thread on a desktop of their own. Under Wine a
// desktop other than the default one is a virtual desktop: Wine draws the
// title bars itself (the pictures show them) and, with no window manager to
// wait for, closing an active window costs no time (on a bare X server it
// costs 2 s per message box).
void UseOwnDesktop() {
    static HDESK desktop = [] {
        HKEY key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            const wchar_t size[] = L"1280x1024";
            RegSetValueExW(key, DriverDesktop, 0, REG_SZ, reinterpret_cast<const BYTE*>(size), sizeof(size));
            RegCloseKey(key);
        }
        HDESK created = CreateDesktopW(DriverDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (!created || !SetThreadDesktop(created))
            throw std::runtime_error("cannot use a desktop of its own");
        // The first process that needs a desktop starts the process serving
        // it; that must be this one, not kantrel.exe, or it would join the
        // session's job and end with it.
        GetDesktopWindow();
        return created;
    }();
    (void)desktop;
}

}  // namespace

std::string WindowText(HWND window) {
    // WM_GETTEXT, because GetWindowText does not ask other processes' controls;
    // with a time-out, so that a hung program fails the test instead of hanging it.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             5000, &got))
        return {};
    text.resize(static_cast<size_t>(got));
    return WideToUtf8(text);
}

std::string WindowCaption(HWND window) {
    wchar_t text[512];
    const int n = GetWindowTextW(window, text, 512);
    return WideToUtf8(std::wstring(text, n > 0 ? n : 0));
}

std::string WindowClass(HWND window) {
    wchar_t name[256];
    const int n = GetClassNameW(window, name, 256);
    return WideToUtf8(std::wstring(name, n > 0 ? n : 0));
}

HWND FindChild(HWND parent, const wchar_t* className, const std::string& text) {
    for (HWND child : Children(parent)) {
        if (_wcsicmp(Utf8ToWide(WindowClass(child)).c_str(), className) != 0)
            continue;
        if (text.empty() || WindowText(child) == text)
            return child;
    }
    return nullptr;
}

bool IsMessageBox(HWND window) {
    return WindowClass(window) == "#32770";
}

bool IsSplash(HWND window) {
    return WindowCaption(window) == "FoSplash" && !IsMessageBox(window);
}

std::string MessageBoxText(HWND box) {
    // The system gives a message box's text the control id 0xFFFF.
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? WindowText(text) : std::string();
}

std::vector<int> MessageBoxButtons(HWND box) {
    std::vector<int> ids;
    for (HWND child : Children(box))
        if (WindowClass(child) == "Button" && IsWindowVisible(child))
            ids.push_back(GetDlgCtrlID(child));
    return ids;
}

void ClickButton(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void TypeText(HWND edit, const std::string& text) {
    for (wchar_t c : Utf8ToWide(text))
        SendMessageW(edit, WM_CHAR, c, 1);
}

void ClearText(HWND edit) {
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, WM_CLEAR, 0, 0);
}

void PasteText(HWND edit, const std::string& text) {
    const std::wstring wide = Utf8ToWide(text);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
    if (!memory)
        throw std::runtime_error("GlobalAlloc failed");
    auto* target = static_cast<wchar_t*>(GlobalLock(memory));
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, target);
    GlobalUnlock(memory);
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !opened; ++attempt) {
        opened = OpenClipboard(nullptr);
        if (!opened)
            Sleep(20);
    }
    if (!opened) {
        GlobalFree(memory);
        throw std::runtime_error("the clipboard stays busy");
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, memory))
        GlobalFree(memory);
    CloseClipboard();
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, WM_PASTE, 0, 0);
}

bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(10);
    }
    return true;
}

bool SaveWindowPicture(HWND window, const std::filesystem::path& bmp) {
    RECT r;
    return GetWindowRect(window, &r) && SaveBmp(CaptureScreen(r), bmp);
}

TKantrelSession::TKantrelSession(const std::filesystem::path& program,
                                 const std::filesystem::path& currentDirectory, const std::wstring& arguments) {
    UseOwnDesktop();
    Job_.Reset(CreateJobObjectW(nullptr, nullptr));
    if (!Job_.Get())
        throw std::runtime_error("CreateJobObject failed");
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(Job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));

    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring desktop = DriverDesktop;
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        currentDirectory.c_str(), &startup, &info)) {
        throw std::runtime_error("cannot start " + WideToUtf8(program.wstring()));
    }
    AssignProcessToJobObject(Job_.Get(), info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    Process_.Reset(info.hProcess);
    ProcessId_ = info.dwProcessId;
    WaitForInputIdle(Process_.Get(), 10000);
}

TKantrelSession::~TKantrelSession() {
    Kill();
}

void TKantrelSession::Kill() {
    TerminateJobObject(Job_.Get(), 1);
    if (Running())
        TerminateProcess(Process_.Get(), 1);
    WaitForSingleObject(Process_.Get(), 5000);
}

bool TKantrelSession::WaitForExit(unsigned timeoutMs) {
    return WaitForSingleObject(Process_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD TKantrelSession::ExitCode() {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(Process_.Get(), &code);
    return code;
}

bool TKantrelSession::Running() {
    return WaitForSingleObject(Process_.Get(), 0) == WAIT_TIMEOUT;
}

int TKantrelSession::ActiveProcesses() {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (!QueryInformationJobObject(Job_.Get(), JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr))
        return -1;
    return static_cast<int>(info.ActiveProcesses);
}

int TKantrelSession::TotalProcesses() {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (!QueryInformationJobObject(Job_.Get(), JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr))
        return -1;
    return static_cast<int>(info.TotalProcesses);
}

int TKantrelSession::ThreadCount() {
    TScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        count += entry.th32OwnerProcessID == ProcessId_;
    return count;
}

long long TKantrelSession::CpuTime() {
    // The sum of its threads' times: Wine's GetProcessTimes on another
    // process lags far behind them. A thread that ended takes its time along.
    TScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE)
        return -1;
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    long long total = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != ProcessId_)
            continue;
        TScopedHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
        FILETIME created, exited, kernel, user;
        if (!thread.Get() || !GetThreadTimes(thread.Get(), &created, &exited, &kernel, &user))
            return -1;
        total += ticks(kernel) + ticks(user);
    }
    return total;
}

std::vector<HWND> TKantrelSession::Windows() {
    TFindState state{ProcessId_, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
    return state.Found;
}

HWND TKantrelSession::WaitForWindow(const std::function<bool(HWND)>& match, unsigned timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        for (HWND window : Windows())
            if (match(window))
                return window;
        Sleep(10);
    } while (GetTickCount64() < end && Running());
    return nullptr;
}

bool TKantrelSession::WaitForNoWindow(const std::function<bool(HWND)>& match, unsigned timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        bool any = false;
        for (HWND window : Windows())
            any = any || match(window);
        if (!any)
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(10);
    }
}

HWND TKantrelSession::WaitForMainWindow(unsigned timeoutMs) {
    return WaitForWindow(
        [](HWND w) { return WindowCaption(w) == "Kantrel" && FindChild(w, L"Edit") && FindChild(w, L"Button"); },
        timeoutMs);
}

HWND TKantrelSession::WaitForMessageBox(const std::string& caption, unsigned timeoutMs) {
    return WaitForWindow([&](HWND w) { return IsMessageBox(w) && WindowCaption(w) == caption; }, timeoutMs);
}

HWND TKantrelSession::FindSplash() {
    for (HWND window : Windows())
        if (IsSplash(window))
            return window;
    return nullptr;
}

HWND TKantrelSession::WaitForSplash(unsigned timeoutMs) {
    return WaitForWindow(IsSplash, timeoutMs);
}
