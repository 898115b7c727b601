#include "controls/JvGIFCtrl.h"

#include <algorithm>
#include <utility>

#include "rtl/Streams.h"
#include "ui/Forms.h"
#include "ui/Reader.h"
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
    // A tick on the stack (a handler freeing this control) stops here.
    Life_.End();
    OnStart = nullptr;
    OnStop = nullptr;
    OnChange = nullptr;
    OnFrameChanged = nullptr;
    // Ends the worker (serving the call it may wait for, which now does
    // nothing) before anything a tick uses goes; from inside a tick the
    // worker is released instead.
    SetAnimate(false);
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
    if (value == Animate_.load())
        return;
    if (value) {
        AnimTimer_->SetOnTimer([this](TComponent* sender) { AdvanceFrame(sender); });
        AnimTimer_->SetEnabled(true);
        Animate_.store(AnimTimer_->Enabled());
        NotifyStart();
    } else {
        AnimTimer_->SetEnabled(false);
        AnimTimer_->SetOnTimer(nullptr);
        Animate_.store(false);
        const TLifeWatch alive = Life_.Watch();
        NotifyStop();
        if (alive)
            NotifyPictureChanged();
    }
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
        // No lock is held while the event runs: its handler may change the
        // control, which a tick on a worker would otherwise block.
        if (AsyncDrawing_.load() && OnFrameChanged)
            AnimTimer_->CallSynchronized([this] { NotifyFrameChanged(); });
        else
            NotifyFrameChanged();
        if (!alive)
            return;
        TPictureLock picture(*this);
        TCanvasLock canvas(Canvas());
        RepaintFromAnyThread();
    } catch (...) {
        if (alive)
            rearm();
        throw;
    }
    rearm();
    if (!Loop_.load() && FrameIndex_.load() == 0) {
        if (AsyncDrawing_.load())
            AnimTimer_->CallSynchronized([this] { StopAtLoopEnd(); });
        else
            StopAtLoopEnd();
    }
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
    AnimTimer_->SetInterval(interval);
    const TLifeWatch alive = Life_.Watch();
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
    // The interval of a single frame (0) ends the worker: no lock held.
    if (rearm)
        AnimTimer_->SetInterval(interval);
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
    if (!Image_ || Image_->Empty())
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
