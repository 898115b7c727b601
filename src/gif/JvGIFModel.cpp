// The image model: extensions, frames and the image, and how they copy.

#include "gif/JvGIF.h"
#include "gif/JvGIFReader.h"
#include "rtl/Errors.h"

#include <algorithm>
#include <cstdint>
#include <utility>

// ---- TExtension ----

void TExtension::Assign(TPersistent* source) {
    auto* other = dynamic_cast<TExtension*>(source);
    if (!other) {
        TPersistent::Assign(source);
        return;
    }
    if (other == this)
        return;
    Kind = other->Kind;
    std::copy(std::begin(other->FixedPart), std::end(other->FixedPart), FixedPart);
    if (other->SubBlocks) {
        if (!SubBlocks)
            SubBlocks = std::make_unique<TStringList>();
        SubBlocks->Assign(*other->SubBlocks);
    }
}

void DisposeExtensionList(std::optional<TExtensionList>& list) {
    if (!list)
        return;
    while (!list->Empty())
        list->Delete(0);
    list.reset();
}

TExtension* LastExtensionOfKind(const TExtensionList* list, TExtensionKind kind) {
    if (!list)
        return nullptr;
    for (int i = list->Count() - 1; i >= 0; --i)
        if (list->Get(i)->Kind == kind)
            return list->Get(i);
    return nullptr;
}

// ---- TGIFData, TGIFItem ----

namespace {
constexpr TGIFColors NoColors{};
}

const TGIFColors& TGIFData::GlobalColors() const {
    return GlobalTable ? GlobalTable->Colors : NoColors;
}

const TGIFColors& TGIFItem::FrameColors() const {
    return ColorTable ? ColorTable->Colors : NoColors;
}

// ---- TJvGIFFrame ----

TJvGIFFrame::TJvGIFFrame(TJvGIFImage* owner) : OwnerImage_(owner) {
    ResetFrame();
}

TJvGIFFrame::~TJvGIFFrame() {
    CachedBitmap_.reset();
    ClaimPixelBytes(0);
}

void TJvGIFFrame::SetExtensionList(std::optional<TExtensionList>&& list) {
    ExtensionList_.Clear();
    HasExtensionList_ = list.has_value();
    if (list)
        ExtensionList_ = std::move(*list);
    list.reset();
}

void TJvGIFFrame::ResetFrame() {
    SharedData_.Reset(new TGIFItem);
    IsCorrupted_ = false;
    KeyColor_ = clNone;
    Left_ = Top_ = 0;
    IsInterlaced_ = false;
    HasLocalTable_ = false;
    DelayMs_ = 0;
    DisposalMode_ = dpUnspecified;
}

void TJvGIFFrame::FreshBitmap() {
    CachedBitmap_.reset();
    CachedBitmap_.emplace();
    ClaimPixelBytes(0);
}

void TJvGIFFrame::ClaimPixelBytes(uint64_t bytes) {
    if (OwnerImage_)
        OwnerImage_->DecodedPixelBytes_ = OwnerImage_->DecodedPixelBytes_ - PixelBytes_ + bytes;
    PixelBytes_ = bytes;
}

int TJvGIFFrame::FrameWidth() {
    if (!CachedBitmap_ && !SharedData_->EncodedData)
        return 0;
    return FrameBitmap()->Width();
}

int TJvGIFFrame::FrameHeight() {
    if (!CachedBitmap_ && !SharedData_->EncodedData)
        return 0;
    return FrameBitmap()->Height();
}

TPoint TJvGIFFrame::DeclaredSize() {
    if (CachedBitmap_ && !CachedBitmap_->Empty())
        return TPoint{CachedBitmap_->Width(), CachedBitmap_->Height()};
    if (!SharedData_->EncodedData)
        return TPoint{0, 0};
    return SharedData_->RasterSize;
}

TStringList* TJvGIFFrame::LookupComment(bool create) {
    TExtension* comment = LastExtensionOfKind(ExtensionList(), ekComment);
    if (!comment && create) {
        auto made = std::make_unique<TExtension>();
        made->Kind = ekComment;
        HasExtensionList_ = true;
        comment = made.get();
        ExtensionList_.Add(std::move(made));
    }
    if (comment && !comment->SubBlocks && create)
        comment->SubBlocks = std::make_unique<TStringList>();
    return comment ? comment->SubBlocks.get() : nullptr;
}

