#include "graphics/Canvas.h"

#include <cstring>

#include "rtl/Errors.h"
#include "win/WinText.h"

COLORREF ColorToRGB(TColor color) {
    if (IsSystemColor(color))
        return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0xFFFFFF);
}

namespace {

// As ColorToRGB, but a palette-relative colour keeps its flag for GDI.
COLORREF DrawingColor(TColor color) {
    if ((color >> 24) == 0x02)
        return static_cast<COLORREF>(color);
    return ColorToRGB(color);
}

}  // namespace

// ---- TFont

void TFont::SetName(std::string name) {
    if (name != Name_) {
        Name_ = std::move(name);
        Changed();
    }
}

void TFont::SetHeight(int height) {
    if (height != Height_) {
        Height_ = height;
        Changed();
    }
}

void TFont::SetStyle(unsigned style) {
    if (style != Style_) {
        Style_ = style;
        Changed();
    }
}

void TFont::SetColor(TColor color) {
    if (color != Color_) {
        Color_ = color;
        Changed();
    }
}

void TFont::SetCharset(int charset) {
    if (charset != Charset_) {
        Charset_ = charset;
        Changed();
    }
}

void TFont::Assign(const TFont& other) {
    Name_ = other.Name_;
    Height_ = other.Height_;
    Style_ = other.Style_;
    Color_ = other.Color_;
    Charset_ = other.Charset_;
    Changed();
}

void TFont::Changed() {
    Handle_.Reset();
    if (OnChange)
        OnChange();
}

HFONT TFont::Handle() const {
    if (!Handle_) {
        LOGFONTW font{};
        font.lfHeight = Height_;
        font.lfWeight = (Style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = (Style_ & fsItalic) ? TRUE : FALSE;
        font.lfUnderline = (Style_ & fsUnderline) ? TRUE : FALSE;
        font.lfStrikeOut = (Style_ & fsStrikeOut) ? TRUE : FALSE;
        font.lfCharSet = static_cast<BYTE>(Charset_);
        font.lfOutPrecision = OUT_DEFAULT_PRECIS;
        font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        font.lfQuality = DEFAULT_QUALITY;
        font.lfPitchAndFamily = DEFAULT_PITCH;
        const std::wstring face = Utf8ToWide(Name_);
        wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
        Handle_.Reset(CreateFontIndirectW(&font));
        if (!Handle_)
            throw EOutOfResources("Out of system resources");
    }
    return Handle_.Get();
}

// ---- TBrush, TPen

void TBrush::SetColor(TColor color) {
    if (color != Color_) {
        Color_ = color;
        Handle_.Reset();
    }
}

HBRUSH TBrush::Handle() const {
    if (!Handle_) {
        Handle_.Reset(CreateSolidBrush(DrawingColor(Color_)));
        if (!Handle_)
            throw EOutOfResources("Out of system resources");
    }
    return Handle_.Get();
}

void TPen::SetColor(TColor color) {
    if (color != Color_) {
        Color_ = color;
        Handle_.Reset();
    }
}

void TPen::SetWidth(int width) {
    if (width != Width_) {
        Width_ = width;
        Handle_.Reset();
    }
}

HPEN TPen::Handle() const {
    if (!Handle_) {
        Handle_.Reset(CreatePen(PS_SOLID, Width_, DrawingColor(Color_)));
        if (!Handle_)
            throw EOutOfResources("Out of system resources");
    }
    return Handle_.Get();
}

// ---- TCanvas

HDC TCanvas::Handle() {
    if (!DC_)
        CreateHandle();
    if (!DC_)
        throw EInvalidOperation("Canvas does not allow drawing");
    return DC_;
}

void TCanvas::FillRect(const TRect& rect) {
    TCanvasLock lock(*this);
    HDC dc = Handle();
    Changing();
    const RECT area = ToRECT(rect);
    ::FillRect(dc, &area, Brush_.Handle());
    Changed();
}

void TCanvas::Rectangle(const TRect& rect) {
    TCanvasLock lock(*this);
    HDC dc = Handle();
    Changing();
    TScopedSelect pen(dc, Pen_.Handle());
    TScopedSelect brush(dc, Brush_.Handle());
    ::Rectangle(dc, rect.Left, rect.Top, rect.Right, rect.Bottom);
    Changed();
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    TCanvasLock lock(*this);
    HDC dc = Handle();
    Changing();
    TScopedSelect font(dc, Font_.Handle());
    SetTextColor(dc, ColorToRGB(Font_.Color()));
    SetBkMode(dc, TRANSPARENT);
    const std::wstring wide = Utf8ToWide(text);
    ::TextOutW(dc, x, y, wide.c_str(), static_cast<int>(wide.size()));
    Changed();
}

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
    if (graphic && !graphic->Empty())
        StretchDraw(TRect{x, y, x + graphic->Width(), y + graphic->Height()}, graphic);
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic* graphic) {
    if (!graphic)
        return;
    TCanvasLock lock(*this);
    Handle();
    Changing();
    graphic->Draw(*this, rect);
    Changed();
}

TColor TCanvas::Pixel(int x, int y) {
    TCanvasLock lock(*this);
    return static_cast<TColor>(GetPixel(Handle(), x, y));
}

void TCanvas::Lock() {
    Lock_.Lock();
    LockCount_.fetch_add(1, std::memory_order_relaxed);
}

void TCanvas::Unlock() {
    LockCount_.fetch_sub(1, std::memory_order_relaxed);
    Lock_.Unlock();
}

bool TCanvas::TryLock() {
    if (!Lock_.TryLock())
        return false;
    LockCount_.fetch_add(1, std::memory_order_relaxed);
    return true;
}
