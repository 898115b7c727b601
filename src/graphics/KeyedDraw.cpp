#include "graphics/KeyedDraw.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

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

// True colour with 8 bits for each of red, green and blue: such a bitmap
// shows any RGB value as it is, so a pixel matches the key exactly when the
// mask built by KeyedBlit would say so.
bool IsRgb888(HBITMAP bitmap) {
    DIBSECTION section{};
    const int size = GetObjectW(bitmap, sizeof section, &section);
    if (size == sizeof section)
        return (section.dsBm.bmBitsPixel == 24 || section.dsBm.bmBitsPixel == 32) &&
               section.dsBmih.biCompression == BI_RGB;
    return size >= int(sizeof(BITMAP)) && (section.dsBm.bmBitsPixel == 24 || section.dsBm.bmBitsPixel == 32);
}

// Making a region costs more than linear time in its rectangles (Wine: 0.6
// us for 12, 8 ms for 1,200); past this many the masks cost less.
constexpr size_t RegionLimit = 256;

// The source rectangle's pixels that are not the key, read from the bitmap;
// null when the bitmap cannot be read.
std::unique_ptr<TOpaqueRuns> FindOpaqueRuns(HDC sourceDC, HBITMAP source, int sourceX, int sourceY, int width,
                                            int height, COLORREF key) {
    auto runs = std::make_unique<TOpaqueRuns>();
    runs->Key = key;
    runs->Source = RECT{sourceX, sourceY, sourceX + width, sourceY + height};
    runs->TooMany = true;
    BITMAP info{};
    GetObjectW(source, sizeof info, &info);
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = -info.bmHeight;  // top row first
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    thread_local std::vector<uint32_t> pixels;
    pixels.resize(size_t(info.bmWidth) * size_t(info.bmHeight));
    GdiFlush();
    if (GetDIBits(sourceDC, source, 0, UINT(info.bmHeight), pixels.data(), &header, DIB_RGB_COLORS) !=
        info.bmHeight)
        return nullptr;
    // A 32-bit DIB holds 0x00RRGGBB; a COLORREF is 0x00BBGGRR.
    const uint32_t keyPixel = (key & 0xFF) << 16 | (key & 0xFF00) | (key >> 16 & 0xFF);
    std::vector<RECT>& rects = runs->Rects;
    // Runs of opaque pixels, row by row; a row whose runs repeat the row
    // above extends that row's rectangles downwards.
    size_t band = 0;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels.data() + size_t(sourceY + y) * size_t(info.bmWidth) + sourceX;
        const size_t start = rects.size();
        for (int x = 0; x < width;) {
            while (x < width && (row[x] & 0xFFFFFF) == keyPixel)
                ++x;
            if (x == width)
                break;
            const int runStart = x;
            while (x < width && (row[x] & 0xFFFFFF) != keyPixel)
                ++x;
            rects.push_back(RECT{runStart, y, x, y + 1});
            if (rects.size() > RegionLimit + width) {
                rects = {};
                return runs;
            }
        }
        const size_t count = rects.size() - start;
        bool same = y > 0 && count == start - band && count > 0;
        for (size_t i = 0; same && i < count; ++i)
            same = rects[band + i].left == rects[start + i].left && rects[band + i].right == rects[start + i].right;
        if (same) {
            for (size_t i = 0; i < count; ++i)
                ++rects[band + i].bottom;
            rects.resize(start);
        } else {
            band = start;
        }
    }
    runs->TooMany = rects.size() > RegionLimit;
    if (runs->TooMany)
        rects = {};
    else
        rects.shrink_to_fit();
    return runs;
}

// The bitmap's runs for the source rectangle and key: the kept ones while
// the pixels stay, else found and kept; null when they cannot be read, which
// is not kept, so that the next draw tries again.
const TOpaqueRuns* OpaqueRuns(TBitmap& bitmap, HDC sourceDC, int sourceX, int sourceY, int width, int height,
                              COLORREF key) {
    const RECT source{sourceX, sourceY, sourceX + width, sourceY + height};
    const TOpaqueRuns* kept = bitmap.KeptOpaqueRuns();
    if (kept && kept->Key == key && EqualRect(&kept->Source, &source))
        return kept;
    std::unique_ptr<TOpaqueRuns> found =
        FindOpaqueRuns(sourceDC, bitmap.Handle(), sourceX, sourceY, width, height, key);
    if (!found)
        return nullptr;
    bitmap.KeepOpaqueRuns(std::move(found));
    return bitmap.KeptOpaqueRuns();
}

