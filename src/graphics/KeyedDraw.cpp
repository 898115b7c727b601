#include "graphics/KeyedDraw.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DrawSource.h"
#include "rtl/Errors.h"

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

// A bitmap drawn into a true-colour picture lands with its colours exact: a
// device-independent one (8 bits for each of red, green and blue, or a
// palette's colours) always, one of the display's format when that is true
// colour. Asked without making the GDI bitmap of the former.
bool ShowsExactColors(TBitmap& bitmap) { return bitmap.HandleType() == bmDIB || IsRgb888(bitmap.Handle()); }

// Making a region costs more than linear time in its rectangles (Wine: 0.6
// us for 12, 8 ms for 1,200); past this many the masks cost less.
constexpr size_t RegionLimit = 256;

// Rows of pixels read at a time for a scan: what the buffer keeps between
// draws stays this small (or one row, for a wider bitmap, then released).
constexpr size_t ScanBandBytes = size_t(256) << 10;

thread_local std::vector<uint32_t> ScanBuffer;

// The pixels of the rectangle (sourceX, sourceY, width, height) of the DC's
// bitmap that are not the key, placed relative to its corner; null when the
// bitmap cannot be read. Read in bands of rows, only the rectangle's.
std::unique_ptr<TOpaqueRuns> FindOpaqueRuns(HDC sourceDC, HBITMAP source, int sourceX, int sourceY, int width,
                                            int height, COLORREF key) {
    auto runs = std::make_unique<TOpaqueRuns>();
    runs->Key = key;
    runs->Source = RECT{sourceX, sourceY, sourceX + width, sourceY + height};
    runs->TooMany = true;
    BITMAP info{};
    GetObjectW(source, sizeof info, &info);
    const size_t rowPixels = size_t(std::max<LONG>(info.bmWidth, 0));
    if (rowPixels == 0 || sourceX < 0 || sourceY < 0 || sourceX + width > info.bmWidth ||
        sourceY + height > info.bmHeight)
        return nullptr;
    // Bottom-up: the band's scan lines count from the bitmap's bottom row.
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = info.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    const int bandRows = int(std::clamp<size_t>(ScanBandBytes / (4 * rowPixels), 1, size_t(std::max(height, 1))));
    std::vector<uint32_t>& pixels = ScanBuffer;
    pixels.resize(rowPixels * size_t(bandRows));
    // What a wider row made the buffer hold is not kept past this scan.
    struct TRelease {
        std::vector<uint32_t>& Buffer;
        ~TRelease() {
            if (Buffer.capacity() * sizeof(uint32_t) > ScanBandBytes)
                std::vector<uint32_t>().swap(Buffer);
        }
    } release{pixels};
    GdiFlush();
    // A 32-bit DIB holds 0x00RRGGBB; a COLORREF is 0x00BBGGRR.
    const uint32_t keyPixel = (key & 0xFF) << 16 | (key & 0xFF00) | (key >> 16 & 0xFF);
    std::vector<RECT>& rects = runs->Rects;
    // Runs of opaque pixels, row by row; a row whose runs repeat the row
    // above extends that row's rectangles downwards.
    size_t band = 0;
    int bandTop = 0, bandCount = 0;
    for (int y = 0; y < height; ++y) {
        if (y == bandTop + bandCount) {
            bandTop = y;
            bandCount = std::min(bandRows, height - y);
            const int firstScan = info.bmHeight - (sourceY + y + bandCount);
            if (GetDIBits(sourceDC, source, UINT(firstScan), UINT(bandCount), pixels.data(), &header,
                          DIB_RGB_COLORS) != bandCount)
                return nullptr;
        }
        const uint32_t* row = pixels.data() + size_t(bandTop + bandCount - 1 - y) * rowPixels + sourceX;
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

// The bitmap's runs for the source rectangle (in its pixels) and key: the
// kept ones while the pixels stay, else found in the draw's source and
// kept; null when they cannot be read, which is not kept, so that the next
// draw tries again.
const TOpaqueRuns* OpaqueRuns(TBitmap& bitmap, const TDrawSource& from, int sourceX, int sourceY, int width,
                              int height, COLORREF key) {
    const RECT source{sourceX, sourceY, sourceX + width, sourceY + height};
    const TOpaqueRuns* kept = bitmap.KeptOpaqueRuns();
    if (kept && kept->Key == key && EqualRect(&kept->Source, &source))
        return kept;
    std::unique_ptr<TOpaqueRuns> found = FindOpaqueRuns(from.Source(), from.SourceBitmap(), sourceX - from.Corner().x,
                                                        sourceY - from.Corner().y, width, height, key);
    if (!found)
        return nullptr;
    found->Source = source;
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
bool KeyedCopy(const TDrawRects& r, const TDrawSource& from, TBitmap& bitmap, COLORREF key) {
    HDC target = from.Target();
    if (r.Stretched() || r.Width <= 0 || r.Height <= 0 || !from.SourceBitmap())
        return false;
    if (GetObjectType(target) != OBJ_MEMDC || GetMapMode(target) != MM_TEXT ||
        GetGraphicsMode(target) != GM_COMPATIBLE || GetLayout(target) != 0)
        return false;
    HBITMAP targetBitmap = static_cast<HBITMAP>(GetCurrentObject(target, OBJ_BITMAP));
    if (!IsRgb888(targetBitmap) || !IsRgb888(from.SourceBitmap()))
        return false;
    // The runs are read from the bitmap's own pixels only.
    if (r.SourceX < 0 || r.SourceY < 0 || r.SourceX + r.SourceWidth > bitmap.Width() ||
        r.SourceY + r.SourceHeight > bitmap.Height())
        return false;
    const TOpaqueRuns* runs = OpaqueRuns(bitmap, from, r.SourceX, r.SourceY, r.Width, r.Height, key);
    if (!runs || runs->TooMany)
        return false;
    POINT corner{r.X, r.Y};
    LPtoDP(target, &corner, 1);
    TScopedGdiObject<HRGN> opaque(OpaqueRegion(*runs, corner.x, corner.y));
    if (!opaque)
        return false;
    SetMapMode(from.Source(), MM_TEXT);
    TScopedSaveDC saved(target);
    ExtSelectClipRgn(target, opaque.Get(), RGN_AND);
    BitBlt(target, r.X, r.Y, r.Width, r.Height, from.Source(), r.SourceX - from.Corner().x,
           r.SourceY - from.Corner().y, SRCCOPY);
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
    TDrawRects rects{x, y, width, height, sourceX, sourceY, sourceWidth, sourceHeight};
    const TDrawSource from(canvas, bitmap, rects);
    if (!from.Shows())
        return;
    HDC target = from.Target();
    if (!bitmap.Monochrome())
        SetStretchBltMode(target, COLORONCOLOR);
    const POINT corner = from.Corner();
    canvas.Changing();
    if (keyColor == clNone) {
        StretchBlt(target, rects.X, rects.Y, rects.Width, rects.Height, from.Source(), rects.SourceX - corner.x,
                   rects.SourceY - corner.y, rects.SourceWidth, rects.SourceHeight, canvas.CopyMode());
    } else {
        if (keyColor == clDefault)
            keyColor = from.IsCopy() ? bitmap.PixelColor(0, bitmap.Height() - 1)
                                     : bitmap.Canvas().Pixel(0, bitmap.Height() - 1);
        const COLORREF key = DrawnKey(bitmap, keyColor);
        // The masks are made at the size of what is left after the clip.
        if (!KeyedCopy(rects, from, bitmap, key) && from.CutToClip(rects))
            KeyedBlit(target, rects.X, rects.Y, rects.Width, rects.Height, from.Source(), rects.SourceX - corner.x,
                      rects.SourceY - corner.y, rects.SourceWidth, rects.SourceHeight, bitmap.PaletteHandle(), key);
    }
    canvas.Changed();
}

size_t KeptScanBytes() { return ScanBuffer.capacity() * sizeof(uint32_t); }

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
    if (bitmap.Transparent() || !ShowsExactColors(bitmap)) {
        Forget();
        return;
    }
    Combine(CreateRectRgn(rect.Left, rect.Top, rect.Right, rect.Bottom), RGN_OR);
}

void TOpaqueArea::AddKeyed(TBitmap& bitmap, TColor keyColor, int x, int y, const TRect& drawn) {
    if (!Region_)
        return;
    // Kept by the draw only when it found them for this key and the part it
    // drew; read under the lock that draws take to keep them.
    TCanvasLock lock(bitmap.Canvas());
    const TOpaqueRuns* runs = bitmap.KeptOpaqueRuns();
    const RECT part = ToRECT(drawn);
    if (!runs || runs->TooMany || runs->Key != DrawnKey(bitmap, keyColor) || !EqualRect(&runs->Source, &part)) {
        Forget();
        return;
    }
    Combine(OpaqueRegion(*runs, x + part.left, y + part.top), RGN_OR);
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
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return;
    // Two masks of the source's size, a copy of it and the work of the
    // destination's, at most 32 bits per pixel; every one is checked, so
    // that nothing is drawn from a bitmap GDI could not make.
    const uint64_t source1 = (uint64_t(sourceWidth) + 15) / 16 * 2 * uint64_t(sourceHeight);
    const uint64_t scratch =
        2 * source1 + 4 * (uint64_t(sourceWidth) * uint64_t(sourceHeight) + uint64_t(width) * uint64_t(height));
    CheckDrawScratch(scratch, width, height);
    // Declared before the selections, so that they are selected out first.
    TScopedMemoryDC maskOpaque(target), maskKey(target), work(target), sourceCopy(target);
    if (!maskOpaque || !maskKey || !work || !sourceCopy)
        throw EOutOfResources("Out of system resources");
    TScopedBitmap keyBits(CreateBitmap(sourceWidth, sourceHeight, 1, 1, nullptr));
    TScopedBitmap opaqueBits(keyBits ? CreateBitmap(sourceWidth, sourceHeight, 1, 1, nullptr) : nullptr);
    TScopedBitmap workBits(opaqueBits ? CreateCompatibleBitmap(target, width, height) : nullptr);
    TScopedBitmap copyBits(workBits ? CreateCompatibleBitmap(target, sourceWidth, sourceHeight) : nullptr);
    if (!copyBits)
        RaiseDrawOutOfMemory(width, height);
    TScopedSelect keySelected(maskKey.Get(), keyBits.Get());
    TScopedSelect opaqueSelected(maskOpaque.Get(), opaqueBits.Get());
    TScopedSelect workSelected(work.Get(), workBits.Get());
    TScopedSelect copySelected(sourceCopy.Get(), copyBits.Get());
    if (!keySelected.Previous() || !opaqueSelected.Previous() || !workSelected.Previous() ||
        !copySelected.Previous())
        throw EOutOfResources("Out of system resources");

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
        if (!keyBrush)
            throw EOutOfResources("Out of system resources");
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
