#include "graphics/DrawSource.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "rtl/Errors.h"

namespace {

std::atomic<uint64_t> ScratchLimit{DefaultDrawScratchLimit};

// Cuts the draw to clip (logical units; none: no cut there) and, when it is
// not stretched, to the bitmap, whose missing pixels leave the target as it
// was anyway. False when nothing shows. A world transform, or a mirrored or
// empty draw, is left to GDI.
bool Cut(HDC target, const RECT* clip, int bitmapWidth, int bitmapHeight, TDrawRects& r) {
    if (r.Width <= 0 || r.Height <= 0 || GetGraphicsMode(target) != GM_COMPATIBLE)
        return true;
    const RECT destination{r.X, r.Y, r.X + r.Width, r.Y + r.Height};
    RECT shown = destination;
    if (clip && !IntersectRect(&shown, &destination, clip))
        return false;
    // The source moves with the destination only where logical units are
    // the target's pixels.
    if (r.Stretched() || GetMapMode(target) != MM_TEXT || GetLayout(target) != 0)
        return true;
    const RECT wanted{shown.left - r.X + r.SourceX, shown.top - r.Y + r.SourceY, shown.right - r.X + r.SourceX,
                      shown.bottom - r.Y + r.SourceY};
    const RECT whole{0, 0, bitmapWidth, bitmapHeight};
    RECT source;
    if (!IntersectRect(&source, &wanted, &whole))
        return false;
    r.X += source.left - r.SourceX;
    r.Y += source.top - r.SourceY;
    r.SourceX = source.left;
    r.SourceY = source.top;
    r.Width = r.SourceWidth = source.right - source.left;
    r.Height = r.SourceHeight = source.bottom - source.top;
    return true;
}

// The same, and to the target's clip box.
bool CutToClip(HDC target, int bitmapWidth, int bitmapHeight, TDrawRects& r) {
    RECT clip;
    switch (GetClipBox(target, &clip)) {
    case NULLREGION:
        return false;
    case ERROR:
        return Cut(target, nullptr, bitmapWidth, bitmapHeight, r);
    default:
        return Cut(target, &clip, bitmapWidth, bitmapHeight, r);
    }
}

// Only part of the bitmap is read, all of it inside the bitmap.
bool ReadsPart(const TDrawRects& r, int bitmapWidth, int bitmapHeight) {
    return r.SourceX >= 0 && r.SourceY >= 0 && r.SourceWidth > 0 && r.SourceHeight > 0 &&
           r.SourceWidth <= bitmapWidth - r.SourceX && r.SourceHeight <= bitmapHeight - r.SourceY &&
           uint64_t(r.SourceWidth) * uint64_t(r.SourceHeight) < uint64_t(bitmapWidth) * uint64_t(bitmapHeight);
}

}  // namespace

HBITMAP CreateTrueColorBitmap(int width, int height, void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* unused = nullptr;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits ? bits : &unused, nullptr, 0);
}

void SetDrawScratchLimit(uint64_t bytes) { ScratchLimit.store(bytes, std::memory_order_relaxed); }

uint64_t DrawScratchLimit() { return ScratchLimit.load(std::memory_order_relaxed); }

void CheckDrawScratch(uint64_t bytes, int width, int height) {
    const uint64_t limit = DrawScratchLimit();
    if (bytes <= limit)
        return;
    const std::string size = limit % (uint64_t(1) << 20) == 0
                                 ? Format("%llu MiB", static_cast<unsigned long long>(limit >> 20))
                                 : Format("%llu bytes", static_cast<unsigned long long>(limit));
    throw EOutOfMemory(Format("Not enough memory for a draw of %d x %d pixels: the scratch bitmaps of one draw are "
                              "limited to %s",
                              width, height, size.c_str()));
}

void RaiseDrawOutOfMemory(int width, int height) {
    throw EOutOfMemory(Format("Not enough memory for a draw of %d x %d pixels", width, height));
}

TDrawSource::TDrawSource(TCanvas& canvas, TBitmap& bitmap, TDrawRects& rects)
    : Width_(bitmap.Width()), Height_(bitmap.Height()) {
    // Without a GDI bitmap of its own, the bitmap's part that shows is
    // copied: a GDI copy of all of it would cost what the bitmap holds.
    if (!bitmap.HandleAllocated() && bitmap.HandleType() == bmDIB && !bitmap.Empty()) {
        Target_ = canvas.Handle();
        if (!::CutToClip(Target_, Width_, Height_, rects))
            return;
        if (ReadsPart(rects, Width_, Height_)) {
            Copy(bitmap, rects);
            Shows_ = true;
            return;
        }
    }
    TCanvas& own = bitmap.Canvas();
    Lock_.emplace(own);
    Hook_.emplace(own);
    Source_ = own.Handle();
    SourceBitmap_ = bitmap.Handle();
    // The target's DC last: making the source's may reclaim unlocked DCs.
    Target_ = canvas.Handle();
    Shows_ = Cut(Target_, nullptr, Width_, Height_, rects);
}

bool TDrawSource::CutToClip(TDrawRects& rects) const { return ::CutToClip(Target_, Width_, Height_, rects); }

void TDrawSource::Copy(TBitmap& bitmap, const TDrawRects& rects) {
    const int width = rects.SourceWidth, height = rects.SourceHeight;
    CheckDrawScratch(4 * uint64_t(width) * uint64_t(height), width, height);
    CopyDC_.emplace(Target_);
    if (!CopyDC_->Get())
        throw EOutOfResources("Out of system resources");
    CopyBitmap_.Reset(CreateTrueColorBitmap(width, height));
    if (!CopyBitmap_)
        RaiseDrawOutOfMemory(width, height);
    CopySelected_.emplace(CopyDC_->Get(), CopyBitmap_.Get());
    if (!CopySelected_->Previous())
        throw EOutOfResources("Out of system resources");
    bitmap.CopyPixelsTo(CopyDC_->Get(), 0, 0,
                        TRect{rects.SourceX, rects.SourceY, rects.SourceX + width, rects.SourceY + height});
    Source_ = CopyDC_->Get();
    SourceBitmap_ = CopyBitmap_.Get();
    Corner_ = POINT{rects.SourceX, rects.SourceY};
}