void TJvGIFFrame::SetFrameComment(const TStringList& lines) {
    LookupComment(true)->Assign(lines);
}

void TJvGIFFrame::AssignNone() {
    ResetFrame();
    CachedBitmap_.reset();
    ClaimPixelBytes(0);
}

void TJvGIFFrame::CopyFrame(TJvGIFFrame& frame) {
    SharedData_.Reset(frame.SharedData_.Get());
    HasLocalTable_ = frame.OwnerImage_ == OwnerImage_ ? frame.HasLocalTable_ : true;
    Left_ = frame.Left_;
    Top_ = frame.Top_;
    IsInterlaced_ = frame.IsInterlaced_;
    if (frame.CachedBitmap_) {
        FreshBitmap();
        CachedBitmap_->Assign(frame.CachedBitmap());
        ClaimPixelBytes(
            HeldPixelBytes(CachedBitmap_->Width(), CachedBitmap_->Height(), CachedBitmap_->PixelBits(), true));
    } else if (CachedBitmap_) {
        // A picture decoded from the data given up would stand for the new data.
        CachedBitmap_.reset();
        ClaimPixelBytes(0);
    }
    KeyColor_ = frame.KeyColor_;
    DelayMs_ = frame.DelayMs_;
    DisposalMode_ = frame.DisposalMode_;
    IsCorrupted_ = frame.IsCorrupted_;
    TStringList* comment = frame.LookupComment(false);
    if (comment && comment->Count() > 0)
        SetFrameComment(*comment);
}

void TJvGIFFrame::Assign(TPersistent* source) {
    if (!source) {
        AssignNone();
    } else if (source == this) {
        // Only the logical size is brought up to date.
    } else if (auto* frame = dynamic_cast<TJvGIFFrame*>(source)) {
        CopyFrame(*frame);
    } else if (auto* image = dynamic_cast<TJvGIFImage*>(source)) {
        if (image->FrameCount() == 0)
            Assign(nullptr);
        else
            Assign(image->FrameAt(std::max(image->ActiveFrameIndex(), 0)));
    } else if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
        if (graphic->Empty()) {
            AssignNone();
            return;
        }
        ResetFrame();
        FreshBitmap();
        // A bitmap copies with its pixel format, monochrome included.
        const TColor brush = CopyGraphicToBitmap(*graphic);
        if (graphic->Transparent()) {
            if (auto* bitmap = dynamic_cast<TBitmap*>(graphic))
                KeyColor_ = bitmap->TransparentColor();
            else
                KeyColor_ = CachedBitmap_->NearestColor(brush);
        }
    } else {
        TPersistent::Assign(source);
        return;
    }
    if (OwnerImage_)
        OwnerImage_->RecalcLogicalSize();
}

void TJvGIFFrame::AssignTo(TPersistent* dest) {
    if (dynamic_cast<TJvGIFFrame*>(dest) || dynamic_cast<TJvGIFImage*>(dest)) {
        dest->Assign(this);
        return;
    }
    auto* graphic = dynamic_cast<TGraphic*>(dest);
    if (!graphic) {
        TPersistent::AssignTo(dest);
        return;
    }
    graphic->Assign(FrameBitmap());
    if (auto* bitmap = dynamic_cast<TBitmap*>(graphic); bitmap && KeyColor_ != clNone) {
        bitmap->SetTransparentColor(bitmap->NearestColor(KeyColor_));
        bitmap->SetTransparent(true);
    }
}

#ifndef _WIN32
// Without a canvas a graphic that a bitmap cannot copy is not drawn either:
// the copy's error stands.
TColor TJvGIFFrame::CopyGraphicToBitmap(TGraphic& graphic) {
    CachedBitmap_->Assign(&graphic);
    return clWhite;
}
#endif

// ---- TJvGIFImage ----

TJvGIFImage::TJvGIFImage() {
    ResetImage();
    InitTransparent(true);
}

TJvGIFImage::~TJvGIFImage() {
    OnChange = nullptr;
    SharedHeader_.Reset(nullptr);
    FrameList_.Clear();
}

