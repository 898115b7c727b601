#pragma once
// RAII owners of Win32 resources: nothing is released by hand.

#include <windows.h>

#include <utility>

// A GDI object (font, brush, pen, bitmap, region) deleted when it goes.
template <class H>
class TScopedGdiObject {
public:
    TScopedGdiObject() = default;
    explicit TScopedGdiObject(H handle) : Handle_(handle) {}
    ~TScopedGdiObject() { Reset(); }
    TScopedGdiObject(TScopedGdiObject&& other) noexcept : Handle_(std::exchange(other.Handle_, nullptr)) {}
    TScopedGdiObject& operator=(TScopedGdiObject&& other) noexcept {
        if (this != &other) {
            Reset();
            Handle_ = std::exchange(other.Handle_, nullptr);
        }
        return *this;
    }
    H Get() const { return Handle_; }
    explicit operator bool() const { return Handle_ != nullptr; }
    void Reset(H handle = nullptr) {
        if (Handle_)
            DeleteObject(Handle_);
        Handle_ = handle;
    }

private:
    H Handle_ = nullptr;
};

using TScopedFont = TScopedGdiObject<HFONT>;
using TScopedBrush = TScopedGdiObject<HBRUSH>;
using TScopedPen = TScopedGdiObject<HPEN>;
using TScopedBitmap = TScopedGdiObject<HBITMAP>;
using TScopedPalette = TScopedGdiObject<HPALETTE>;

// A memory DC (CreateCompatibleDC), deleted when it goes. Whatever was
// selected into it must be selected out first: declare the selections after it.
class TScopedMemoryDC {
public:
    explicit TScopedMemoryDC(HDC compatible = nullptr) : DC_(CreateCompatibleDC(compatible)) {}
    ~TScopedMemoryDC() { Reset(); }
    TScopedMemoryDC(TScopedMemoryDC&& other) noexcept : DC_(std::exchange(other.DC_, nullptr)) {}
    TScopedMemoryDC& operator=(TScopedMemoryDC&& other) noexcept {
        if (this != &other) {
            Reset();
            DC_ = std::exchange(other.DC_, nullptr);
        }
        return *this;
    }
    HDC Get() const { return DC_; }
    explicit operator bool() const { return DC_ != nullptr; }
    void Reset() {
        if (DC_)
            DeleteDC(DC_);
        DC_ = nullptr;
    }

private:
    HDC DC_;
};

// GetDC / ReleaseDC on one window.
class TScopedGetDC {
public:
    explicit TScopedGetDC(HWND window) : Window_(window), DC_(GetDC(window)) {}
    ~TScopedGetDC() {
        if (DC_)
            ReleaseDC(Window_, DC_);
    }
    TScopedGetDC(const TScopedGetDC&) = delete;
    TScopedGetDC& operator=(const TScopedGetDC&) = delete;
    HDC Get() const { return DC_; }

private:
    HWND Window_;
    HDC DC_;
};

// BeginPaint / EndPaint.
class TScopedPaint {
public:
    explicit TScopedPaint(HWND window) : Window_(window) { DC_ = BeginPaint(window, &Paint_); }
    ~TScopedPaint() { EndPaint(Window_, &Paint_); }
    TScopedPaint(const TScopedPaint&) = delete;
    TScopedPaint& operator=(const TScopedPaint&) = delete;
    HDC Get() const { return DC_; }
    const RECT& Area() const { return Paint_.rcPaint; }

private:
    HWND Window_;
    PAINTSTRUCT Paint_{};
    HDC DC_;
};

// An object selected into a DC: the one it replaced is selected back when
// this goes.
class TScopedSelect {
public:
    TScopedSelect(HDC dc, HGDIOBJ object) : DC_(dc), Previous_(SelectObject(dc, object)) {}
    ~TScopedSelect() {
        if (Previous_)
            SelectObject(DC_, Previous_);
    }
    TScopedSelect(const TScopedSelect&) = delete;
    TScopedSelect& operator=(const TScopedSelect&) = delete;
    // The object it replaced, which comes back.
    HGDIOBJ Previous() const { return Previous_; }

private:
    HDC DC_;
    HGDIOBJ Previous_;
};

// A palette selected into a DC (SelectPalette, as foreground or forced into
// the background); the previous one is selected back, with its own flag,
// when this goes. Nothing is realised again then.
class TScopedSelectPalette {
public:
    TScopedSelectPalette(HDC dc, HPALETTE palette, bool forceBackground, bool restoreForceBackground)
        : DC_(dc), Previous_(SelectPalette(dc, palette, forceBackground)), RestoreBackground_(restoreForceBackground) {}
    ~TScopedSelectPalette() {
        if (Previous_)
            SelectPalette(DC_, Previous_, RestoreBackground_);
    }
    TScopedSelectPalette(const TScopedSelectPalette&) = delete;
    TScopedSelectPalette& operator=(const TScopedSelectPalette&) = delete;

private:
    HDC DC_;
    HPALETTE Previous_;
    bool RestoreBackground_;
};

// SaveDC / RestoreDC: clipping, origins and selections come back together.
class TScopedSaveDC {
public:
    explicit TScopedSaveDC(HDC dc) : DC_(dc), Saved_(SaveDC(dc)) {}
    ~TScopedSaveDC() {
        if (Saved_)
            RestoreDC(DC_, Saved_);
    }
    TScopedSaveDC(const TScopedSaveDC&) = delete;
    TScopedSaveDC& operator=(const TScopedSaveDC&) = delete;

private:
    HDC DC_;
    int Saved_;
};

// A kernel handle (process, thread, file, job), closed when it goes.
class TScopedHandle {
public:
    explicit TScopedHandle(HANDLE handle = nullptr) : Handle_(handle) {}
    ~TScopedHandle() {
        if (Handle_ && Handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(Handle_);
    }
    TScopedHandle(TScopedHandle&& other) noexcept : Handle_(other.Handle_) { other.Handle_ = nullptr; }
    TScopedHandle(const TScopedHandle&) = delete;
    TScopedHandle& operator=(const TScopedHandle&) = delete;
    TScopedHandle& operator=(TScopedHandle&&) = delete;
    HANDLE Get() const { return Handle_; }
    void Reset(HANDLE handle) {
        TScopedHandle old(Handle_);
        Handle_ = handle;
    }

private:
    HANDLE Handle_;
};
