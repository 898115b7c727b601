#pragma once
// Colours: red in the low byte, then green, then blue. The high byte marks
// special values: clNone / clDefault, system colours (0xFF) and the
// palette-relative form (0x02).

#include <cstdint>

using TColor = uint32_t;

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

// System colours: 0xFF in the high byte, the system colour index below.
inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clBtnFace = clSystemColor | 15;

constexpr TColor RGBToColor(uint8_t red, uint8_t green, uint8_t blue) {
    return TColor(red) | (TColor(green) << 8) | (TColor(blue) << 16);
}
constexpr uint8_t RedOf(TColor color) { return uint8_t(color); }
constexpr uint8_t GreenOf(TColor color) { return uint8_t(color >> 8); }
constexpr uint8_t BlueOf(TColor color) { return uint8_t(color >> 16); }

// The form drawing calls take to match a colour against the selected palette.
constexpr TColor PaletteRelative(TColor color) { return (color & 0xFFFFFF) | 0x02000000; }
