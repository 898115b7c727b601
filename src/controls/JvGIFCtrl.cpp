#include "controls/JvGIFCtrl.h"

#include <algorithm>
#include <utility>

#include "rtl/Streams.h"
#include "ui/Forms.h"
#include "ui/Reader.h"
#include "ui/Synchronize.h"
#include "ui/WinControl.h"

namespace {

constexpr unsigned MinFrameInterval = 50;
constexpr unsigned MaxFrameInterval = 10000;

}  // namespace

TJvGIFAnimator::TJvGIFAnimator(TComponent* owner)
    : TJvImageControl(owner),
      AnimTimer_(new TJvTimer(this)),
      Composition_([] {
          // As the paint's buffer: drawn into it and read by keyed draws
          // without converting pixels.
          auto picture = std::make_unique<TJvLockedBitmap>();
          picture->SetPixelBits(32);
          return picture;
      }) {
    AnimTimer_->SetThreaded(true);
    SetAutoSize(true);
    Image_ = std::make_unique<TJvGIFImage>();
    SetDisplayedGraphic(Image_.get());
    Image_->OnChange = [this](TObject* sender) { HandleImageChange(sender); };
    Loop_ = true;
    Transparent_ = true;
}

TJvGIFAnimator::~TJvGIFAnimator() {
    Destroying();
    // A tick on the stack (a handler freeing this control) stops here, and
    // so does every call this control handed to the window thread.
    Life_.End();
    OnStart = nullptr;
    OnStop = nullptr;
    OnChange = nullptr;
    OnFrameChanged = nullptr;
    // Switched off with no OnStop, and no picture change during destruction.
    Animate_.store(false);
    // The timer ends its worker (serving the call it may wait for, which now
    // does nothing) before anything a tick uses goes; from inside a tick it
    // releases the worker instead. No other thread takes this control's
    // locks afterwards.
    delete AnimTimer_;
    AnimTimer_ = nullptr;
    Composition_.Discard();
    Image_->OnChange = nullptr;
    SetDisplayedGraphic(nullptr);
    Image_.reset();
}

void TJvGIFAnimator::NotifyChange() { OnChange(this); }

void TJvGIFAnimator::NotifyFrameChanged() { OnFrameChanged(this); }

void TJvGIFAnimator::NotifyStart() { OnStart(this); }

void TJvGIFAnimator::NotifyStop() { OnStop(this); }

unsigned TJvGIFAnimator::CurrentFrameInterval() const {
    const int index = FrameIndex_.load();
    const int count = Image_->FrameCount();
    if (index < 0 || index >= count || count < 2)
        return 0;
    return std::clamp<unsigned>(Image_->FrameAt(index)->DelayMs(), MinFrameInterval, MaxFrameInterval);
}

void TJvGIFAnimator::SetAnimate(bool value) {
    // Claimed before the timer is touched: starting or stopping it may wait
    // for its worker, serving the call the worker waits in, and a stop at
    // the end of a pass served there finds this one made (one OnStop).
    if (Animate_.exchange(value) == value)
        return;
    // A handler served in such a wait may free this control, or switch the
    // animation again, which then stands.
    const TLifeWatch alive = Life_.Watch();
    const auto superseded = [&] { return !alive || Animate_.load() != value; };
    if (value) {
        try {
            AnimTimer_->SetOnTimer([this](TComponent* sender) { AdvanceFrame(sender); });
            if (superseded())
                return;
            AnimTimer_->SetEnabled(true);
        } catch (...) {
            // The timer refused to start: the animation is not on.
            if (alive)
                Animate_.store(false);
            throw;
        }
        if (superseded())
            return;
        NotifyStart();
    } else {
        AnimTimer_->SetEnabled(false);
        if (superseded())
            return;
        AnimTimer_->SetOnTimer(nullptr);
        if (superseded())
            return;
        NotifyStop();
        if (alive)
            NotifyPictureChanged();
    }
}

void TJvGIFAnimator::CallOnWindowThread(const std::function<void()>& call) {
    if (InMainThread()) {
        call();
        return;
    }
    // Served while this control lives only: its destruction may serve it.
    const TLifeWatch alive = Life_.Watch();
    AnimTimer_->CallSynchronized([&alive, &call] {
        if (alive)
            call();
    });
}

