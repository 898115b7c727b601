#pragma once
// The splash window's stored animation: a 32-bit little-endian length, then
// the GIF stream (the form an image's "Data" property reads).

#include <cstddef>

extern const unsigned char SplashAnimationData[];
extern const size_t SplashAnimationSize;
