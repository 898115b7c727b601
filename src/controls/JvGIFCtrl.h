#pragma once
// TJvGIFAnimator: a windowless control that shows a multi-frame GIF and
// plays it. Every timer tick moves the frame index one on (wrapping after
// the last), repaints at once and re-arms the timer with the display time
// of the frame now shown. The composed picture is kept by a TGIFComposition
// (JvGIFCompose.h); painting lives in JvGIFCtrlPaint.cpp.
//
// Threads. The window thread owns the control: it alone changes the image,
// the parent and the window, and it alone raises the events (OnStart,
// OnStop, OnChange, OnFrameChanged). With AsyncDrawing (and the timer
// Threaded) a tick runs on the timer's worker: it steps the frame and paints
// from there, and hands OnFrameChanged and the stop at the end of a pass to
// the window thread. The worker makes pixels and nothing else; what it reads,
// and who guards it:
// - FrameIndex, the options, the control's place and state: atomics;
// - the image (its frames), the composed picture and the kept background
//   (what lies beneath, made by the window thread's paints, see
//   JvAnimatedImage.h): changed on the window thread under PictureLock and
//   the control's canvas lock; a tick reads them under both;
// - of the parent, only its window and whether it is being destroyed: the
//   parent pointer under PictureLock, the rest inside the parent's
//   worker-paint gate (WinControl.h), which a worker only tries;
// - the events: each behind its own lock (TSharedEvent).
// Nothing of the siblings and nothing else of the parent: the worker never
// paints them, never reads their properties, and so never takes their locks.
//
// Lock order, first taken first: PictureLock; the control's canvas lock; the
// parent's worker-paint gate (only tried); the off-screen bitmap's canvas
// lock; the kept background's canvas lock, or the composed picture's canvas
// lock and inside it those of the frames' bitmaps. A worker takes only its
// own control's locks, in this order. The window thread, when a paint copies what lies beneath this
// control, takes inside this control's canvas lock the canvas locks of the
// windowless siblings beneath it (each with its own locks in this order);
// it holds no lock of a control while it paints the controls above it (a
// tick's repaint), and destruction takes none. The timer's locks (its state
// lock, its PauseGuard) and the events' locks are leaves.
//
// Waits. No thread waits for another while it holds one of these locks: a
// tick releases every lock before it hands an event to the window thread,
// and the window thread sets the timer (which may wait for the worker to
// end) only after it has released them. So a wait for a lock is a plain
// wait, and serves nothing. A wait for a worker's end serves the call the
// worker waits in, whose handler may free this control, its timer or its
// form: after it, the control's life is checked before anything of it is
// touched, and a handler may change this control in any way (Center,
// Stretch, Transparent, FrameIndex, Image, AsyncDrawing, Animate, a
// repaint) or free it.
//
// Destruction ends the worker before anything a tick uses goes, serving the
// call it may wait for; from inside a tick (a handler that frees the
// control) the worker is released and ends by itself, touching nothing.

#include <atomic>
#include <memory>

#include "controls/JvAnimatedImage.h"
#include "controls/JvGIFCompose.h"
#include "controls/JvTimer.h"
#include "gif/JvGIF.h"
#include "rtl/LifeToken.h"
#include "win/SharedEvent.h"

class TJvGIFAnimator : public TJvImageControl {
public:
    explicit TJvGIFAnimator(TComponent* owner);
    ~TJvGIFAnimator() override;
    const char* ClassName() const override { return "TJvGIFAnimator"; }

