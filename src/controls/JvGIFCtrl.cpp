#include "controls/JvGIFCtrl.h"

#include <algorithm>

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
      Composition_([] { return std::make_unique<TJvLockedBitmap>(); }) {
    AnimTimer_->SetThreaded(true);
    SetAutoSize(true);
    Image_ = std::make_unique<TJvGIFImage>();
    SetDisplayedGraphic(Image_.get());
    Image_->OnChange = [this](TObject* sender) { HandleImageChange(sender); };
    Loop_ = true;
    Transparent_ = true;
}

TJvGIFAnimator::~TJvGIFAnimator() {
    AnimTimer_->SetOnTimer(nullptr);
    AnimTimer_->SetEnabled(false);
    Destroying();
    OnStart = nullptr;
    OnStop = nullptr;
    OnChange = nullptr;
    OnFrameChanged = nullptr;
    SetAnimate(false);
    Composition_.Discard();
    Image_->OnChange = nullptr;
    SetDisplayedGraphic(nullptr);
    Image_.reset();
    delete AnimTimer_;
}

void TJvGIFAnimator::NotifyChange() {
    if (OnChange)
        OnChange(this);
}

void TJvGIFAnimator::NotifyFrameChanged() {
    if (OnFrameChanged)
        OnFrameChanged(this);
}

void TJvGIFAnimator::NotifyStart() {
    if (OnStart)
        OnStart(this);
}

void TJvGIFAnimator::NotifyStop() {
    if (OnStop)
        OnStop(this);
}

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
        NotifyStop();
        NotifyPictureChanged();
    }
}

void TJvGIFAnimator::AdvanceFrame(TComponent*) {
    if ((ControlState() & csPaintCopy) || IsDestroying() || !Visible() || Image_->FrameCount() < 2 || !Parent() ||
        !Parent()->HandleAllocated())
        return;
    TPictureLock picture(*this);
    const int count = Image_->FrameCount();
    const int index = FrameIndex_.load();
    FrameIndex_.store(index < count - 1 ? index + 1 : 0);
    Canvas().Lock();
    // Also after an error in the event or the paint: the canvas is released
    // and the timer re-armed.
    auto finish = [this] {
        Canvas().Unlock();
        const int now = FrameIndex_.load();
        if (now >= 0 && now < Image_->FrameCount())
            AnimTimer_->SetInterval(CurrentFrameInterval());
    };
    try {
        if (AsyncDrawing_.load() && OnFrameChanged)
            AnimTimer_->CallSynchronized([this] { NotifyFrameChanged(); });
        else
            NotifyFrameChanged();
        RepaintFromAnyThread();
    } catch (...) {
        finish();
        throw;
    }
    finish();
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
    {
        TPictureLock picture(*this);
        FrameIndex_.store(value);
        if (FrameIndex_.load() >= 0 && Image_->FrameCount() > 0)
            AnimTimer_->SetInterval(CurrentFrameInterval());
    }
    NotifyFrameChanged();
    NotifyPictureChanged();
}

void TJvGIFAnimator::SetImage(TJvGIFImage* value) {
    TPictureLock picture(*this);
    Image_->Assign(value);
}

void TJvGIFAnimator::HandleImageChange(TObject*) {
    {
        TPictureLock picture(*this);
        Composition_.Discard();
        FrameIndex_.store(Image_->ActiveFrameIndex());
        if (FrameIndex_.load() >= 0 && Image_->FrameCount() > 0)
            AnimTimer_->SetInterval(CurrentFrameInterval());
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
        Image_->ReadData(stream);
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
