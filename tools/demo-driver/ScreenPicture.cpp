#include "ScreenPicture.h"

#include <algorithm>
#include <fstream>

#include "win/ScopedWin.h"

TScreenPicture TScreenPicture::Band(int top, int height) const {
    TScreenPicture band;
    band.Width = Width;
    band.Height = height;
    const size_t stride = static_cast<size_t>(Width) * 3;
    band.Bgr.assign(Bgr.begin() + static_cast<ptrdiff_t>(top * stride),
                    Bgr.begin() + static_cast<ptrdiff_t>((top + height) * stride));
    return band;
}

TScreenPicture CaptureScreen(const RECT& area) {
    TScreenPicture picture;
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return picture;
    TScopedGetDC screen(nullptr);
    TScopedMemoryDC memory(screen.Get());
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    TScopedBitmap bitmap(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !bitmap)
        return picture;
    {
        TScopedSelect selected(memory.Get(), bitmap.Get());
        if (!BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), area.left, area.top, SRCCOPY))
            return picture;
        GdiFlush();
    }
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    picture.Width = width;
    picture.Height = height;
    picture.Bgr.resize(static_cast<size_t>(width) * 3 * height);
    for (int y = 0; y < height; ++y) {
        const auto* row = static_cast<const uint8_t*>(bits) + y * stride;
        std::copy(row, row + width * 3, picture.Bgr.begin() + static_cast<ptrdiff_t>(y) * width * 3);
    }
    return picture;
}

TScreenPicture CaptureClientArea(HWND window) {
    RECT client;
    if (!GetClientRect(window, &client))
        return {};
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return CaptureScreen({origin.x, origin.y, origin.x + client.right, origin.y + client.bottom});
}

bool SaveBmp(const TScreenPicture& picture, const std::filesystem::path& file) {
    if (picture.Empty())
        return false;
    const size_t rowBytes = static_cast<size_t>(picture.Width) * 3;
    const size_t stride = (rowBytes + 3) & ~size_t{3};
    const DWORD imageSize = static_cast<DWORD>(stride * picture.Height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + imageSize;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = picture.Width;
    info.biHeight = picture.Height;  // bottom-up, as most readers expect
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageSize;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    const std::string padding(stride - rowBytes, '\0');
    for (int y = picture.Height - 1; y >= 0; --y) {
        out.write(reinterpret_cast<const char*>(&picture.Bgr[y * rowBytes]), static_cast<std::streamsize>(rowBytes));
        out.write(padding.data(), static_cast<std::streamsize>(padding.size()));
    }
    return static_cast<bool>(out);
}