bool TJvGIFAnimator::CanAdvance() {
    return !(ControlState() & csPaintCopy) && !IsDestroying() && Visible() && Image_->FrameCount() >= 2 && Parent() &&
           Parent()->HandleAllocated();
}

void TJvGIFAnimator::AdvanceFrame(TComponent*) {
    // The event and the stop may free this control (and its timer): once it
    // has ended, nothing of it is touched.
    const TLifeWatch alive = Life_.Watch();
    {
        TPictureLock picture(*this);
        if (!CanAdvance())
            return;
        const int count = Image_->FrameCount();
        const int index = FrameIndex_.load();
        FrameIndex_.store(index < count - 1 ? index + 1 : 0);
    }
    // Each frame stays for its own time, also after an error in the event
    // or the paint. Set with no lock held: a change may end a worker.
    auto rearm = [this] {
        unsigned interval;
        {
            TPictureLock picture(*this);
            const int now = FrameIndex_.load();
            if (now < 0 || now >= Image_->FrameCount())
                return;
            interval = CurrentFrameInterval();
        }
        AnimTimer_->SetInterval(interval);
    };
    try {
        // No lock is held while the event runs: its handler may change or
        // free the control. Where the tick runs decides where the event is
        // raised, whatever AsyncDrawing says by now; a worker hands it to
        // the window thread only when there is a handler to run.
        if (InMainThread())
            NotifyFrameChanged();
        else if (OnFrameChanged)
            CallOnWindowThread([this] { NotifyFrameChanged(); });
        if (!alive)
            return;
        // A worker paints under PictureLock, so that the image and the
        // options hold still; the window thread repaints through the
        // framework (this control, then the siblings above it) holding no
        // lock of this control meanwhile.
        RepaintFromAnyThread();
    } catch (...) {
        if (alive)
            rearm();
        throw;
    }
    rearm();
    if (alive && !Loop_.load() && FrameIndex_.load() == 0)
        CallOnWindowThread([this] { StopAtLoopEnd(); });
}

void TJvGIFAnimator::StopAtLoopEnd() {
    SetAnimate(false);
    // A form designer would be told that the stored Animate changed; the
    // program has none.
}

void TJvGIFAnimator::SetFrameIndex(int value) {
    if (value == FrameIndex_.load() || value >= Image_->FrameCount() || value < 0)
        return;
    unsigned interval;
    {
        TPictureLock picture(*this);
        FrameIndex_.store(value);
        interval = CurrentFrameInterval();
    }
    // An interval of 0 (one frame) ends the worker, serving the call it
    // waits in, whose handler may free this control.
    const TLifeWatch alive = Life_.Watch();
    AnimTimer_->SetInterval(interval);
    if (!alive)
        return;
    NotifyFrameChanged();
    if (alive)
        NotifyPictureChanged();
}

void TJvGIFAnimator::ChangeImage(const std::function<void()>& change) {
    bool changed = false;
    auto report = [&] {
        if (changed)
            HandleImageChange(Image_.get());
    };
    try {
        TPictureLock picture(*this);
        TCanvasLock canvas(Canvas());
        // The image's own notification waits until the locks are released.
        struct TMuted {
            TJvGIFImage& Image;
            decltype(TJvGIFImage::OnChange) Saved;
            ~TMuted() { Image.OnChange = std::move(Saved); }
        } muted{*Image_, std::exchange(Image_->OnChange, [&changed](TObject*) { changed = true; })};
        change();
    } catch (...) {
        report();
        throw;
    }
    report();
}

void TJvGIFAnimator::SetImage(TJvGIFImage* value) {
    ChangeImage([&] { Image_->Assign(value); });
}

