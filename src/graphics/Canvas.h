#pragma once
// The canvas: drawing on a device context with a brush, a pen and a font,
// plus the colour and font objects it uses. Windows only.

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "rtl/Colors.h"
#include "rtl/Graphic.h"
#include "win/CriticalSection.h"
#include "win/ScopedWin.h"

// System colours resolved to RGB; other values lose their high byte.
COLORREF ColorToRGB(TColor color);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A font by name and pixel height (negative: character height, as in
// LOGFONT); the GDI font is made on first use and remade after a change.
class TFont {
public:
    const std::string& Name() const { return Name_; }
    void SetName(std::string name);
    int Height() const { return Height_; }
    void SetHeight(int height);
    unsigned Style() const { return Style_; }
    void SetStyle(unsigned style);
    TColor Color() const { return Color_; }
    void SetColor(TColor color);
    int Charset() const { return Charset_; }
    void SetCharset(int charset);

    void Assign(const TFont& other);
    HFONT Handle() const;

    std::function<void()> OnChange;

private:
    void Changed();

    std::string Name_ = "MS Sans Serif";
    int Height_ = -11;
    unsigned Style_ = 0;
    TColor Color_ = clWindowText;
    int Charset_ = DEFAULT_CHARSET;
    mutable TScopedFont Handle_;
};

// A solid brush. Its colour may be palette-relative (0x02 in the high byte):
// with a palette selected, GDI then matches it to the nearest entry.
class TBrush {
public:
    TColor Color() const { return Color_; }
    void SetColor(TColor color);
    HBRUSH Handle() const;

private:
    TColor Color_ = clWhite;
    mutable TScopedBrush Handle_;
};

class TPen {
public:
    TColor Color() const { return Color_; }
    void SetColor(TColor color);
    int Width() const { return Width_; }
    void SetWidth(int width);
    HPEN Handle() const;

private:
    TColor Color_ = clBlack;
    int Width_ = 1;
    mutable TScopedPen Handle_;
};

// Drawing on a device context: either one bound from outside for a while
// (a paint's DC, SetHandle), or one the canvas makes itself when first asked
// (a bitmap's, CreateHandle). The brush, pen and font are selected only for
// the operation that needs them, so the DC can change hands at any time.
//
// The lock is recursive. Whoever uses Handle() beyond one call holds it, so
// that the framework cannot take back a bitmap canvas's DC meanwhile.
class TCanvas {
public:
    TCanvas() = default;
    virtual ~TCanvas() = default;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    // The DC, made when the canvas makes its own; raises an error when it
    // has none.
    HDC Handle();
    bool HandleAllocated() const { return DC_ != nullptr; }
    // Binds a DC from outside (null unbinds it).
    void SetHandle(HDC dc) { DC_ = dc; }

    TBrush& Brush() { return Brush_; }
    TPen& Pen() { return Pen_; }
    TFont& Font() { return Font_; }
    // Raster operation of the plain and stretched draws (SRCCOPY at first).
    DWORD CopyMode() const { return CopyMode_; }
    void SetCopyMode(DWORD mode) { CopyMode_ = mode; }

    void FillRect(const TRect& rect);
    // Outline with the pen, inside filled with the brush.
    void Rectangle(const TRect& rect);
    void TextOut(int x, int y, const std::string& text);
    // The graphic at its own size with its top-left corner at (x, y).
    void Draw(int x, int y, TGraphic* graphic);
    // The graphic stretched into the rectangle.
    void StretchDraw(const TRect& rect, TGraphic* graphic);
    TColor Pixel(int x, int y);

    void Lock();
    void Unlock();
    // Takes the lock only when no other thread holds it.
    bool TryLock();
    // How many times the lock is held, by any thread.
    int LockCount() const { return LockCount_.load(std::memory_order_relaxed); }

    // Called before and after the canvas draws. A bitmap's canvas tells its
    // bitmap through them that its pixels change.
    std::function<void()> OnChanging;
    std::function<void()> OnChange;
    void Changing() {
        if (OnChanging)
            OnChanging();
    }
    void Changed() {
        if (OnChange)
            OnChange();
    }

protected:
    // Makes the canvas's own DC and binds it; the default has none.
    virtual void CreateHandle() {}

private:
    HDC DC_ = nullptr;
    TBrush Brush_;
    TPen Pen_;
    TFont Font_;
    DWORD CopyMode_ = SRCCOPY;
    TCriticalSection Lock_;
    std::atomic<int> LockCount_{0};
};

// Holds a canvas's lock for one scope.
using TCanvasLock = TScopedLock<TCanvas>;

inline RECT ToRECT(const TRect& rect) { return RECT{rect.Left, rect.Top, rect.Right, rect.Bottom}; }
