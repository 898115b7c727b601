#include "controls/JvGIFCompose.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "controls/PictureLimit.h"
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
    Opaque_.Forget();
}

namespace {

// Where the frame lies on the logical screen, measured without decoding it.
TRect FrameRect(TJvGIFFrame& frame) {
    const TPoint origin = frame.Origin();
    const TPoint size = frame.DeclaredSize();
    return TRect{origin.X, origin.Y, origin.X + size.X, origin.Y + size.Y};
}

// The part of the frame at rect that lies on a screen of width x height, in
// the frame's own pixels; empty when none does.
TRect ShownPart(const TRect& rect, int width, int height) {
    const TRect part{std::max(rect.Left, 0) - rect.Left, std::max(rect.Top, 0) - rect.Top,
                     std::min(rect.Right, width) - rect.Left, std::min(rect.Bottom, height) - rect.Top};
    if (part.Left >= part.Right || part.Top >= part.Bottom)
        return TRect{0, 0, 0, 0};
    return part;
}

bool IsEmpty(const TRect& rect) { return rect.Left >= rect.Right || rect.Top >= rect.Bottom; }

// Draws the frame where it lies in the picture, keyed on its key colour,
// and follows what it drew in the picture's opaque area. A frame of which
// nothing lies on the picture is not even decoded.
void DrawFrameFollowed(TJvGIFFrame& frame, TBitmap& picture, TOpaqueArea& opaque) {
    const TRect rect = FrameRect(frame);
    const TRect shown = ShownPart(rect, picture.Width(), picture.Height());
    if (IsEmpty(shown))
        return;
    frame.DrawFrame(picture.Canvas(), rect, true);
    TBitmap& bitmap = *frame.FrameBitmap();
    if (frame.KeyColor() != clNone)
        opaque.AddKeyed(bitmap, frame.KeyColor(), rect.Left, rect.Top, shown);
    else
        opaque.AddOpaque(bitmap, rect);
}

// Every pixel of the logical screen: its size, at the origin.
bool CoversScreen(TJvGIFFrame& frame, TJvGIFImage& image) {
    const TPoint size = frame.DeclaredSize();
    return frame.Origin().X == 0 && frame.Origin().Y == 0 && size.X == image.LogicalWidth() &&
           size.Y == image.LogicalHeight();
}

// Calls visit with every colour the frame may draw opaquely on the logical
// screen: its table's entries but the key, and the grey that indices past
// the table show; for a frame made from a graphic (no table), the colours
// of its pixels there but the key.
template <class Visit>
void ForEachOpaqueColor(TJvGIFFrame& frame, TJvGIFImage& image, Visit visit) {
    if (!frame.SharedData()->EncodedData) {
        TBitmap* bitmap = frame.CachedBitmap();
        const TRect shown = ShownPart(FrameRect(frame), image.LogicalWidth(), image.LogicalHeight());
        if (!bitmap || bitmap->Empty() || IsEmpty(shown))
            return;
        const bool keyed = frame.KeyColor() != clNone;
        const TColor key = keyed ? DrawnKey(*bitmap, frame.KeyColor()) : clNone;
        for (int y = shown.Top; y < shown.Bottom; ++y)
            for (int x = shown.Left; x < shown.Right; ++x) {
                const TColor color = bitmap->PixelColor(x, y) & 0xFFFFFF;
                if (!keyed || color != key)
                    visit(color);
            }
        return;
    }
    const TGIFItem& item = *frame.SharedData();
    const TGIFColors& table = item.FrameColors();
    const int count = std::clamp(table.Count, 0, 256);
    for (int i = 0; i < count; ++i) {
        const TColor color = TripletToColor(table.Entries[i]);
        if (color != frame.KeyColor())
            visit(color);
    }
    if (item.PixelDepth >= 1 && item.PixelDepth <= 8 && count < 1 << PixelBitsForDepth(item.PixelDepth))
        visit(RGBColor(128, 128, 128));
}

// The colour the composed picture is keyed on: the preferred one (the
// active frame's key) unless some frame draws it as an ordinary colour,
// else the next colour above it that no frame draws, so that no opaque
// pixel is shown as the parent. everyColorDrawn tells when there is none.
TColor UndrawnColor(TJvGIFImage& image, TColor preferred, bool& everyColorDrawn) {
    everyColorDrawn = false;
    preferred &= 0xFFFFFF;
    bool drawn = false;
    for (int i = 0; i < image.FrameCount() && !drawn; ++i)
        ForEachOpaqueColor(*image.FrameAt(i), image, [&](TColor color) { drawn = drawn || color == preferred; });
    if (!drawn)
        return preferred;
    std::vector<TColor> colors;
    for (int i = 0; i < image.FrameCount(); ++i)
        ForEachOpaqueColor(*image.FrameAt(i), image, [&](TColor color) { colors.push_back(color); });
    std::sort(colors.begin(), colors.end());
    colors.erase(std::unique(colors.begin(), colors.end()), colors.end());
    if (colors.size() > 0xFFFFFF) {
        everyColorDrawn = true;
        return preferred;
    }
    TColor color = preferred;
    while (std::binary_search(colors.begin(), colors.end(), color))
        color = (color + 1) & 0xFFFFFF;
    return color;
}

}  // namespace

