#pragma once
// What one draw of a bitmap reads, cut to what shows. A draw that is not
// stretched is cut to the bitmap, and where scratch depends on it to the
// target's clip, so that its work and scratch follow the pixels that land,
// not the bitmap's size. A bitmap that has no GDI bitmap yet, of
// which only a part is drawn, lends a copy of that part instead of a GDI
// copy of all of it (a GIF frame far larger than its screen). Also the limit
// of a draw's scratch. Windows only.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "graphics/Canvas.h"
#include "rtl/Bitmap.h"
#include "win/ScopedWin.h"

// What the scratch bitmaps of one draw (masks, copies) may hold together. A
// draw that needs more raises EOutOfMemory before it asks GDI; so does one
// for which GDI cannot make them. Process-wide.
inline constexpr uint64_t DefaultDrawScratchLimit = uint64_t(256) << 20;
void SetDrawScratchLimit(uint64_t bytes);
uint64_t DrawScratchLimit();
// Raises EOutOfMemory, naming the draw and the limit, when bytes pass it.
void CheckDrawScratch(uint64_t bytes, int width, int height);
// Raises EOutOfMemory naming the draw: GDI could not make its scratch.
[[noreturn]] void RaiseDrawOutOfMemory(int width, int height);

// A device-independent bitmap of 32 bits per pixel, top row first, its
// pixels at *bits when asked; null when GDI cannot make it.
HBITMAP CreateTrueColorBitmap(int width, int height, void** bits = nullptr);

// The rectangles of one draw: the destination in the target's logical
// units, the source in the bitmap's pixels.
struct TDrawRects {
    int X, Y, Width, Height;
    int SourceX, SourceY, SourceWidth, SourceHeight;
    bool Stretched() const { return Width != SourceWidth || Height != SourceHeight; }
};

// A canvas's before-change hook, detached for the scope.
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

// The source of one draw on a canvas. Either the bitmap's own canvas, locked
// for the draw with its change hook detached (reading it changes nothing),
// or a copy of the part drawn, 32 bits per pixel.
class TDrawSource {
public:
    // Cuts rects to what shows: to the bitmap, and for a copy to the
    // target's clip too. When nothing shows, Shows() is false and nothing
    // was made.
    TDrawSource(TCanvas& canvas, TBitmap& bitmap, TDrawRects& rects);
    TDrawSource(const TDrawSource&) = delete;
    TDrawSource& operator=(const TDrawSource&) = delete;

    bool Shows() const { return Shows_; }
    HDC Target() const { return Target_; }
    // The DC holding the pixels and its GDI bitmap: the bitmap's pixel
    // (x, y) is at (x - Corner().x, y - Corner().y) there.
    HDC Source() const { return Source_; }
    HBITMAP SourceBitmap() const { return SourceBitmap_; }
    POINT Corner() const { return Corner_; }
    bool IsCopy() const { return CopyDC_.has_value(); }
    // Cuts rects to the target's clip as well; false when nothing shows. For
    // a draw whose scratch the cut bounds: asking for the clip costs about a
    // microsecond under Wine, a tenth of a splash frame's keyed draw.
    bool CutToClip(TDrawRects& rects) const;

private:
    void Copy(TBitmap& bitmap, const TDrawRects& rects);

    // Lock before detaching; the hook comes back first, the lock last.
    std::optional<TCanvasLock> Lock_;
    std::optional<TDetachedHook> Hook_;
    // Selected out before the bitmap is deleted, the bitmap before the DC.
    std::optional<TScopedMemoryDC> CopyDC_;
    TScopedBitmap CopyBitmap_;
    std::optional<TScopedSelect> CopySelected_;
    int Width_, Height_;
    bool Shows_ = false;
    HDC Target_ = nullptr;
    HDC Source_ = nullptr;
    HBITMAP SourceBitmap_ = nullptr;
    POINT Corner_{0, 0};
};
