// The GIF image's and frame's drawing (the portable model is src/gif/).

#include "gif/JvGIF.h"
#include "graphics/Canvas.h"
#include "graphics/KeyedDraw.h"
#include "rtl/Errors.h"

void TJvGIFFrame::DrawFrame(TCanvas& canvas, const TRect& rect, bool transparent) {
    // A keyed draw takes a size of 0 for the bitmap's own: nothing fits there.
    if (rect.Right == rect.Left || rect.Bottom == rect.Top)
        return;
    TBitmap* bitmap = FrameBitmap();
    if (KeyColor_ != clNone && transparent)
        KeyedDrawRect(canvas, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top,
                      TRect{0, 0, bitmap->Width(), bitmap->Height()}, *bitmap, KeyColor_);
    else
        canvas.StretchDraw(rect, bitmap);
}

TColor TJvGIFFrame::CopyGraphicToBitmap(TGraphic& graphic) {
    try {
        CachedBitmap_->Assign(&graphic);
    } catch (const EConvertError&) {
        // What the bitmap cannot copy, it shows drawn over magenta.
        TCanvas& canvas = CachedBitmap_->Canvas();
        canvas.Brush().SetColor(0xFF00FF);
        CachedBitmap_->SetSize(graphic.Width(), graphic.Height());
        canvas.FillRect(TRect{0, 0, graphic.Width(), graphic.Height()});
        canvas.Draw(0, 0, &graphic);
    }
    return CachedBitmap_->Canvas().Brush().Color();
}

void TJvGIFImage::Draw(TCanvas& canvas, const TRect& rect) {
    if (ActiveFrameIndex_ >= 0)
        FrameAt(ActiveFrameIndex_)->DrawFrame(canvas, rect, Transparent());
}

HPALETTE TJvGIFImage::PaletteHandle() {
    if (FrameCount() == 0)
        return nullptr;
    return ActiveBitmap()->PaletteHandle();
}