void TJvGIFImage::ResetImage() {
    // A header that no other image shares is cleared in place, not replaced.
    if (SharedHeader_ && SharedHeader_->RefCount() == 1)
        SharedHeader_->Clear();
    else
        SharedHeader_.Reset(new TGIFData);
    FrameList_.Clear();
    // Bitmaps made from it keep it while they live.
    FrameBlock_.reset();
    FrameBlockLaidOut_ = false;
    ActiveFrameIndex_ = -1;
    BackdropColor_ = clNone;
    LoopCount_ = 1;
    LoopDeclared_ = false;
    GifVersion_ = 0;
}

int TJvGIFImage::AppendFrame(TGraphic* graphic) {
    auto frame = std::make_unique<TJvGIFFrame>(this);
    TJvGIFFrame* added = frame.get();
    ActiveFrameIndex_ = FrameList_.Add(std::move(frame));
    added->Assign(graphic);
    if (GifVersion_ == 0)
        GifVersion_ = 1;
    if (FrameCount() > 1)
        GifVersion_ = 2;
    return ActiveFrameIndex_;
}

void TJvGIFImage::RecalcLogicalSize() {
    LogicalWidth_ = 0;
    LogicalHeight_ = 0;
    for (int i = 0; i < FrameCount(); ++i) {
        TJvGIFFrame* frame = FrameAt(i);
        const int64_t right = int64_t(frame->FrameWidth()) + frame->Origin().X;
        const int64_t bottom = int64_t(frame->FrameHeight()) + frame->Origin().Y;
        // The fields are 16-bit, as in the stream.
        LogicalWidth_ = uint16_t(std::clamp<int64_t>(std::max<int64_t>(LogicalWidth_, right), 0, 0xFFFF));
        LogicalHeight_ = uint16_t(std::clamp<int64_t>(std::max<int64_t>(LogicalHeight_, bottom), 0, 0xFFFF));
    }
}

TBitmap* TJvGIFImage::ActiveBitmap() {
    if (FrameCount() > 0) {
        const int index = ActiveFrameIndex_ >= 0 && ActiveFrameIndex_ < FrameCount() ? ActiveFrameIndex_ : 0;
        return FrameAt(index)->FrameBitmap();
    }
    ActiveFrameIndex_ = 0;
    TBitmap empty;
    Assign(&empty);
    return FrameAt(0)->FrameBitmap();
}

void TJvGIFImage::NotifyProgress(TProgressStage stage, uint8_t percent, const std::string& message) {
    Progress(this, stage, percent, false, TRect{}, message);
}

bool TJvGIFImage::Empty() {
    if (FrameCount() == 0)
        return true;
    TJvGIFFrame* frame = FrameAt(std::max(ActiveFrameIndex_, 0));
    if (frame->CachedBitmap_)
        return false;
    TGIFItem* item = frame->SharedData_.Get();
    return !item->EncodedData || item->EncodedData->Size() == 0;
}

int TJvGIFImage::Width() {
    if (Empty() || ActiveFrameIndex_ < 0 || ActiveFrameIndex_ >= FrameCount())
        return 0;
    return FrameAt(ActiveFrameIndex_)->FrameBitmap()->Width();
}

int TJvGIFImage::Height() {
    if (Empty() || ActiveFrameIndex_ < 0 || ActiveFrameIndex_ >= FrameCount())
        return 0;
    return FrameAt(ActiveFrameIndex_)->FrameBitmap()->Height();
}

int TJvGIFImage::LogicalWidth() {
    return Empty() ? 0 : LogicalWidth_;
}

int TJvGIFImage::LogicalHeight() {
    return Empty() ? 0 : LogicalHeight_;
}

const TPalette* TJvGIFImage::Palette() {
    if (FrameCount() == 0)
        return nullptr;
    return ActiveBitmap()->Palette();
}

bool TJvGIFImage::Transparent() {
    if (!TGraphic::Transparent())
        return false;
    for (int i = 0; i < FrameCount(); ++i)
        if (FrameAt(i)->KeyColor() != clNone)
            return true;
    return false;
}

bool TJvGIFImage::Equals(TGraphic* graphic) {
    auto* other = dynamic_cast<TJvGIFImage*>(graphic);
    return other && other->SharedHeader_.Get() == SharedHeader_.Get();
}

void TJvGIFImage::SetWidth(int /*value*/) {
    throw EInvalidGraphicOperation(SChangeGIFSize);
}

void TJvGIFImage::SetHeight(int /*value*/) {
    throw EInvalidGraphicOperation(SChangeGIFSize);
}

