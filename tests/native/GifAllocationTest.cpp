// Heap allocations of a load and of a frame bitmap, counted through the
// replaced operator new: fixed costs per image and per frame that are not
// to creep back.

#include "AllocationCounter.h"
#include "GifWriter.h"
#include "gif/JvGIF.h"

#include <gtest/gtest.h>

using gifwriter::Bytes;
using gifwriter::GifWriter;
using gifwriter::ImageSpec;
using gifwriter::Rgb;

namespace {

ImageSpec Frame(uint8_t shift) {
    ImageSpec spec;
    spec.Width = 16;
    spec.Height = 8;
    for (int i = 0; i < spec.Width * spec.Height; ++i)
        spec.Indices.push_back(uint8_t((i / 3 + shift) % 4));
    return spec;
}

#ifdef _WIN32
// A frame bitmap switched to the display's form keeps its GDI state in one block.
constexpr uint64_t GdiSide = 1;
#else
constexpr uint64_t GdiSide = 0;
#endif

} // namespace

TEST(GifAllocations, OneFrameLoadAndEachLaterFrame) {
    const std::vector<Rgb> table = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    GifWriter one;
    one.Header().Screen(16, 8, table).GraphicControl(1, 10, 3).Image(Frame(0)).Trailer();
    GifWriter two;
    two.Header().Screen(16, 8, table).GraphicControl(1, 10, 3).Image(Frame(0));
    two.GraphicControl(1, 10, 3).Image(Frame(1)).Trailer();
    const Bytes oneFrame = one.Finish();
    const Bytes twoFrames = two.Finish();

    TMemoryStream stream;
    stream.WriteBuffer(oneFrame.data(), int64_t(oneFrame.size()));
    {
        // The decoder's tables are made by the process's first decode and kept.
        stream.SetPosition(0);
        TJvGIFImage first;
        first.LoadFromStream(stream);
    }
    stream.SetPosition(0);
    uint64_t before = HeapAllocations();
    {
        // Header and its colour table, frame with its data and encoded bytes,
        // extension, and the block of frame pixels that the load's bitmap takes.
        TJvGIFImage image;
        image.LoadFromStream(stream);
        ASSERT_EQ(image.FrameCount(), 1);
        EXPECT_LE(HeapAllocations() - before, 7u + GdiSide) << "one-frame load with its bitmap";
        EXPECT_EQ(image.FrameAt(0)->FrameBitmap()->Width(), 16);
    }

    TMemoryStream stream2;
    stream2.WriteBuffer(twoFrames.data(), int64_t(twoFrames.size()));
    stream2.SetPosition(0);
    TJvGIFImage image;
    image.LoadFromStream(stream2);
    ASSERT_EQ(image.FrameCount(), 2);
    before = HeapAllocations();
    // Its pixels have their place in the block the load made.
    EXPECT_EQ(image.FrameAt(1)->FrameBitmap()->Height(), 8);
    EXPECT_LE(HeapAllocations() - before, 0u + GdiSide) << "a later frame's bitmap";
}
