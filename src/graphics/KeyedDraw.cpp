#include "graphics/KeyedDraw.h"

#include <optional>
#include <utility>

#include "graphics/Canvas.h"

TColor PaletteRelative(TColor color) { return ColorToRGB(color) | 0x02000000; }

void KeyedDrawRect(TCanvas& canvas, int x, int y, int width, int height, const TRect& source, TBitmap& bitmap,
                   TColor keyColor) {
    KeyedDrawBitmap(canvas, bitmap, keyColor, x, y, width, height, source.Left, source.Top,
                    source.Right - source.Left, source.Bottom - source.Top);
}

namespace {

// A 1-bit bitmap with two colours of its own (a 2-colour GIF frame) shows
// them, not black and white; only one that shows black and white and has no
// key colour of its own (a frame's bitmap carries the frame's) is keyed on
// white.
bool KeyedOnWhite(TBitmap& bitmap) {
    if (!bitmap.Monochrome() || bitmap.HasTransparentColor())
        return false;
    const TPalette* palette = bitmap.Palette();
    if (!palette || palette->Colors.size() < 2)
        return true;
    const TColor first = palette->Colors[0] & 0xFFFFFF;
    const TColor second = palette->Colors[1] & 0xFFFFFF;
    return (first == clBlack && second == clWhite) || (first == clWhite && second == clBlack);
}

// The canvas's before-change hook, detached for the scope.
class TDetachedHook {
public:
    explicit TDetachedHook(TCanvas& canvas) : Canvas_(canvas), Saved_(std::move(canvas.OnChanging)) {
        Canvas_.OnChanging = nullptr;
    }
    ~TDetachedHook() { Canvas_.OnChanging = std::move(Saved_); }
    TDetachedHook(const TDetachedHook&) = delete;
    TDetachedHook& operator=(const TDetachedHook&) = delete;

private:
    TCanvas& Canvas_;
    std::function<void()> Saved_;
};

}  // namespace

void KeyedDrawBitmap(TCanvas& canvas, TBitmap& bitmap, TColor keyColor, int x, int y, int width, int height,
                     int sourceX, int sourceY, int sourceWidth, int sourceHeight) {
    if (width <= 0)
        width = bitmap.Width();
    if (height <= 0)
        height = bitmap.Height();
    if (sourceWidth <= 0 || sourceHeight <= 0) {
        sourceX = 0;
        sourceY = 0;
        sourceWidth = bitmap.Width();
        sourceHeight = bitmap.Height();
    }
    TCanvas& source = bitmap.Canvas();
    // Lock before detaching; the hook comes back first, the lock last.
    TCanvasLock lock(source);
    TDetachedHook detached(source);
    HDC sourceDC = source.Handle();
    // The target's DC last: making the source's may reclaim unlocked DCs.
    HDC target = canvas.Handle();
    if (!bitmap.Monochrome())
        SetStretchBltMode(target, COLORONCOLOR);
    canvas.Changing();
    if (keyColor == clNone) {
        StretchBlt(target, x, y, width, height, sourceDC, sourceX, sourceY, sourceWidth, sourceHeight,
                   canvas.CopyMode());
    } else {
        if (keyColor == clDefault)
            keyColor = source.Pixel(0, bitmap.Height() - 1);
        const COLORREF key = KeyedOnWhite(bitmap) ? RGB(255, 255, 255) : ColorToRGB(keyColor);
        KeyedBlit(target, x, y, width, height, sourceDC, sourceX, sourceY, sourceWidth, sourceHeight,
                  bitmap.PaletteHandle(), key);
    }
    canvas.Changed();
}

void KeyedBlit(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
               int sourceWidth, int sourceHeight, HPALETTE palette, COLORREF key) {
    // Declared before the selections, so that they are selected out first.
    TScopedMemoryDC maskOpaque(target), maskKey(target), work(target), sourceCopy(target);
    TScopedBitmap keyBits(CreateBitmap(sourceWidth, sourceHeight, 1, 1, nullptr));
    TScopedBitmap opaqueBits(CreateBitmap(sourceWidth, sourceHeight, 1, 1, nullptr));
    TScopedBitmap workBits(CreateCompatibleBitmap(target, width, height));
    TScopedBitmap copyBits(CreateCompatibleBitmap(target, sourceWidth, sourceHeight));
    TScopedSelect keySelected(maskKey.Get(), keyBits.Get());
    TScopedSelect opaqueSelected(maskOpaque.Get(), opaqueBits.Get());
    TScopedSelect workSelected(work.Get(), workBits.Get());
    TScopedSelect copySelected(sourceCopy.Get(), copyBits.Get());

    // Selected back in reverse: Work, MaskKey, SourceCopy, then the target.
    std::optional<TScopedSelectPalette> targetPalette, copyPalette, keyPalette, workPalette;
    if (palette) {
        targetPalette.emplace(target, palette, true, true);
        RealizePalette(target);
        copyPalette.emplace(sourceCopy.Get(), palette, false, false);
        RealizePalette(sourceCopy.Get());
        keyPalette.emplace(maskKey.Get(), palette, false, false);
        RealizePalette(maskKey.Get());
        workPalette.emplace(work.Get(), palette, true, false);
        RealizePalette(work.Get());
    }
    const int mapMode = GetMapMode(target);
    SetMapMode(source, mapMode);
    SetMapMode(sourceCopy.Get(), mapMode);

    BitBlt(sourceCopy.Get(), 0, 0, sourceWidth, sourceHeight, source, sourceX, sourceY, SRCCOPY);
    const COLORREF background = SetBkColor(sourceCopy.Get(), PaletteRelative(key));
    BitBlt(maskKey.Get(), 0, 0, sourceWidth, sourceHeight, sourceCopy.Get(), 0, 0, SRCCOPY);
    SetBkColor(sourceCopy.Get(), background);
    BitBlt(maskOpaque.Get(), 0, 0, sourceWidth, sourceHeight, maskKey.Get(), 0, 0, NOTSRCCOPY);
    BitBlt(work.Get(), 0, 0, width, height, target, x, y, SRCCOPY);
    StretchBlt(work.Get(), 0, 0, width, height, maskKey.Get(), 0, 0, sourceWidth, sourceHeight, SRCAND);
    BitBlt(sourceCopy.Get(), 0, 0, sourceWidth, sourceHeight, maskOpaque.Get(), 0, 0, SRCAND);
    StretchBlt(work.Get(), 0, 0, width, height, sourceCopy.Get(), 0, 0, sourceWidth, sourceHeight, SRCPAINT);
    BitBlt(target, x, y, width, height, work.Get(), 0, 0, SRCCOPY);
}
