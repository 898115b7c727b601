#pragma once
// The GIF animator's composed picture: frame N as the whole sequence up to N
// leaves the logical screen, built by the frames' disposal methods and kept,
// so that the step to frame N + 1 draws one frame on it. Also the final draw
// of that picture into the control's client area. The animator
// (JvGIFCtrl.h) holds one composition per image; nothing here needs a window.

#include <functional>
#include <memory>

#include "gif/JvGIF.h"
#include "graphics/KeyedDraw.h"
#include "rtl/Bitmap.h"

class TCanvas;

// A disposal method as composition applies it: 4 restores the previous
// picture like 3, and 5 to 7 keep the frame like 1, whichever way the frame
// is reached. 0 to 3 are returned as they are.
uint8_t EffectiveDisposal(uint8_t disposalMode);

class TGIFComposition {
public:
    // makeBitmap makes each new picture (the animator's: a TJvLockedBitmap).
    explicit TGIFComposition(std::function<std::unique_ptr<TBitmap>()> makeBitmap);

    // The picture of frame index (cut to 0 and the last frame), extended from the
    // cached one when that shows the frame before and was not shown with
    // "restore previous", otherwise rebuilt (a logical screen past
    // MaxPictureBytes raises EOutOfMemory first). transparentColor receives the
    // picture's transparent colour (the caller passes clNone): when the
    // active frame has a key, a colour that no frame draws, so that only
    // pixels no frame drew, or that a disposal cleared, show through.
    // transparent is the animator's Transparent. The picture stays owned
    // here.
    TBitmap* ComposeFrame(TJvGIFImage& image, int index, TColor& transparentColor, bool transparent);
    // Forgets the picture (after an image change).
    void Discard();

    TBitmap* ComposedFrame() const { return ComposedFrame_.get(); }
    int ComposedIndex() const { return ComposedIndex_; }
    TColor ComposedTransparentColor() const { return ComposedTransparentColor_; }

private:
    std::function<std::unique_ptr<TBitmap>()> MakeBitmap_;
    std::unique_ptr<TBitmap> ComposedFrame_;
    int ComposedIndex_ = -1;
    TColor ComposedTransparentColor_ = clNone;
    // The picture's pixels that are not its transparent colour.
    TOpaqueArea Opaque_;
};

// Where a picture of pictureWidth x pictureHeight lands in a client area:
// stretched over it, centred (an odd excess puts the extra pixel on the
// right or bottom), or at the top-left corner.
TRect PictureRect(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight, bool center, bool stretch);

// Draws the composed picture into rect of the canvas, keyed on
// transparentColor when that is set and transparent is on, otherwise with
// the canvas's plain stretch draw. Holds the picture's canvas lock.
void DrawComposedPicture(TCanvas& canvas, const TRect& rect, TBitmap& picture, TColor transparentColor,
                         bool transparent);