TBitmap* TGIFComposition::ComposeFrame(TJvGIFImage& image, int index, TColor& transparentColor, bool transparent) {
    // -1 (no active frame: a load that failed after its first frames) shows
    // frame 0, as the image's emptiness and size do.
    index = std::max(0, std::min(index, image.FrameCount() - 1));
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
        CheckPictureSize(image.LogicalWidth(), image.LogicalHeight());
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
        if (EffectiveDisposal(previous.DisposalMode()) == dpRestoreBackground) {
            canvas.FillRect(FrameRect(previous));
            Opaque_.Remove(FrameRect(previous));
        }
    } else {
        const int active = image.ActiveFrameIndex();
        const TColor activeKey =
            active >= 0 && active < image.FrameCount() ? image.FrameAt(active)->KeyColor() : clNone;
        // Followed only while the fills are the key and no frame draws it.
        bool everyColorDrawn = true;
        if (activeKey != clNone) {
            transparentColor = picture->NearestColor(UndrawnColor(image, ColorToRGB(activeKey), everyColorDrawn));
            canvas.Brush().SetColor(PaletteRelative(transparentColor));
        } else if (image.BackdropColor() != clNone && image.Transparent()) {
            canvas.Brush().SetColor(PaletteRelative(image.BackdropColor()));
        } else {
            canvas.Brush().SetColor(PaletteRelative(clWindow));
        }
        canvas.FillRect(TRect{0, 0, picture->Width(), picture->Height()});
        if (!everyColorDrawn)
            Opaque_.Clear(*picture);
        else
            Opaque_.Forget();
        // Start at the latest frame that leaves the whole screen known: one
        // that covers it opaquely (and is not restored afterwards, unless it
        // is the target), or one cleared after it was shown.
        while (first > 0) {
            TJvGIFFrame& frame = *image.FrameAt(first);
            const uint8_t disposal = EffectiveDisposal(frame.DisposalMode());
            if (CoversScreen(frame, image) &&
                ((frame.KeyColor() == clNone && (first == last || disposal != dpRestorePrevious)) ||
                 (disposal == dpRestoreBackground && first < last)))
                break;
            --first;
        }
        for (int j = first; j < last; ++j) {
            TJvGIFFrame& frame = *image.FrameAt(j);
            switch (EffectiveDisposal(frame.DisposalMode())) {
            case dpUnspecified:
            case dpKeep:
                DrawFrameFollowed(frame, *picture, Opaque_);
                break;
            case dpRestoreBackground:
                if (j > first) {
                    canvas.FillRect(FrameRect(frame));
                    Opaque_.Remove(FrameRect(frame));
                }
                break;
            default:
                break;
            }
        }
    }
    DrawFrameFollowed(*image.FrameAt(last), *picture, Opaque_);
    if (!extend && transparentColor != clNone && transparent) {
        picture->SetTransparentColor(PaletteRelative(transparentColor));
        picture->SetTransparent(true);
    }
    Opaque_.KeepIn(*picture, transparentColor);
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
