#include "Peers.h"

#include "GiflibReader.h"

#include <gif_lib.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

struct MemoryInput {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* in = static_cast<MemoryInput*>(gif->UserData);
    size_t n = std::min(static_cast<size_t>(count), in->size - in->pos);
    std::memcpy(buffer, in->data + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
}

// Opens and slurps; the caller closes. Null on failure, with the error code.
GifFileType* Slurp(const Bytes& file, MemoryInput& in, int& error)
{
    in = {file.data(), file.size(), 0};
    error = 0;
    GifFileType* gif = DGifOpen(&in, ReadMemory, &error);
    if (!gif)
        return nullptr;
    if (DGifSlurp(gif) != GIF_OK) {
        error = gif->Error;
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
        return nullptr;
    }
    return gif;
}

}  // namespace

bool GiflibDecode(const Bytes& file)
{
    MemoryInput in;
    int error = 0;
    GifFileType* gif = Slurp(file, in, error);
    if (!gif)
        return false;
    DGifCloseFile(gif, &error);
    return true;
}

bool StbDecode(const Bytes& file)
{
    int* delays = nullptr;
    int w = 0, h = 0, frames = 0, comp = 0;
    stbi_uc* pixels = stbi_load_gif_from_memory(file.data(), static_cast<int>(file.size()), &delays, &w, &h,
                                                &frames, &comp, 4);
    std::free(delays);
    if (!pixels)
        return false;
    stbi_image_free(pixels);
    return true;
}

bool GiflibFrames(const Bytes& file, std::vector<GiflibFrame>& frames, std::string& error)
{
    frames.clear();
    const auto decoded = giflibref::Slurp(file);
    if (!decoded->Gif || decoded->Error != 0) {
        const char* text = GifErrorString(decoded->Error);
        error = text ? text : "giflib error " + std::to_string(decoded->Error);
        return false;
    }
    const GifFileType* gif = decoded->Gif.get();
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        GiflibFrame f;
        f.width = image.ImageDesc.Width;
        f.height = image.ImageDesc.Height;
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        f.colorCount = map ? map->ColorCount : 0;
        // DGifSlurp stores the rows de-interlaced, top row first.
        f.indices = giflibref::Raster(image);
        frames.push_back(std::move(f));
    }
    return true;
}

GifCensus CountGifPixels(const Bytes& file)
{
    GifCensus census;
    const GifCensus bad{-1, -1};
    size_t pos = 13;
    auto skipSubBlocks = [&]() {
        while (pos < file.size()) {
            uint8_t n = file[pos++];
            if (n == 0)
                return true;
            pos += n;
        }
        return false;
    };
    if (file.size() < pos || std::memcmp(file.data(), "GIF", 3) != 0)
        return bad;
    if (file[10] & 0x80)
        pos += 3u << ((file[10] & 7) + 1);
    while (pos < file.size()) {
        uint8_t introducer = file[pos++];
        if (introducer == 0x3B)
            return census;
        if (introducer == 0x21) {
            ++pos;  // label
            if (!skipSubBlocks())
                return census;
        } else if (introducer == 0x2C) {
            if (pos + 9 > file.size())
                return census;
            int w = file[pos + 4] | file[pos + 5] << 8;
            int h = file[pos + 6] | file[pos + 7] << 8;
            uint8_t flags = file[pos + 8];
            pos += 9;
            if (flags & 0x80)
                pos += 3u << ((flags & 7) + 1);
            ++census.frames;
            census.pixels += static_cast<int64_t>(w) * h;
            ++pos;  // LZW minimum code size
            if (!skipSubBlocks())
                return census;
        } else if (introducer != 0) {
            return census;
        }
    }
    return census;
}
