#pragma once
// TJvGIFAnimator: a windowless control that shows a multi-frame GIF and
// plays it. Every timer tick moves the frame index one on (wrapping after
// the last), repaints at once and re-arms the timer with the display time
// of the frame now shown. The composed picture is kept by a TGIFComposition
// (JvGIFCompose.h); painting lives in JvGIFCtrlPaint.cpp.

#include <atomic>
#include <memory>

#include "controls/JvAnimatedImage.h"
#include "controls/JvGIFCompose.h"
#include "controls/JvTimer.h"
#include "gif/JvGIF.h"

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
    // The owned image; SetImage copies into it.
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

    TNotifyEvent OnStart;
    TNotifyEvent OnStop;
    TNotifyEvent OnChange;
    TNotifyEvent OnFrameChanged;

    // Timer interval for the current frame: its delay clamped to 50..10000
    // ms; 0 when the index is out of range or the image has fewer than 2
    // frames.
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
    void RenderImage() override;

private:
    // After Center, Stretch or Transparent changed.
    void RefreshDisplay();
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
};

// Makes TJvGIFAnimator known to stored definitions; called once by the
// program before it reads a definition that names it.
void RegisterAnimatedImageControls();
