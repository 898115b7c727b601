#include "TestSupport.h"

#include <algorithm>
#include <chrono>

#include "graphics/DrawSource.h"
#include "win/WinText.h"

void Pump(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        Application->ProcessMessages();
        Sleep(5);
    } while (std::chrono::steady_clock::now() < end);
    Application->ProcessMessages();
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        Application->ProcessMessages();
        if (done())
            return true;
        const DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(milliseconds - spent, 10), QS_ALLINPUT);
    }
}

namespace {

void SendKey(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

}  // namespace

void PressKey(WORD virtualKey, bool control) {
    if (control)
        SendKey(VK_CONTROL, false);
    SendKey(virtualKey, false);
    SendKey(virtualKey, true);
    if (control)
        SendKey(VK_CONTROL, true);
    Pump();
}

void TypeText(const std::wstring& text) {
    for (wchar_t c : text) {
        const SHORT key = VkKeyScanW(c);
        const bool shift = (key >> 8) & 1;
        if (shift)
            SendKey(VK_SHIFT, false);
        SendKey(LOBYTE(key), false);
        SendKey(LOBYTE(key), true);
        if (shift)
            SendKey(VK_SHIFT, true);
        Pump(10);
    }
    Pump();
}

void TypeUnicode(const std::wstring& text) {
    for (wchar_t c : text) {
        INPUT input[2] = {};
        for (int i = 0; i < 2; ++i) {
            input[i].type = INPUT_KEYBOARD;
            input[i].ki.wScan = c;
            input[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
        }
        SendInput(2, input, sizeof(INPUT));
        Pump(10);
    }
    Pump();
}

void SetClipboardText(const std::wstring& text) {
    if (!OpenClipboard(nullptr))
        return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(memory), text.c_str(), bytes);
    GlobalUnlock(memory);
    if (!SetClipboardData(CF_UNICODETEXT, memory))
        GlobalFree(memory);
    CloseClipboard();
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

RECT MeasureWrappedText(HFONT font, const std::string& text, int width) {
    const std::wstring wide = Utf8ToWide(text);
    TScopedGetDC screen(nullptr);
    TScopedSelect selected(screen.Get(), font);
    RECT bounds{0, 0, width, 0};
    DrawTextW(screen.Get(), wide.c_str(), static_cast<int>(wide.size()), &bounds,
              DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    return bounds;
}

TMessageBoxWatcher::TMessageBoxWatcher(std::vector<HWND> watched, int timeoutMilliseconds)
    : ThreadId_(GetCurrentThreadId()), Watched_(std::move(watched)),
      Thread_([this, timeoutMilliseconds] { Watch(timeoutMilliseconds); }) {}

TMessageBoxWatcher::~TMessageBoxWatcher() {
    if (Thread_.joinable())
        Thread_.join();
}

TMessageBoxWatcher::TSeen TMessageBoxWatcher::Result() {
    if (Thread_.joinable())
        Thread_.join();
    return Seen_;
}

namespace {

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

void TMessageBoxWatcher::Watch(int timeoutMilliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    HWND dialog = nullptr;
    while (!dialog && std::chrono::steady_clock::now() < end) {
        EnumThreadWindows(ThreadId_, FindDialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog)
            Sleep(20);
    }
    if (!dialog)
        return;
    Sleep(100);  // let it finish showing
    Seen_.Seen = true;
    Seen_.Caption = WindowText(dialog);
    Seen_.Text = WindowText(GetDlgItem(dialog, 0xFFFF));
    Seen_.Owner = GetWindow(dialog, GW_OWNER);
    // The icon control's id: 20 on Windows, 1088 in Wine.
    for (int id : {20, 1088})
        if (HWND icon = GetDlgItem(dialog, id))
            Seen_.Icon = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    for (HWND window : Watched_)
        Seen_.EnabledWhileOpen.push_back(IsWindowEnabled(window) != FALSE);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

TCapture::TCapture(int width, int height, COLORREF fill) : Width_(width), Height_(height) {
    void* bits = nullptr;
    Bitmap_.Reset(CreateTrueColorBitmap(width, height, &bits));
    Bits_ = static_cast<DWORD*>(bits);
    Selected_.emplace(DC_.Get(), Bitmap_.Get());
    RECT all{0, 0, width, height};
    TScopedBrush brush(CreateSolidBrush(fill));
    FillRect(DC_.Get(), &all, brush.Get());
}

COLORREF TCapture::At(int x, int y) const {
    GdiFlush();
    const DWORD p = Bits_[y * Width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

RECT TCapture::Extent(COLORREF colour) const {
    RECT r{Width_, Height_, -1, -1};
    for (int y = 0; y < Height_; ++y)
        for (int x = 0; x < Width_; ++x)
            if (At(x, y) == colour) {
                r.left = std::min<LONG>(r.left, x);
                r.top = std::min<LONG>(r.top, y);
                r.right = std::max<LONG>(r.right, x + 1);
                r.bottom = std::max<LONG>(r.bottom, y + 1);
            }
    return r;
}
