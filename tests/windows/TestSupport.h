#pragma once
// Helpers for tests that drive real windows on this thread's message loop.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/Application.h"
#include "ui/Forms.h"
#include "win/ScopedWin.h"

// Handles pending messages for a while, so that posted input arrives.
void Pump(int milliseconds = 50);
// Handles messages (and so synchronised calls) until done() or the time is
// up, waking at least every 10 ms; true when done.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds);

// Types keys as a user would: key-down and key-up through SendInput, then
// handles the messages. Characters map through the keyboard layout.
void TypeText(const std::wstring& text);
// Types characters that the keyboard layout may lack (KEYEVENTF_UNICODE).
void TypeUnicode(const std::wstring& text);
void PressKey(WORD virtualKey, bool control = false);

// Puts text on the clipboard.
void SetClipboardText(const std::wstring& text);

std::wstring WindowText(HWND window);

// The bounds of text word-wrapped at a width, as the system measures it in
// a font: what a label needs, whichever fonts the machine has.
RECT MeasureWrappedText(HFONT font, const std::string& text, int width);

// Watches for a message box of one thread from a second thread: records
// what it shows and the state of the given windows while it is open, then
// presses its default button.
class TMessageBoxWatcher {
public:
    struct TSeen {
        bool Seen = false;
        std::wstring Caption;
        std::wstring Text;
        HWND Owner = nullptr;
        HICON Icon = nullptr;
        std::vector<bool> EnabledWhileOpen;
    };

    TMessageBoxWatcher(std::vector<HWND> watched, int timeoutMilliseconds = 5000);
    ~TMessageBoxWatcher();
    // Waits for the watcher to finish.
    TSeen Result();

private:
    void Watch(int timeoutMilliseconds);

    DWORD ThreadId_;
    std::vector<HWND> Watched_;
    TSeen Seen_;
    std::thread Thread_;
};

// A 32-bit picture prefilled with one colour, for painting controls into
// (rows top first).
class TCapture {
public:
    TCapture(int width, int height, COLORREF fill);
    HDC DC() const { return DC_.Get(); }
    // As COLORREF (0x00BBGGRR), to compare with RGB().
    COLORREF At(int x, int y) const;
    // The bounds of the pixels of one colour.
    RECT Extent(COLORREF colour) const;

private:
    int Width_, Height_;
    TScopedBitmap Bitmap_;
    DWORD* Bits_ = nullptr;
    TScopedMemoryDC DC_;
    std::optional<TScopedSelect> Selected_;
};
