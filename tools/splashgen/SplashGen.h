#pragma once
// Builds the splash window's busy animation: twelve squares with a dark
// runner and a lighter trail, one step per frame.

#include "GifWriter.h"

#include <string>

namespace splashgen {

constexpr int FrameCount = 12;
constexpr int PictureWidth = 400;
constexpr int PictureHeight = 50;

// Frame n (1..12) as colour indices, row by row.
gifwriter::Bytes FramePicture(int n);
// The GIF stream.
gifwriter::Bytes BuildSplashAnimation();
// The C++ source that embeds the stored (length-prefixed) form.
std::string RenderSplashSource(const gifwriter::Bytes& stored);

}  // namespace splashgen
