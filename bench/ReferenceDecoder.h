#pragma once
// A plain, slow LZW raster decoder that follows the decoding rules step by
// step (code reader, string stack, one pixel at a time), against which the
// codec's fast decoder is checked.

#include <cstdint>
#include <string>
#include <vector>

struct ReferenceResult {
    std::vector<uint8_t> pixels;  // the stored rows: bottom-up, padded to 4 bytes
    bool corrupt = false;
    std::string error;  // "Class: message" when decoding failed, else empty
    // The percentage of each running progress report: the share of the
    // raster read so far, sub-blocks being read whole when bits run short.
    std::vector<int> progress;
};

// raster: the minimum code size byte, then the sub-blocks.
ReferenceResult ReferenceDecode(const uint8_t* raster, size_t size, int width, int height, int pixelBits,
                                bool interlaced, int pixelDepth, bool acceptCorrupt);
