// libFuzzer target: arbitrary bytes through both ways an image is loaded
// (a plain stream, and the stored "Data" form with its length prefix), then
// every frame's bitmap. The framework's own errors are expected; anything
// else (a crash, a sanitizer report, another exception) is a finding.

#include "gif/JvGIF.h"
#include "rtl/Errors.h"
#include "rtl/Streams.h"

#include <cstddef>
#include <cstdint>

namespace {

// Hostile sizes fail fast: a declared 65535 x 4000 frame is refused before its
// pixels are allocated instead of being zero-filled, so each input takes
// microseconds. Frames up to this size still decode, so every path of the
// codec stays within reach.
#ifndef KANTREL_FUZZ_PIXEL_BUDGET
#define KANTREL_FUZZ_PIXEL_BUDGET (uint64_t(256) << 10)
#endif

void BuildEveryFrame(TJvGIFImage& image) {
    // Frames that survived a failed load are built too.
    for (int i = 0; i < image.FrameCount(); ++i) {
        TJvGIFFrame* frame = image.FrameAt(i);
        try {
            frame->FrameBitmap();
        } catch (const Exception&) {
        }
    }
}

void Load(const uint8_t* data, size_t size, bool stored) {
    TMemoryStream source;
    // A GIF stream gets its true length in front, as the splash window stores
    // it; any other input is a stored value already, so its first four bytes
    // are the length: negative, short or beyond the data.
    if (stored && size >= 3 && data[0] == 'G' && data[1] == 'I' && data[2] == 'F') {
        const uint32_t n = static_cast<uint32_t>(size);
        const uint8_t prefix[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                   static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
        source.WriteBuffer(prefix, 4);
    }
    if (size > 0) source.WriteBuffer(data, static_cast<int64_t>(size));
    source.SetPosition(0);
    TJvGIFImage image;
    image.SetPixelBudget(KANTREL_FUZZ_PIXEL_BUDGET);
    try {
        if (stored)
            image.ReadData(source);
        else
            image.LoadFromStream(source);
    } catch (const Exception&) {
    }
    BuildEveryFrame(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A GIF stream read either way is the same parse of the same bytes, so
    // it goes one way only, chosen by its length: both ways stay explored
    // at half the cost. Anything else is a stored value (and not a stream).
    const bool gif = size >= 3 && data[0] == 'G' && data[1] == 'I' && data[2] == 'F';
    if (!gif || size % 2 == 0)
        Load(data, size, false);
    if (!gif || size % 2 == 1)
        Load(data, size, true);
    return 0;
}
