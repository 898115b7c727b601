#include "controls/JvGIFCompose.h"

#include <algorithm>
#include <optional>

#include "graphics/Canvas.h"
#include "graphics/KeyedDraw.h"

uint8_t EffectiveDisposal(uint8_t disposalMode) {
    if (disposalMode == 4)
        return dpRestorePrevious;
    if (disposalMode > 4)
        return dpKeep;
    return disposalMode;
}

TGIFComposition::TGIFComposition(std::function<std::unique_ptr<TBitmap>()> makeBitmap)
    : MakeBitmap_(std::move(makeBitmap)) {}

void TGIFComposition::Discard() {
    ComposedFrame_.reset();
    ComposedIndex_ = -1;
    ComposedTransparentColor_ = clNone;
}

namespace {

TRect FrameRect(TJvGIFFrame& frame) {
    const TPoint origin = frame.Origin();
    return TRect{origin.X, origin.Y, origin.X + frame.FrameWidth(), origin.Y + frame.FrameHeight()};
}

}  // namespace

TBitmap* TGIFComposition::ComposeFrame(TJvGIFImage& image, int index, TColor& transparentColor, bool transparent) {
    index = std::min(index, image.FrameCount() - 1);
    const bool extend = ComposedFrame_ && ComposedIndex_ == index - 1 && ComposedIndex_ >= 0 &&
                        EffectiveDisposal(image.FrameAt(ComposedIndex_)->DisposalMode()) != dpRestorePrevious;
    std::unique_ptr<TBitmap> rebuilt;
    TBitmap* picture;
    if (extend) {
        picture = ComposedFrame_.get();
        transparentColor = ComposedTransparentColor_;
    } else {
        Discard();
        rebuilt = MakeBitmap_();
        picture = rebuilt.get();
    }
    TCanvas& canvas = picture->Canvas();
    // An error leaves a rebuilt picture to be freed with `rebuilt` and an
    // extended one cached with its old index.
    TCanvasLock lock(canvas);
    if (!extend) {
        picture->SetWidth(image.LogicalWidth());
        picture->SetHeight(image.LogicalHeight());
    }
    const int last = index;
    int first = std::max(0, last);
    std::optional<TScopedSelectPalette> palette;
    if (HPALETTE own = image.PaletteHandle()) {
        palette.emplace(canvas.Handle(), own, false, false);
        RealizePalette(canvas.Handle());
    }
    if (extend) {
        TJvGIFFrame& previous = *image.FrameAt(ComposedIndex_);
        if (EffectiveDisposal(previous.DisposalMode()) == dpRestoreBackground)
            canvas.FillRect(FrameRect(previous));
    } else {
        const int active = image.ActiveFrameIndex();
        const TColor activeKey =
            active >= 0 && active < image.FrameCount() ? image.FrameAt(active)->KeyColor() : clNone;
        if (activeKey != clNone) {
            transparentColor = picture->NearestColor(activeKey);
            canvas.Brush().SetColor(PaletteRelative(transparentColor));
        } else if (image.BackdropColor() != clNone && image.Transparent()) {
            canvas.Brush().SetColor(PaletteRelative(image.BackdropColor()));
        } else {
            canvas.Brush().SetColor(PaletteRelative(clWindow));
        }
        canvas.FillRect(TRect{0, 0, picture->Width(), picture->Height()});
        // Start at the latest frame that leaves the whole screen known.
        while (first > 0) {
            TJvGIFFrame& frame = *image.FrameAt(first);
            if (frame.FrameWidth() == image.LogicalWidth() && frame.FrameHeight() == image.LogicalHeight() &&
                (frame.KeyColor() == clNone || (frame.DisposalMode() == dpRestoreBackground && first < last)))
                break;
            --first;
        }
        for (int j = first; j < last; ++j) {
            TJvGIFFrame& frame = *image.FrameAt(j);
            switch (EffectiveDisposal(frame.DisposalMode())) {
            case dpUnspecified:
            case dpKeep:
                frame.DrawFrame(canvas, FrameRect(frame), true);
                break;
            case dpRestoreBackground:
                if (j > first)
                    canvas.FillRect(FrameRect(frame));
                break;
            default:
                break;
            }
        }
    }
    TJvGIFFrame& target = *image.FrameAt(last);
    target.DrawFrame(canvas, FrameRect(target), true);
    if (!extend && transparentColor != clNone && transparent) {
        picture->SetTransparentColor(PaletteRelative(transparentColor));
        picture->SetTransparent(true);
    }
    palette.reset();
    if (!extend)
        ComposedFrame_ = std::move(rebuilt);
    ComposedIndex_ = index;
    ComposedTransparentColor_ = transparentColor;
    return picture;
}

TRect PictureRect(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight, bool center, bool stretch) {
    if (stretch)
        return TRect{0, 0, clientWidth, clientHeight};
    if (center) {
        // Integer division truncates toward zero: a picture wider than the
        // client is cut equally, the odd pixel on the right.
        const int left = (clientWidth - pictureWidth) / 2;
        const int top = (clientHeight - pictureHeight) / 2;
        return TRect{left, top, left + pictureWidth, top + pictureHeight};
    }
    return TRect{0, 0, pictureWidth, pictureHeight};
}

void DrawComposedPicture(TCanvas& canvas, const TRect& rect, TBitmap& picture, TColor transparentColor,
                         bool transparent) {
    TCanvasLock lock(picture.Canvas());
    if (transparentColor != clNone && transparent)
        KeyedDrawRect(canvas, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top,
                      TRect{0, 0, picture.Width(), picture.Height()}, picture, transparentColor);
    else
        canvas.StretchDraw(rect, &picture);
}