    bool AsyncDrawing() const { return AsyncDrawing_.load(); }
    void SetAsyncDrawing(bool value);
    bool Animate() const { return Animate_.load(); }
    void SetAnimate(bool value);
    bool Center() const { return Center_.load(); }
    void SetCenter(bool value);
    int FrameIndex() const { return FrameIndex_.load(); }
    void SetFrameIndex(int value);
    // The owned image; SetImage copies into it. While a tick may run on the
    // worker (AsyncDrawing), change it through SetImage or the stored
    // "Image.Data", which hold the locks a tick and a paint read it under.
    TJvGIFImage& Image() const { return *Image_; }
    void SetImage(TJvGIFImage* value);
    bool Loop() const { return Loop_.load(); }
    void SetLoop(bool value) { Loop_.store(value); }
    bool Stretch() const { return Stretch_.load(); }
    void SetStretch(bool value);
    bool Transparent() const { return Transparent_.load(); }
    void SetTransparent(bool value);
    bool Threaded() const { return AnimTimer_->Threaded(); }
    void SetThreaded(bool value) { AnimTimer_->SetThreaded(value); }
    TJvTimer& AnimTimer() const { return *AnimTimer_; }

    TSharedEvent<TNotifyEvent> OnStart;
    TSharedEvent<TNotifyEvent> OnStop;
    TSharedEvent<TNotifyEvent> OnChange;
    TSharedEvent<TNotifyEvent> OnFrameChanged;

    // Timer interval for the current frame: its delay clamped to 50..10000
    // ms; 0 when the index is out of range or the image has fewer than 2
    // frames. Off the window thread, under PictureLock.
    unsigned CurrentFrameInterval() const;
    // One tick (the timer's handler).
    void AdvanceFrame(TComponent* sender);
    // The owned image's change handler.
    void HandleImageChange(TObject* sender);
    // Switches the animation off at the end of a pass.
    void StopAtLoopEnd();

    HPALETTE GetPalette() override;
    bool CanAutoSize(int& width, int& height) override;
    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override;

protected:
    virtual void NotifyChange();
    virtual void NotifyFrameChanged();
    virtual void NotifyStart();
    virtual void NotifyStop();

    void AdjustSize() override;
    void RenderContent() override;
    bool RenderFillsClientArea() const override { return true; }
    // The fill, and what lies behind the control where the picture lets it
    // show.
    void RenderBackground() override;
    // Kept only for a worker's paints.
    bool KeepsBackground() const override { return AsyncDrawing_.load(); }
    void RenderImage() override;

private:
    // After Center, Stretch or Transparent changed.
    void RefreshDisplay();
    // Step 1 of a tick: whether it moves on; under PictureLock.
    bool CanAdvance();
    // Runs a call of this control on the window thread: at once there; from
    // a worker through the timer's synchronised call, served only while the
    // control lives.
    void CallOnWindowThread(const std::function<void()>& call);
    // Changes the image under PictureLock and the canvas lock, then runs
    // HandleImageChange once, with no lock held, if the image changed.
    void ChangeImage(const std::function<void()>& change);
    // The legacy stored name "JvxAnimate".
    void ReadLegacyAnimate(bool value) { SetAnimate(value); }
    // The composed picture of a frame (owned by the composition).
    TBitmap* ComposeFrame(int index, TColor& transparentColor);
    // Paints what lies behind a windowless control into the canvas: its
    // parent's background and the windowless siblings beneath it.
    static void CopyParentBackground(TControl* control, TCanvas& canvas);

    std::atomic<bool> Animate_{false};
    std::unique_ptr<TJvGIFImage> Image_;
    TJvTimer* AnimTimer_;  // owned, also as component
    std::atomic<int> FrameIndex_{0};
    std::atomic<bool> Stretch_{false};
    std::atomic<bool> Loop_{true};
    std::atomic<bool> Center_{false};
    std::atomic<bool> Transparent_{true};
    // ComposedFrame, ComposedIndex and ComposedTransparentColor.
    TGIFComposition Composition_;
    // The composed picture's size, checked by each paint.
    TPictureLimit ComposedLimit_;
    std::atomic<bool> AsyncDrawing_{false};
    TLifeToken Life_;
};

// Makes TJvGIFAnimator known to stored definitions; called once by the
// program before it reads a definition that names it.
void RegisterAnimatedImageControls();