// The runs as a clipping region with the source rectangle's corner at
// (left, top) in device units.
HRGN OpaqueRegion(const TOpaqueRuns& runs, int left, int top) {
    thread_local std::vector<uint8_t> data;
    data.resize(sizeof(RGNDATAHEADER) + runs.Rects.size() * sizeof(RECT));
    auto* region = reinterpret_cast<RGNDATA*>(data.data());
    region->rdh.dwSize = sizeof(RGNDATAHEADER);
    region->rdh.iType = RDH_RECTANGLES;
    region->rdh.nCount = DWORD(runs.Rects.size());
    region->rdh.nRgnSize = DWORD(runs.Rects.size() * sizeof(RECT));
    region->rdh.rcBound = RECT{left, top, left + runs.Source.right - runs.Source.left,
                               top + runs.Source.bottom - runs.Source.top};
    auto* placed = reinterpret_cast<RECT*>(region->Buffer);
    for (const RECT& rect : runs.Rects)
        *placed++ = RECT{rect.left + left, rect.top + top, rect.right + left, rect.bottom + top};
    return ExtCreateRegion(nullptr, DWORD(data.size()), region);
}

// The same pixels as KeyedBlit where that costs eight raster operations: for
// an unstretched draw between true-colour bitmaps, the source's opaque
// pixels are copied through a clipping region made of them. False when the
// draw is not such a one (nothing drawn then).
bool KeyedCopy(HDC target, int x, int y, int width, int height, HDC source, TBitmap& bitmap, int sourceX,
               int sourceY, int sourceWidth, int sourceHeight, COLORREF key) {
    HBITMAP sourceBitmap = bitmap.Handle();
    if (width != sourceWidth || height != sourceHeight || width <= 0 || height <= 0 || !sourceBitmap)
        return false;
    if (GetObjectType(target) != OBJ_MEMDC || GetMapMode(target) != MM_TEXT ||
        GetGraphicsMode(target) != GM_COMPATIBLE || GetLayout(target) != 0)
        return false;
    HBITMAP targetBitmap = static_cast<HBITMAP>(GetCurrentObject(target, OBJ_BITMAP));
    if (!IsRgb888(targetBitmap) || !IsRgb888(sourceBitmap))
        return false;
    BITMAP info{};
    GetObjectW(sourceBitmap, sizeof info, &info);
    // The runs are read from the bitmap's own pixels only.
    if (sourceX < 0 || sourceY < 0 || sourceX + sourceWidth > info.bmWidth || sourceY + sourceHeight > info.bmHeight)
        return false;
    const TOpaqueRuns* runs = OpaqueRuns(bitmap, source, sourceX, sourceY, width, height, key);
    if (!runs || runs->TooMany)
        return false;
    POINT corner{x, y};
    LPtoDP(target, &corner, 1);
    TScopedGdiObject<HRGN> opaque(OpaqueRegion(*runs, corner.x, corner.y));
    if (!opaque)
        return false;
    SetMapMode(source, MM_TEXT);
    TScopedSaveDC saved(target);
    ExtSelectClipRgn(target, opaque.Get(), RGN_AND);
    BitBlt(target, x, y, width, height, source, sourceX, sourceY, SRCCOPY);
    return true;
}

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
        const COLORREF key = DrawnKey(bitmap, keyColor);
        if (!KeyedCopy(target, x, y, width, height, sourceDC, bitmap, sourceX, sourceY, sourceWidth, sourceHeight,
                       key))
            KeyedBlit(target, x, y, width, height, sourceDC, sourceX, sourceY, sourceWidth, sourceHeight,
                      bitmap.PaletteHandle(), key);
    }
    canvas.Changed();
}

COLORREF DrawnKey(TBitmap& bitmap, TColor keyColor) {
    return KeyedOnWhite(bitmap) ? RGB(255, 255, 255) : ColorToRGB(keyColor);
}

