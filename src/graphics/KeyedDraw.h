#pragma once
// Drawing a bitmap with one colour left out (colour-key transparency),
// stretched to any rectangle. Windows only.

#include <windows.h>

#include "rtl/Bitmap.h"
#include "rtl/Colors.h"
#include "rtl/Graphic.h"

class TCanvas;

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
