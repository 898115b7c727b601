// The PNG writer against libpng, which checks every chunk's CRC and the zlib
// stream's Adler-32.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

#include "PngWriter.h"

namespace {

std::vector<uint8_t> Decode(const std::vector<uint8_t>& file, int& width, int& height, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint8_t> pixels;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        image.format = PNG_FORMAT_RGB;
        pixels.resize(PNG_IMAGE_SIZE(image));
        if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
            width = static_cast<int>(image.width);
            height = static_cast<int>(image.height);
            return pixels;
        }
    }
    error = image.message;
    png_image_free(&image);
    return {};
}

}  // namespace

// Sizes around the stored block limit (65535 bytes) and the Adler-32 run of
// 5552 bytes; pixels that differ in every channel so that a swapped or
// shifted byte shows.
TEST(PngWriter, LibpngReadsBackEveryPixel) {
    const struct {
        int Width, Height;
    } sizes[] = {{1, 1}, {7, 3}, {160, 60}, {21845, 1}, {21845, 2}, {800, 600}};
    for (const auto& size : sizes) {
        std::vector<uint8_t> rgb(static_cast<size_t>(size.Width) * size.Height * 3);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = static_cast<uint8_t>(i * 7 + i / 3 + 0xF0);
        int width = 0, height = 0;
        std::string error;
        const auto decoded = Decode(png::EncodeRgb(size.Width, size.Height, rgb), width, height, error);
        SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height));
        EXPECT_EQ(error, "");
        EXPECT_EQ(width, size.Width);
        EXPECT_EQ(height, size.Height);
        EXPECT_TRUE(decoded == rgb);
    }
    EXPECT_THROW(png::EncodeRgb(0, 5, {}), std::invalid_argument);
    EXPECT_THROW(png::EncodeRgb(2, 2, std::vector<uint8_t>(11)), std::invalid_argument);
}