void TOpaqueArea::Clear(TBitmap& picture) {
    Region_.Reset(IsRgb888(picture.Handle()) ? CreateRectRgn(0, 0, 0, 0) : nullptr);
}

void TOpaqueArea::Combine(HRGN other, int mode) {
    TScopedGdiObject<HRGN> owned(other);
    if (Region_ && (!owned || CombineRgn(Region_.Get(), Region_.Get(), owned.Get(), mode) == ERROR))
        Forget();
}

void TOpaqueArea::Remove(const TRect& rect) {
    if (Region_)
        Combine(CreateRectRgn(rect.Left, rect.Top, rect.Right, rect.Bottom), RGN_DIFF);
}

void TOpaqueArea::AddOpaque(TBitmap& bitmap, const TRect& rect) {
    if (!Region_)
        return;
    // Other formats may turn a colour into the key on the way; a transparent
    // bitmap leaves out its own key.
    if (bitmap.Transparent() || !IsRgb888(bitmap.Handle())) {
        Forget();
        return;
    }
    Combine(CreateRectRgn(rect.Left, rect.Top, rect.Right, rect.Bottom), RGN_OR);
}

void TOpaqueArea::AddKeyed(TBitmap& bitmap, TColor keyColor, int x, int y) {
    if (!Region_)
        return;
    // Kept by the draw only when it found them for this key and the whole
    // bitmap; read under the lock that draws take to keep them.
    TCanvasLock lock(bitmap.Canvas());
    const TOpaqueRuns* runs = bitmap.KeptOpaqueRuns();
    const RECT whole{0, 0, bitmap.Width(), bitmap.Height()};
    if (!runs || runs->TooMany || runs->Key != DrawnKey(bitmap, keyColor) || !EqualRect(&runs->Source, &whole)) {
        Forget();
        return;
    }
    Combine(OpaqueRegion(*runs, x, y), RGN_OR);
}

void TOpaqueArea::KeepIn(TBitmap& picture, TColor keyColor) {
    if (!Region_)
        return;
    TScopedGdiObject<HRGN> inside(CreateRectRgn(0, 0, picture.Width(), picture.Height()));
    if (!inside || CombineRgn(inside.Get(), inside.Get(), Region_.Get(), RGN_AND) == ERROR)
        return;
    const DWORD size = GetRegionData(inside.Get(), 0, nullptr);
    std::vector<uint8_t> data(size);
    if (size < sizeof(RGNDATAHEADER) || GetRegionData(inside.Get(), size, reinterpret_cast<RGNDATA*>(data.data())) != size)
        return;
    const auto* region = reinterpret_cast<const RGNDATA*>(data.data());
    // A region of that many rectangles costs more than the masks; a scan decides.
    if (region->rdh.nCount > RegionLimit)
        return;
    auto runs = std::make_unique<TOpaqueRuns>();
    runs->Key = DrawnKey(picture, keyColor);
    runs->Source = RECT{0, 0, picture.Width(), picture.Height()};
    const auto* rects = reinterpret_cast<const RECT*>(region->Buffer);
    runs->Rects.assign(rects, rects + region->rdh.nCount);
    picture.KeepOpaqueRuns(std::move(runs));
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
    // Where the source rectangle reaches past the source's bitmap, the copy
    // below leaves the private copy as it is: the key there, so that those
    // pixels, none of the bitmap's, leave the target as the opaque draw does.
    BITMAP sourceInfo{};
    POINT corners[2] = {{sourceX, sourceY}, {sourceX + sourceWidth, sourceY + sourceHeight}};
    LPtoDP(source, corners, 2);
    if (GetObjectW(GetCurrentObject(source, OBJ_BITMAP), sizeof sourceInfo, &sourceInfo) &&
        (std::min(corners[0].x, corners[1].x) < 0 || std::min(corners[0].y, corners[1].y) < 0 ||
         std::max(corners[0].x, corners[1].x) > sourceInfo.bmWidth ||
         std::max(corners[0].y, corners[1].y) > sourceInfo.bmHeight)) {
        TScopedBrush keyBrush(CreateSolidBrush(PaletteRelative(key)));
        const RECT all{0, 0, sourceWidth, sourceHeight};
        FillRect(sourceCopy.Get(), &all, keyBrush.Get());
    }
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
