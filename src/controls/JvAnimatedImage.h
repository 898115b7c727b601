#pragma once
// TJvImageControl: the base of windowless controls whose picture changes
// while it is on screen, possibly from a worker thread. Every paint is
// rendered into an off-screen bitmap of the client size and reaches the
// screen in one draw; PictureLock guards the descendant's picture state.
// A worker makes pixels from the control's own pictures only: what lies
// beneath the picture (the parent, the siblings beneath) is kept as a
// picture by the window thread at each of its paints, which every change
// beneath brings (an invalidation of the area, the parent's paint, a
// sibling's repaint, which repaints the controls above it).
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
    // any thread; recursive. A plain wait on every thread: no thread holds
    // it while it waits for another.
    void LockPicture() { PictureLock_.Lock(); }
    void UnlockPicture() { PictureLock_.Unlock(); }

    // Under PictureLock, so that a worker's paint finds the parent it
    // started with; what lay beneath under the old parent is forgotten.
    void SetParent(TWinControl* parent) override;

protected:
    // Draws the content into the off-screen bitmap through Canvas(); the
    // base draws nothing.
    virtual void RenderContent() {}
    // RenderContent fills the whole client area before it draws anything
    // else (it starts with PaintBackgroundAndImage), so a kept buffer need
    // not be cleared first.
    virtual bool RenderFillsClientArea() const { return false; }
    // Draws what lies beneath the picture on Canvas(), on the window thread
    // only: the base fills the client area with Color.
    virtual void RenderBackground();
    // A worker may paint this control: each window-thread paint keeps what
    // RenderBackground drew for the worker's paints.
    virtual bool KeepsBackground() const { return true; }
    // Draws the picture on Canvas(); called from PaintBackgroundAndImage.
    virtual void RenderImage() = 0;

    // The buffered paint.
    void Paint(HDC dc) override;
    // What lies beneath (RenderBackground on the window thread, the kept
    // picture of it on a worker), then RenderImage.
    void PaintBackgroundAndImage();
    // A dashed outline, in a form designer only.
    void PaintDesignOutline();
    // Paints at once: on the window thread through the framework's repaint
    // (this control and the siblings above it), on a worker into a DC of
    // the parent clipped to this control, from the control's own pictures
    // and the kept background. A worker paints only through a parent window
    // that exists, while the parent is not changing nor being destroyed (its
    // worker-paint gate), and with a background kept for the control's
    // present place; otherwise it skips the paint (asking the window thread
    // for one when the background is missing): it never creates a window and
    // never waits for the window thread.
    void RepaintFromAnyThread();
    // After every change of what is shown: size, palette, repaint.
    void NotifyPictureChanged();
    // Passes a changed picture palette to the active form; true when a
    // palette message was sent or posted.
    bool ForwardPaletteChange();

    TGraphic* DisplayedGraphic() const { return DisplayedGraphic_; }
    void SetDisplayedGraphic(TGraphic* graphic) { DisplayedGraphic_ = graphic; }
    // RenderImage runs on the calling thread, inside PaintBackgroundAndImage.
    bool InImagePaint() const { return ImagePaintThread_.load() == GetCurrentThreadId(); }

private:
    // Under the control's canvas lock.
    bool BackgroundFits() const;
    void KeepBackground();
    void DrawKeptBackground();

    // The thread inside RenderImage (0: none): the window thread and a
    // worker may paint in turn, and each asks about its own paint.
    std::atomic<DWORD> ImagePaintThread_{0};
    // The off-screen buffer's size, checked by each paint.
    TPictureLimit BufferLimit_;
    // The off-screen buffer, kept between paints of the same size; touched
    // only by a paint, under the control's canvas lock.
    std::unique_ptr<TJvLockedBitmap> Buffer_;
    // What lay beneath the picture at the window thread's last paint, and
    // where the control was then; under the control's canvas lock.
    std::unique_ptr<TJvLockedBitmap> Background_;
    RECT BackgroundBounds_{};
    TCriticalSection PictureLock_;
    TGraphic* DisplayedGraphic_ = nullptr;  // not owned
};

// Holds PictureLock for one scope.
using TPictureLock = TScopedLock<TJvImageControl, &TJvImageControl::LockPicture, &TJvImageControl::UnlockPicture>;