void TJvGIFAnimator::HandleImageChange(TObject*) {
    bool rearm;
    unsigned interval = 0;
    {
        TPictureLock picture(*this);
        TCanvasLock canvas(Canvas());
        Composition_.Discard();
        FrameIndex_.store(Image_->ActiveFrameIndex());
        rearm = FrameIndex_.load() >= 0 && Image_->FrameCount() > 0;
        if (rearm)
            interval = CurrentFrameInterval();
    }
    // The interval of a single frame (0) ends the worker: no lock held. Its
    // end serves the call it waits in, whose handler may free this control.
    if (rearm) {
        const TLifeWatch alive = Life_.Watch();
        AnimTimer_->SetInterval(interval);
        if (!alive)
            return;
    }
    NotifyPictureChanged();
    NotifyChange();
}

namespace {

// Store, then refresh: the shared shape of Center, Stretch and Transparent.
template <class Refresh>
void SetDisplayOption(TJvImageControl& control, std::atomic<bool>& option, bool value, Refresh refresh) {
    if (value == option.load())
        return;
    {
        TPictureLock picture(control);
        option.store(value);
    }
    refresh();
}

}  // namespace

void TJvGIFAnimator::SetCenter(bool value) {
    SetDisplayOption(*this, Center_, value, [this] { RefreshDisplay(); });
}

void TJvGIFAnimator::SetStretch(bool value) {
    SetDisplayOption(*this, Stretch_, value, [this] { RefreshDisplay(); });
}

void TJvGIFAnimator::SetTransparent(bool value) {
    SetDisplayOption(*this, Transparent_, value, [this] { RefreshDisplay(); });
}

void TJvGIFAnimator::RefreshDisplay() {
    NotifyPictureChanged();
    if (Animate_.load())
        Repaint();
}

void TJvGIFAnimator::SetAsyncDrawing(bool value) {
    if (value == AsyncDrawing_.load())
        return;
    TPictureLock picture(*this);
    AnimTimer_->SetSyncEvent(!value);
    AsyncDrawing_.store(value);
}

HPALETTE TJvGIFAnimator::GetPalette() {
    if (!Image_)
        return nullptr;
    // The palette is the active frame's bitmap's, which a worker's paint may
    // be making: read under the lock that paint holds.
    TCanvasLock canvas(Canvas());
    if (Image_->Empty())
        return nullptr;
    return Image_->PaletteHandle();
}

void TJvGIFAnimator::AdjustSize() {
    // Also reached from the constructor, before the image exists.
    if (Image_ && !IsLoading() && AutoSize() && !Image_->Empty())
        SetBounds(Left(), Top(), Image_->LogicalWidth(), Image_->LogicalHeight());
}

bool TJvGIFAnimator::CanAutoSize(int& width, int& height) {
    if (!Image_ || IsDesigning() || Image_->Empty())
        return true;
    const TAlign align = Align();
    if (align == alNone || align == alLeft || align == alRight)
        width = Image_->LogicalWidth();
    if (align == alNone || align == alTop || align == alBottom)
        height = Image_->LogicalHeight();
    return true;
}

bool TJvGIFAnimator::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "AsyncDrawing")
        SetAsyncDrawing(reader.AsBoolean(value));
    else if (name == "Animate")
        SetAnimate(reader.AsBoolean(value));
    else if (name == "JvxAnimate")
        ReadLegacyAnimate(reader.AsBoolean(value));
    else if (name == "AutoSize")
        SetAutoSize(reader.AsBoolean(value));
    else if (name == "Center")
        SetCenter(reader.AsBoolean(value));
    else if (name == "FrameIndex")
        SetFrameIndex(reader.AsInt(value));
    else if (name == "Image.Data") {
        const TStoredBytes& bytes = reader.AsBytes(value);
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), bytes.size());
        stream.SetPosition(0);
        ChangeImage([&] { Image_->ReadData(stream); });
    } else if (name == "Loop")
        SetLoop(reader.AsBoolean(value));
    else if (name == "Stretch")
        SetStretch(reader.AsBoolean(value));
    else if (name == "Transparent")
        SetTransparent(reader.AsBoolean(value));
    else if (name == "Threaded")
        SetThreaded(reader.AsBoolean(value));
    else
        return TJvImageControl::ReadProperty(reader, name, value);
    return true;
}

void RegisterAnimatedImageControls() {
    RegisterComponentClass("TJvGIFAnimator", [](TComponent* owner) { return new TJvGIFAnimator(owner); });
}
