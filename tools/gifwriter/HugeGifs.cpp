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

}  // namespace gifwriter
