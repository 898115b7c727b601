#pragma once
// giflib as the independent reference decoder of the GIF tests and of the
// benchmark's check: the one way they read a GIF with giflib.

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace giflibref {

using Bytes = std::vector<uint8_t>;

struct MemoryReader {
    const Bytes* Data = nullptr;
    size_t Pos = 0;
};

inline int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int count) {
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    size_t n = std::min(static_cast<size_t>(count), r->Data->size() - r->Pos);
    std::memcpy(buffer, r->Data->data() + r->Pos, n);
    r->Pos += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* g) const {
        int err = 0;
        DGifCloseFile(g, &err);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// Decodes data (which must outlive the result) with giflib; error gets
// giflib's error code, 0 when the whole file decoded cleanly.
struct Decoded {
    MemoryReader Reader;
    GifPtr Gif;
    int Error = 0;
};

inline std::unique_ptr<Decoded> Slurp(const Bytes& data) {
    auto d = std::make_unique<Decoded>();
    d->Reader.Data = &data;
    int err = 0;
    d->Gif.reset(DGifOpen(&d->Reader, ReadFromMemory, &err));
    d->Error = err;
    if (d->Gif && DGifSlurp(d->Gif.get()) != GIF_OK) d->Error = d->Gif->Error ? d->Gif->Error : -1;
    return d;
}

inline Bytes Raster(const SavedImage& image) {
    const auto& desc = image.ImageDesc;
    return Bytes(image.RasterBits, image.RasterBits + static_cast<size_t>(desc.Width) * desc.Height);
}

}  // namespace giflibref
