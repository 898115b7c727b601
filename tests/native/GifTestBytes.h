#pragma once
// Small builders for hand-made GIF bytes in tests: LZW codes packed at the
// widths a decoder reads them, sub-blocks, and the blocks of a GIF stream.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace giftest {

using Bytes = std::vector<uint8_t>;

// Codes packed least significant bit first, each at an explicit width.
inline Bytes PackWidths(const std::vector<std::pair<uint32_t, int>>& codes) {
    Bytes out;
    uint64_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes) {
        acc |= uint64_t(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(uint8_t(acc));
    return out;
}

// Codes packed at the widths GIF prescribes: minimum code size + 1 after a
// clear code, one more bit once the next free code reaches 2^width (at most 12).
inline Bytes PackCodes(int m, const std::vector<uint32_t>& codes) {
    const uint32_t clear = 1u << m;
    std::vector<std::pair<uint32_t, int>> sized;
    int width = m + 1;
    uint32_t nextFree = clear + 2;
    // The first code (unless it is a clear code) and the first code after
    // clear codes are pixels and add no entry.
    bool first = true;
    bool afterClear = false;
    for (uint32_t code : codes) {
        sized.emplace_back(code, width);
        const bool wasFirst = std::exchange(first, false);
        if (code == clear) {
            width = m + 1;
            nextFree = clear + 2;
            afterClear = true;
            continue;
        }
        if (std::exchange(afterClear, false) || wasFirst)
            continue;
        if (nextFree < 4096) {
            ++nextFree;
            if (nextFree >= (1u << width) && width < 12)
                ++width;
        }
    }
    return PackWidths(sized);
}

// Every pixel as its own root code: clear, the pixels, end.
inline std::vector<uint32_t> RootCodes(int m, const Bytes& pixels) {
    std::vector<uint32_t> codes{1u << m};
    codes.insert(codes.end(), pixels.begin(), pixels.end());
    codes.push_back((1u << m) + 1);
    return codes;
}

// Data split into sub-blocks of at most chunk bytes, with the terminator.
inline Bytes SubBlocks(const Bytes& data, size_t chunk = 255, bool terminate = true) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += chunk) {
        const size_t n = std::min(chunk, data.size() - i);
        out.push_back(uint8_t(n));
        out.insert(out.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + n));
    }
    if (terminate)
        out.push_back(0);
    return out;
}

// A raster stream as a frame keeps it: code size, then sub-blocks.
inline Bytes Raster(int m, const Bytes& packed, size_t chunk = 255) {
    Bytes out{uint8_t(m)};
    const Bytes blocks = SubBlocks(packed, chunk);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

// A GIF stream assembled block by block.
class GifBuilder {
public:
    GifBuilder& Raw(const Bytes& bytes) {
        Data.insert(Data.end(), bytes.begin(), bytes.end());
        return *this;
    }
    GifBuilder& Raw(std::initializer_list<uint8_t> bytes) { return Raw(Bytes(bytes)); }
    GifBuilder& Text(const std::string& text) { return Raw(Bytes(text.begin(), text.end())); }
    GifBuilder& U16(unsigned v) { return Raw({uint8_t(v), uint8_t(v >> 8)}); }

    // Signature, version and logical screen descriptor.
    GifBuilder& Header(const char* version, unsigned width, unsigned height, uint8_t packed = 0,
                       uint8_t background = 0, uint8_t aspect = 0) {
        Text("GIF").Text(version).U16(width).U16(height);
        return Raw({packed, background, aspect});
    }
    // count entries of the table: entry i from colour(i).
    template <typename F>
    GifBuilder& Table(int count, F colour) {
        for (int i = 0; i < count; ++i) {
            const uint32_t c = colour(i);
            Raw({uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
        return *this;
    }
    GifBuilder& GreyTable(int count) {
        return Table(count, [](int i) { return uint32_t(i * 0x010101) & 0xFFFFFF; });
    }
    GifBuilder& GraphicControl(uint16_t delay, uint8_t packed = 0, uint8_t transparent = 0) {
        Raw({0x21, 0xF9, 4, packed});
        U16(delay);
        return Raw({transparent, 0});
    }
    GifBuilder& Comment(const std::vector<std::string>& blocks) {
        Raw({0x21, 0xFE});
        for (const auto& b : blocks) {
            Raw({uint8_t(b.size())});
            Text(b);
        }
        return Raw({0});
    }
    GifBuilder& Application(const std::string& identifier, const Bytes& subBlock, uint8_t blockSize = 11) {
        Raw({0x21, 0xFF, blockSize});
        Text(identifier);
        Raw({uint8_t(subBlock.size())}).Raw(subBlock);
        return Raw({0});
    }
    GifBuilder& PlainText() {
        Raw({0x21, 0x01, 12});
        Raw(Bytes(12, 1));
        return Raw({3, 'a', 'b', 'c', 0});
    }
    GifBuilder& Descriptor(unsigned left, unsigned top, unsigned width, unsigned height, uint8_t packed = 0) {
        Raw({0x2C}).U16(left).U16(top).U16(width).U16(height);
        return Raw({packed});
    }
    // An image whose pixels are root codes (no compression), with the global table.
    GifBuilder& Image(unsigned width, unsigned height, const Bytes& pixels, int m, uint8_t packed = 0) {
        Descriptor(0, 0, width, height, packed);
        return Raw(Raster(m, PackCodes(m, RootCodes(m, pixels))));
    }
    GifBuilder& Trailer() { return Raw({0x3B}); }

    Bytes Data;
};

} // namespace giftest