void TJvGIFImage::ReadData(TStream& stream) {
    uint8_t length[4];
    stream.ReadBuffer(length, 4);
    const auto n = int32_t(uint32_t(length[0]) | (uint32_t(length[1]) << 8) | (uint32_t(length[2]) << 16) |
                           (uint32_t(length[3]) << 24));
    ParseGifStream(*this, n, stream, true);
}

void TJvGIFImage::LoadFromStream(TStream& stream) {
    const int64_t rest = stream.Size() - stream.Position();
    // Lengths beyond 32 bits cannot be a GIF this reader takes whole.
    if (rest > INT32_MAX)
        throw EReadError(SReadError);
    ParseGifStream(*this, int32_t(rest), stream, true);
}

void TJvGIFImage::WriteData(TStream& /*stream*/) {
    throw EInvalidGraphicOperation(SGIFWriteUnsupported);
}

void TJvGIFImage::SaveToStream(TStream& /*stream*/) {
    throw EInvalidGraphicOperation(SGIFWriteUnsupported);
}

void TJvGIFImage::Assign(TPersistent* source) {
    if (!source) {
        ResetImage();
        Changed(this);
    } else if (source == this) {
        return;
    } else if (auto* image = dynamic_cast<TJvGIFImage*>(source)) {
        // The frames are copied aside first and nothing is measured, so the
        // copy decodes nothing and either completes or leaves this image as it was.
        TObjectList<TJvGIFFrame> frames;
        for (int i = 0; i < image->FrameCount(); ++i) {
            TJvGIFFrame* from = image->FrameAt(i);
            auto frame = std::make_unique<TJvGIFFrame>(this);
            frame->CopyFrame(*from);
            frame->HasLocalTable_ = from->HasLocalTable_;
            frames.Add(std::move(frame));
        }
        std::swap(FrameList_, frames);
        frames.Clear();
        SharedHeader_.Reset(image->SharedHeader_.Get());
        GifVersion_ = image->GifVersion_;
        BackdropColor_ = image->BackdropColor_;
        LoopCount_ = image->LoopCount_;
        LoopDeclared_ = image->LoopDeclared_;
        LogicalWidth_ = image->LogicalWidth_;
        LogicalHeight_ = image->LogicalHeight_;
        ActiveFrameIndex_ = image->ActiveFrameIndex_;
        Changed(this);
    } else if (auto* frame = dynamic_cast<TJvGIFFrame*>(source)) {
        // One of this image's own frames must outlive the reset below.
        std::unique_ptr<TJvGIFFrame> kept;
        for (int i = 0; i < FrameCount(); ++i)
            if (FrameAt(i) == frame)
                kept = FrameList_.Extract(i);
        TSharedRef<TGIFData> header;
        if (frame->OwnerImage_)
            header.Reset(frame->OwnerImage_->SharedHeader_.Get());
        ResetImage();
        if (header) {
            TGIFData& to = *SharedHeader_;
            to.PixelAspect = header->PixelAspect;
            to.ColorBits = header->ColorBits;
            to.ColorResolution = header->ColorResolution;
            to.GlobalTable = header->GlobalTable;
        }
        auto added = std::make_unique<TJvGIFFrame>(this);
        TJvGIFFrame* target = added.get();
        ActiveFrameIndex_ = FrameList_.Add(std::move(added));
        target->Assign(frame);
        if (GifVersion_ == 0)
            GifVersion_ = 1;
        Changed(this);
    } else if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        // A frame's own bitmap would go with the reset: copy it first.
        TBitmap copy;
        for (int i = 0; i < FrameCount(); ++i)
            if (FrameAt(i)->CachedBitmap() == bitmap) {
                copy.Assign(bitmap);
                bitmap = &copy;
            }
        ResetImage();
        AppendFrame(bitmap);
        Changed(this);
    } else {
        TGraphic::Assign(source);
    }
}

void TJvGIFImage::AssignTo(TPersistent* dest) {
    if (auto* image = dynamic_cast<TJvGIFImage*>(dest)) {
        image->Assign(this);
        return;
    }
    auto* graphic = dynamic_cast<TGraphic*>(dest);
    if (!graphic) {
        TGraphic::AssignTo(dest);
        return;
    }
    if (Empty())
        graphic->Assign(nullptr);
    else if (ActiveFrameIndex_ < 0)
        graphic->Assign(ActiveBitmap());
    else
        FrameAt(ActiveFrameIndex_)->AssignTo(dest);
}
