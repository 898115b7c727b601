#pragma once
// Colour values: plain RGB has red in the low byte, then green, then blue, and
// 0 in the high byte; a value with the high bit set names a system colour by
// the index in its low byte (0xFF000005 and 0x80000005 are both the window
// colour); 0x02 marks the palette-relative form (PaletteRelative, on
// the Windows side, since system colours resolve there).

#include <cstdint>

using TColor = std::uint32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clWhite = 0xFFFFFF;

inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnText = clSystemColor | 18;

constexpr bool IsSystemColor(TColor color) { return (color & 0x80000000) != 0; }
constexpr TColor RGBColor(unsigned red, unsigned green, unsigned blue) {
    return (red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16;
}
constexpr TColor RGBToColor(uint8_t red, uint8_t green, uint8_t blue) { return RGBColor(red, green, blue); }
constexpr uint8_t RedOf(TColor color) { return uint8_t(color); }
constexpr uint8_t GreenOf(TColor color) { return uint8_t(color >> 8); }
constexpr uint8_t BlueOf(TColor color) { return uint8_t(color >> 16); }
