#include "controls/PictureLimit.h"

#include <algorithm>

#include "rtl/Errors.h"

void CheckPictureSize(int width, int height) {
    // 32 bits per pixel, the format of both pictures, twice: the pixels and
    // the DIB section that the canvas draws on.
    const uint64_t stride = uint64_t(std::max(width, 0)) * 4;
    if (2 * stride * uint64_t(std::max(height, 0)) > MaxPictureBytes)
        throw EOutOfMemory(Format("Not enough memory for a picture of %d x %d pixels: an animated image's "
                                  "pictures are limited to %llu MiB",
                                  width, height, static_cast<unsigned long long>(MaxPictureBytes >> 20)));
}

bool TPictureLimit::Fits(int width, int height) {
    try {
        CheckPictureSize(width, height);
    } catch (const EOutOfMemory&) {
        if (Reported_)
            return false;
        Reported_ = true;
        throw;
    }
    Reported_ = false;
    return true;
}

void TPictureLimit::Paint(const std::function<void()>& paint) {
    try {
        paint();
    } catch (const EOutOfMemory&) {
        if (PaintReported_)
            return;
        PaintReported_ = true;
        throw;
    }
    PaintReported_ = false;
}
