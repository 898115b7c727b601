#pragma once
// GIF images for the Windows tests: loaded from bytes a test made, or the
// splash window's stored animation.

#include <cstdint>
#include <memory>
#include <vector>

#include "app/SplashAnimation.h"
#include "gif/JvGIF.h"
#include "rtl/Streams.h"

inline std::unique_ptr<TJvGIFImage> LoadGif(const std::vector<uint8_t>& bytes) {
    auto image = std::make_unique<TJvGIFImage>();
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    image->LoadFromStream(stream);
    return image;
}

// The splash animation, read as its stored "Data" value.
inline std::unique_ptr<TJvGIFImage> LoadSplashAnimation() {
    auto image = std::make_unique<TJvGIFImage>();
    TMemoryStream data;
    data.WriteBuffer(SplashAnimationData, int64_t(SplashAnimationSize));
    data.SetPosition(0);
    image->ReadData(data);
    return image;
}
