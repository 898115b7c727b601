#pragma once
// A minimal PNG encoder for pictures taken by the tools: 8-bit RGB, no
// filtering, the zlib stream made of stored (uncompressed) deflate blocks.
// Portable, so that it is checked natively against libpng.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace png {

// The CRC-32 of PNG chunks and zlib's Adler-32, continuing from a previous value.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// A PNG file of width x height pixels given as rows top-down, three bytes a
// pixel in red-green-blue order, no padding. Throws std::invalid_argument on
// a size PNG cannot hold or pixels of the wrong length.
std::vector<uint8_t> EncodeRgb(int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace png
