#include "controls/JvAnimatedImage.h"

#include <algorithm>

#include "rtl/Graphic.h"
#include "ui/Forms.h"
#include "ui/Synchronize.h"
#include "ui/WinControl.h"
#include "win/ScopedWin.h"

// ---- TJvLockedBitmap

void TJvLockedBitmap::Draw(TCanvas& canvas, const TRect& rect) {
    // An empty bitmap is drawn without touching the lock.
    if (Empty()) {
        TBitmap::Draw(canvas, rect);
        return;
    }
    TCanvasLock lock(Canvas());
    TBitmap::Draw(canvas, rect);
}

// ---- TJvImageControl

TJvImageControl::TJvImageControl(TComponent* owner) : TGraphicControl(owner) {
    SetControlStyle(ControlStyle() | csOpaque | csCaptureMouse | csClickEvents | csDoubleClicks | csReplicatable);
    SetBounds(Left(), Top(), 105, 105);
    SetParentColor(true);
}

TJvImageControl::~TJvImageControl() = default;

void TJvImageControl::SetParent(TWinControl* parent) {
    TPictureLock picture(*this);
    {
        TCanvasLock canvas(Canvas());
        Background_.reset();
    }
    TGraphicControl::SetParent(parent);
}

void TJvImageControl::Paint(HDC) {
    // A size set negative has no pixels, as 0 has; a bitmap refuses it.
    const int width = std::max(ClientWidth(), 0), height = std::max(ClientHeight(), 0);
    // A client area too large for memory: nothing is drawn, and that is said once.
    if (!BufferLimit_.Fits(width, height)) {
        Buffer_.reset();
        return;
    }
    // The buffer is kept while the size stays, so that a tick does not make
    // and map a bitmap each time. A kept one is cleared to black, as a new
    // one is: nothing of the last paint survives where a descendant draws
    // nothing.
    if (!Buffer_) {
        Buffer_ = std::make_unique<TJvLockedBitmap>();
        // The screen's usual format: the copy to it converts no pixels.
        Buffer_->SetPixelBits(32);
    }
    TJvLockedBitmap& buffer = *Buffer_;
    const bool kept = buffer.Width() == width && buffer.Height() == height;
    if (!kept) {
        buffer.SetWidth(width);
        buffer.SetHeight(height);
    }
    TCanvasLock bufferLock(buffer.Canvas());
    if (kept && !buffer.Empty() && !RenderFillsClientArea())
        PatBlt(buffer.Canvas().Handle(), 0, 0, buffer.Width(), buffer.Height(), BLACKNESS);
    TCanvas& canvas = Canvas();
    HDC target = canvas.Handle();
    // The screen is written once, also after an error, with whatever was
    // rendered so far.
    auto show = [&] {
        canvas.SetHandle(target);
        canvas.Draw(0, 0, &buffer);
    };
    // Whatever the descendant draws through Canvas() lands in the buffer.
    canvas.SetHandle(buffer.Canvas().Handle());
    try {
        RenderContent();
    } catch (...) {
        show();
        throw;
    }
    show();
}

void TJvImageControl::RenderBackground() {
    TCanvas& canvas = Canvas();
    canvas.Brush().SetColor(Color());
    canvas.FillRect(TRect{0, 0, ClientWidth(), ClientHeight()});
}

void TJvImageControl::PaintBackgroundAndImage() {
    if (InMainThread()) {
        RenderBackground();
        if (KeepsBackground())
            KeepBackground();
        else
            Background_.reset();
    } else {
        DrawKeptBackground();
    }
    // Restored when RenderImage returns or fails, as a nested image paint
    // would restore the outer one's thread.
    struct TImagePaint {
        std::atomic<DWORD>& Thread;
        const DWORD Outer;
        ~TImagePaint() { Thread.store(Outer); }
    } imagePaint{ImagePaintThread_, ImagePaintThread_.exchange(GetCurrentThreadId())};
    RenderImage();
}

bool TJvImageControl::BackgroundFits() const {
    const RECT bounds = BoundsRect();
    return Background_ && EqualRect(&bounds, &BackgroundBounds_);
}

