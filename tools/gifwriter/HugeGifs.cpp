#include "HugeGifs.h"

namespace gifwriter {

Bytes SeventyHugeFrames() {
    std::vector<Rgb> greys;
    for (int i = 0; i < 256; ++i)
        greys.push_back(Rgb{uint8_t(i), uint8_t(i), uint8_t(i)});
    GifWriter gif;
    gif.Header().Screen(65535, 4000, greys);
    // One pixel and the end code: the decoder fills the rest with index 0.
    const Bytes raster = RasterBlock(8, PackCodes(8, {1, 257}));
    for (int i = 0; i < 70; ++i)
        gif.ImageDescriptor(0, 0, 65535, 4000).Raw(raster);
    return gif.Trailer().Finish();
}

Bytes HugeScreen() {
    ImageSpec pixel;
    pixel.Width = 1;
    pixel.Height = 1;
    pixel.Indices = {1};
    return GifWriter()
        .Header()
        .Screen(18900, 18900, {{0, 0, 0}, {255, 255, 255}})
        .GraphicControl(0, 10)
        .Image(pixel)
        .Trailer()
        .Finish();
}

uint8_t HugeFrameIndex(int x, int y, int colours) {
    if (x >= HugeFrameScreen || y >= HugeFrameScreen)
        return uint8_t(colours - 1);  // opaque, never shown
    return uint8_t((x * 7 + y * 3 + x * y) % 5 == 0 ? 0 : 1 + (x + 2 * y) % (colours - 1));
}

Rgb HugeFrameColor(int index) { return Rgb{uint8_t(index * 37 + 11), uint8_t(250 - index), uint8_t(index * 91)}; }

Bytes HugeFrame(int colours) {
    std::vector<Rgb> table;
    for (int i = 0; i < colours; ++i)
        table.push_back(HugeFrameColor(i));
    Bytes indices(size_t(HugeFrameSize) * HugeFrameScreen);
    for (int y = 0; y < HugeFrameScreen; ++y)
        for (int x = 0; x < HugeFrameSize; ++x)
            indices[size_t(y) * HugeFrameSize + size_t(x)] = HugeFrameIndex(x, y, colours);
    const int codeSize = colours <= 4 ? 2 : 8;
    const Bytes data = LzwEncode(indices, codeSize);
    return GifWriter()
        .Header()
        .Screen(HugeFrameScreen, HugeFrameScreen, table)
        .GraphicControl(1, 10, 0)
        .ImageDescriptor(0, 0, HugeFrameSize, HugeFrameSize)
        .Raw(RasterBlock(codeSize, data))
        .Trailer()
        .Finish();
}

}  // namespace gifwriter
