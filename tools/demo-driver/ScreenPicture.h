#pragma once
// Pictures of what the screen shows, taken from outside the program.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <vector>

// 24-bit pixels, rows top-down, blue-green-red, no padding.
struct TScreenPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Bgr;

    bool Empty() const { return Width <= 0 || Height <= 0; }
    COLORREF Pixel(int x, int y) const {
        const uint8_t* p = &Bgr[(static_cast<size_t>(y) * Width + x) * 3];
        return RGB(p[2], p[1], p[0]);
    }
    bool operator==(const TScreenPicture&) const = default;
    // The rows [top, top + height) in full width.
    TScreenPicture Band(int top, int height) const;
};

// The screen's pixels in a rectangle (screen coordinates); empty on failure.
TScreenPicture CaptureScreen(const RECT& area);
// What the screen shows of a window's client area.
TScreenPicture CaptureClientArea(HWND window);
// A 24-bit bottom-up BMP.
bool SaveBmp(const TScreenPicture& picture, const std::filesystem::path& file);