void TJvImageControl::KeepBackground() {
    const int width = std::max(ClientWidth(), 0), height = std::max(ClientHeight(), 0);
    if (!Background_) {
        Background_ = std::make_unique<TJvLockedBitmap>();
        // The buffer's format: copied both ways without converting a pixel.
        Background_->SetPixelBits(32);
    }
    if (Background_->Width() != width || Background_->Height() != height) {
        Background_->SetWidth(width);
        Background_->SetHeight(height);
    }
    BackgroundBounds_ = BoundsRect();
    if (Background_->Empty())
        return;
    TCanvasLock lock(Background_->Canvas());
    BitBlt(Background_->Canvas().Handle(), 0, 0, width, height, Canvas().Handle(), 0, 0, SRCCOPY);
}

void TJvImageControl::DrawKeptBackground() {
    const HDC target = Canvas().Handle();
    const int width = std::max(ClientWidth(), 0), height = std::max(ClientHeight(), 0);
    if (!BackgroundFits()) {
        // Not reached through RepaintFromAnyThread, which skips such a
        // paint: what a new bitmap holds, as in a paint that draws nothing.
        PatBlt(target, 0, 0, width, height, BLACKNESS);
        return;
    }
    if (Background_->Empty())
        return;
    // As it was kept: a plain copy that leaves the target's state alone.
    TCanvasLock lock(Background_->Canvas());
    BitBlt(target, 0, 0, width, height, Background_->Canvas().Handle(), 0, 0, SRCCOPY);
}

void TJvImageControl::PaintDesignOutline() {
    if (!IsDesigning())
        return;
    // Dashed, in the pen's colour and width, with nothing filled.
    TCanvas& canvas = Canvas();
    TCanvasLock lock(canvas);
    HDC dc = canvas.Handle();
    TScopedGdiObject<HPEN> dashed(CreatePen(PS_DASH, canvas.Pen().Width(), ColorToRGB(canvas.Pen().Color())));
    TScopedSelect pen(dc, dashed.Get());
    TScopedSelect brush(dc, GetStockObject(NULL_BRUSH));
    ::Rectangle(dc, 0, 0, Width(), Height());
}

void TJvImageControl::RepaintFromAnyThread() {
    if (InMainThread()) {
        Repaint();
        return;
    }
    TPictureLock picture(*this);
    TCanvasLock canvas(Canvas());
    TWinControl* parent = Parent();
    if (!parent)
        return;
    const TWorkerPaintEntry entry(*parent);
    if (!entry)
        return;
    HWND window = parent->ExistingHandle();
    if (!window || parent->IsDestroying())
        return;
    const RECT bounds = BoundsRect();
    if (!BackgroundFits()) {
        // The window thread paints it, and keeps what lies beneath for the
        // next ticks; nothing of it is made here.
        InvalidateRect(window, &bounds, FALSE);
        return;
    }
    TScopedGetDC dc(window);
    if (!dc.Get())
        return;
    IntersectClipRect(dc.Get(), bounds.left, bounds.top, bounds.right, bounds.bottom);
    POINT origin;
    GetWindowOrgEx(dc.Get(), &origin);
    SetWindowOrgEx(dc.Get(), origin.x - bounds.left, origin.y - bounds.top, nullptr);
    Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc.Get()), 0);
}

void TJvImageControl::NotifyPictureChanged() {
    if (IsDestroying())
        return;
    AdjustSize();
    // Update waits for the window thread: a worker leaves it to the invalidation.
    if (DisplayedGraphic_ && ForwardPaletteChange() && InImagePaint() && InMainThread())
        Update();
    if (!InImagePaint())
        Invalidate();
}

bool TJvImageControl::ForwardPaletteChange() {
    if (!Visible() || IsLoading() || !DisplayedGraphic_ || !DisplayedGraphic_->PaletteModified())
        return false;
    if (!GetPalette()) {
        DisplayedGraphic_->SetPaletteModified(false);
        return false;
    }
    TForm* form = GetParentForm(this);
    if (!form || !form->Active() || !form->HandleAllocated())
        return false;
    // A worker posts: the form's palette handling belongs to the window thread.
    if (InImagePaint() && InMainThread())
        form->Perform(WM_QUERYNEWPALETTE, 0, 0);
    else
        PostMessageW(form->Handle(), WM_QUERYNEWPALETTE, 0, 0);
    DisplayedGraphic_->SetPaletteModified(false);
    return true;
}
