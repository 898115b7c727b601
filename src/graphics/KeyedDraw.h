#pragma once
// Drawing a bitmap with one colour left out (colour-key transparency),
// stretched to any rectangle. Windows only.

#include <windows.h>

#include "rtl/Bitmap.h"
#include "rtl/Colors.h"
#include "rtl/Graphic.h"
#include "win/ScopedWin.h"

#include <vector>

class TCanvas;

// The pixels of a source rectangle that are not the key colour, as runs
// placed relative to the rectangle's corner. A bitmap keeps the last ones
// found until its pixels change, so that drawing an unchanging bitmap does
// not read and scan it again.
struct TOpaqueRuns {
    COLORREF Key = 0;
    RECT Source{};
    // So many runs that the masks cost less than a region made of them.
    bool TooMany = false;
    std::vector<RECT> Rects;
};

// The colour as RGB (system colours resolved) in the palette-relative form:
// with a palette selected, GDI matches it to the nearest entry.
TColor PaletteRelative(TColor color);

// KeyedDrawBitmap with the source given as a rectangle.
void KeyedDrawRect(TCanvas& canvas, int x, int y, int width, int height, const TRect& source, TBitmap& bitmap,
                   TColor keyColor);

// Draws (sourceX, sourceY, sourceWidth, sourceHeight) of the bitmap into
// (x, y, width, height) of the canvas; pixels of keyColor leave the canvas as
// it was. A width or height <= 0 is the bitmap's; a source width or height
// <= 0 takes the whole bitmap. keyColor clNone draws opaque with the canvas's
// copy mode; clDefault is the bitmap's bottom-left pixel; a bitmap that shows
// its bits as black and white and has no key colour of its own is keyed on
// white. Leaves the canvas's DC in
// COLORONCOLOR stretching mode for a bitmap that is not monochrome.
void KeyedDrawBitmap(TCanvas& canvas, TBitmap& bitmap, TColor keyColor, int x, int y, int width, int height,
                     int sourceX, int sourceY, int sourceWidth, int sourceHeight);

// The DC-level work: masks built at source resolution, then four raster
// operations. key is plain RGB; palette may be null. Leaves source in
// target's mapping mode.
void KeyedBlit(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
               int sourceWidth, int sourceHeight, HPALETTE palette, COLORREF key);

// Bytes the keyed draws of the calling thread keep between draws: the
// buffer that reads pixels for a scan, a band of rows at most.
size_t KeptScanBytes();

// The colour a keyed draw of the bitmap leaves out for keyColor (not
// clNone or clDefault), as plain RGB.
COLORREF DrawnKey(TBitmap& bitmap, TColor keyColor);

// The pixels of a picture that are not its key colour, followed while the
// picture is drawn, so that a keyed draw of the picture takes them instead
// of reading and scanning it. Unknown until cleared, and after a draw whose
// pixels it cannot follow. The colours drawn must never be the key.
class TOpaqueArea {
public:
    // The picture was filled with the key. Followed only in a true-colour
    // picture: other formats may turn a drawn colour into the key.
    void Clear(TBitmap& picture);
    // Not followed any more, until the next Clear.
    void Forget() { Region_.Reset(); }
    // The rectangle was filled with the key.
    void Remove(const TRect& rect);
    // The bitmap was just drawn into the rectangle with no key.
    void AddOpaque(TBitmap& bitmap, const TRect& rect);
    // The bitmap was just drawn unstretched with its corner at (x, y), keyed
    // on keyColor, and drawn is the part of it that the draw reached (in its
    // pixels): the opaque pixels of that part, as the draw found them.
    void AddKeyed(TBitmap& bitmap, TColor keyColor, int x, int y, const TRect& drawn);
    // Gives the area to the picture as its opaque pixels when keyed on
    // keyColor, kept until the picture changes.
    void KeepIn(TBitmap& picture, TColor keyColor);

private:
    // Combines the area with other (taken and freed); forgets it on failure.
    void Combine(HRGN other, int mode);

    TScopedGdiObject<HRGN> Region_;
};
