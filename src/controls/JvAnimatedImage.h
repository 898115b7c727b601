#pragma once
// TJvImageControl: the base of windowless controls whose picture changes
// while it is on screen, possibly from a worker thread. Every paint is
// rendered into an off-screen bitmap of the client size and reaches the
// screen in one draw; PictureLock guards the descendant's picture state.
//
// TJvLockedBitmap: the bitmap whose draw holds its own canvas lock, so that
// its device context stays valid while another thread draws from it.

#include <memory>

#include "controls/PictureLimit.h"
#include "graphics/Canvas.h"
#include "rtl/Bitmap.h"
#include "ui/Controls.h"
#include "win/CriticalSection.h"

class TGraphic;

class TJvLockedBitmap : public TBitmap {
public:
    const char* ClassName() const override { return "TJvLockedBitmap"; }

    void Draw(TCanvas& canvas, const TRect& rect) override;
};

class TJvImageControl : public TGraphicControl {
public:
    explicit TJvImageControl(TComponent* owner);
    ~TJvImageControl() override;
    const char* ClassName() const override { return "TJvImageControl"; }

    // Around every change or read of the descendant's picture state, on
    // any thread; recursive. The window thread serves synchronised calls
    // while a tick on a worker holds the lock.
    void LockPicture();
    void UnlockPicture() { PictureLock_.Unlock(); }

    // Under PictureLock, so that a worker's paint finds the parent it
    // started with.
    void SetParent(TWinControl* parent) override;

protected:
    // Draws the content into the off-screen bitmap through Canvas(); the
    // base draws nothing.
    virtual void RenderContent() {}
    // RenderContent fills the whole client area before it draws anything
    // else (it starts with PaintBackgroundAndImage), so a kept buffer need
    // not be cleared first.
    virtual bool RenderFillsClientArea() const { return false; }
    // Draws the picture on Canvas(); called from PaintBackgroundAndImage.
    virtual void RenderImage() = 0;

    // The buffered paint.
    void Paint(HDC dc) override;
    // Fills the client area with Color, then RenderImage.
    void PaintBackgroundAndImage();
    // A dashed outline, in a form designer only.
    void PaintDesignOutline();
    // Paints at once: on the window thread through the framework's repaint
    // (this control and the siblings above it), on a worker into a DC of
    // the parent clipped to this control. A worker paints only through a
    // parent window that exists, while the parent is not changing nor being
    // destroyed (its worker-paint gate), and skips the paint otherwise: it
    // never creates a window and never waits for the window thread.
    void RepaintFromAnyThread();
    // After every change of what is shown: size, palette, repaint.
    void NotifyPictureChanged();
    // Passes a changed picture palette to the active form; true when a
    // palette message was sent or posted.
    bool ForwardPaletteChange();

    TGraphic* DisplayedGraphic() const { return DisplayedGraphic_; }
    void SetDisplayedGraphic(TGraphic* graphic) { DisplayedGraphic_ = graphic; }
    bool InImagePaint() const { return InImagePaint_; }

private:
    bool InImagePaint_ = false;
    // The off-screen buffer's size, checked by each paint.
    TPictureLimit BufferLimit_;
    // The off-screen buffer, kept between paints of the same size; touched
    // only by a paint, under the control's canvas lock.
    std::unique_ptr<TJvLockedBitmap> Buffer_;
    TCriticalSection PictureLock_;
    TGraphic* DisplayedGraphic_ = nullptr;  // not owned
};

// Holds PictureLock for one scope.
using TPictureLock = TScopedLock<TJvImageControl, &TJvImageControl::LockPicture, &TJvImageControl::UnlockPicture>;
