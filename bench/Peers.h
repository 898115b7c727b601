#pragma once
// The other decoders the benchmark compares against, and a small GIF walker
// that counts a file's pixels without decoding it.

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// giflib: DGifOpen over memory, DGifSlurp, close. False when giflib fails.
bool GiflibDecode(const Bytes& file);
// stb_image: stbi_load_gif_from_memory (every frame composed to RGBA).
bool StbDecode(const Bytes& file);

// One frame as giflib decodes it: colour indices, top row first.
struct GiflibFrame {
    int width = 0, height = 0;
    int colorCount = 0;  // of the table that applies to the frame
    std::vector<uint8_t> indices;
};
// Every frame of the file; false with giflib's error text when it fails.
bool GiflibFrames(const Bytes& file, std::vector<GiflibFrame>& frames, std::string& error);

// Frames and decoded pixels (sum of width x height over the image descriptors),
// from the block structure alone; -1 when the structure cannot be walked.
struct GifCensus {
    int frames = 0;
    int64_t pixels = 0;
};
GifCensus CountGifPixels(const Bytes& file);
