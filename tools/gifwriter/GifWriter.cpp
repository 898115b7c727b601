#include "GifWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <utility>

namespace gifwriter {

namespace {

class BitPacker {
public:
    explicit BitPacker(Bytes& out) : Out_(out) {}
    void Put(uint32_t code, int width) {
        Acc_ |= static_cast<uint64_t>(code & ((1u << width) - 1)) << Count_;
        Count_ += width;
        while (Count_ >= 8) {
            Out_.push_back(static_cast<uint8_t>(Acc_));
            Acc_ >>= 8;
            Count_ -= 8;
        }
    }
    void Flush() {
        if (Count_ > 0) Out_.push_back(static_cast<uint8_t>(Acc_));
        Acc_ = 0;
        Count_ = 0;
    }

private:
    Bytes& Out_;
    uint64_t Acc_ = 0;
    int Count_ = 0;
};

constexpr int MaxCodes = 4096;

void PutColors(Bytes& out, const std::vector<Rgb>& table, size_t entries) {
    for (size_t i = 0; i < entries; ++i) {
        Rgb c = i < table.size() ? table[i] : Rgb{};
        out.push_back(c.R);
        out.push_back(c.G);
        out.push_back(c.B);
    }
}

uint64_t Fnv1a(const Bytes& data) {
    uint64_t h = 14695981039346656037ull;
    for (uint8_t b : data) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

Bytes LzwEncode(const uint8_t* indices, size_t count, int minCodeSize, const LzwOptions& options) {
    if (minCodeSize < 1 || minCodeSize > 11)
        throw std::invalid_argument("LZW minimum code size out of range");
    const uint32_t clearCode = 1u << minCodeSize;
    const uint32_t endCode = clearCode + 1;
    const size_t alphabet = std::min<size_t>(clearCode, 256);
    for (size_t i = 0; i < count; ++i)
        if (indices[i] >= clearCode) throw std::invalid_argument("index does not fit the code size");

    // child[code * alphabet + index] = code of (string of code) + index, 0 = none.
    std::vector<uint16_t> child(static_cast<size_t>(MaxCodes) * alphabet, 0);
    Bytes out;
    BitPacker bits(out);
    int width = minCodeSize + 1;
    uint32_t next = endCode + 1;
    int32_t prefix = -1;

    auto reset = [&] {
        std::fill(child.begin(), child.end(), 0);
        width = minCodeSize + 1;
        next = endCode + 1;
    };
    // Widths follow the decoder, whose table lags one entry behind ours.
    auto emit = [&](uint32_t code) {
        bits.Put(code, width);
        if (next >= (1u << width) && width < 12) ++width;
    };
    auto emitClear = [&] {
        bits.Put(clearCode, width);
        reset();
    };
    auto inject = [&](size_t position) {
        auto range = options.InjectCodes.equal_range(position);
        for (auto it = range.first; it != range.second; ++it) bits.Put(it->second, width);
    };
    size_t clearIdx = 0;
    std::vector<size_t> clears = options.ClearBefore;
    std::sort(clears.begin(), clears.end());

    if (options.LeadingClear) bits.Put(clearCode, width);
    for (size_t i = 0; i < count; ++i) {
        bool clearHere = false;
        while (clearIdx < clears.size() && clears[clearIdx] <= i) {
            clearHere = clears[clearIdx] == i;
            ++clearIdx;
        }
        bool injectHere = options.InjectCodes.count(i) > 0;
        if ((clearHere || injectHere) && prefix >= 0) {
            emit(static_cast<uint32_t>(prefix));
            prefix = -1;
        }
        if (injectHere) inject(i);
        if (clearHere) emitClear();

        uint8_t k = indices[i];
        if (prefix < 0) {
            prefix = k;
            continue;
        }
        uint16_t& slot = child[static_cast<size_t>(prefix) * alphabet + k];
        if (slot != 0) {
            prefix = slot;
            continue;
        }
        emit(static_cast<uint32_t>(prefix));
        if (next < MaxCodes) {
            slot = static_cast<uint16_t>(next++);
        } else if (!options.DeferredClear) {
            emitClear();
        }
        prefix = k;
    }
    if (prefix >= 0) emit(static_cast<uint32_t>(prefix));
    inject(SIZE_MAX);
    if (options.EndCode) bits.Put(endCode, width);
    bits.Flush();
    return out;
}

Bytes SubBlocks(const Bytes& data, size_t chunk, bool terminate) {
    if (chunk < 1 || chunk > 255) throw std::invalid_argument("sub-block size must be 1..255");
    Bytes out;
    out.reserve(data.size() + data.size() / chunk + 2);
    for (size_t pos = 0; pos < data.size(); pos += chunk) {
        size_t n = std::min(chunk, data.size() - pos);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(pos),
                   data.begin() + static_cast<ptrdiff_t>(pos + n));
    }
    if (terminate) out.push_back(0);
    return out;
}

Bytes PackWidths(const std::vector<std::pair<uint32_t, int>>& codes) {
    Bytes out;
    uint64_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes) {
        acc |= uint64_t(code) << bits;
        bits += width;
        for (; bits >= 8; bits -= 8, acc >>= 8) out.push_back(static_cast<uint8_t>(acc));
    }
    if (bits > 0) out.push_back(static_cast<uint8_t>(acc));
    return out;
}

Bytes PackCodes(int minCodeSize, const std::vector<uint32_t>& codes) {
    const uint32_t clear = 1u << minCodeSize;
    std::vector<std::pair<uint32_t, int>> sized;
    int width = minCodeSize + 1;
    uint32_t nextFree = clear + 2;
    bool first = true, afterClear = false;
    for (uint32_t code : codes) {
        sized.emplace_back(code, width);
        const bool wasFirst = std::exchange(first, false);
        if (code == clear) {
            width = minCodeSize + 1;
            nextFree = clear + 2;
            afterClear = true;
            continue;
        }
        if (std::exchange(afterClear, false) || wasFirst || nextFree >= static_cast<uint32_t>(MaxCodes)) continue;
        if (++nextFree >= (1u << width) && width < 12) ++width;
    }
    return PackWidths(sized);
}

std::vector<uint32_t> RootCodes(int minCodeSize, const Bytes& pixels) {
    std::vector<uint32_t> codes{1u << minCodeSize};
    codes.insert(codes.end(), pixels.begin(), pixels.end());
    codes.push_back((1u << minCodeSize) + 1);
    return codes;
}

Bytes RasterBlock(int minCodeSize, const Bytes& packed, size_t chunk) {
    Bytes out{static_cast<uint8_t>(minCodeSize)};
    const Bytes blocks = SubBlocks(packed, chunk);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

std::vector<int> InterlacedRowOrder(int height) {
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(std::max(height, 0)));
    static const int start[4] = {0, 4, 2, 1};
    static const int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) rows.push_back(y);
    return rows;
}

int TableSizeField(size_t count) {
    int s = 0;
    while (s < 7 && (size_t{2} << s) < count) ++s;
    return s;
}

GifWriter& GifWriter::Header(const std::string& version) {
    Raw({'G', 'I', 'F'});
    for (size_t i = 0; i < 3; ++i) Byte(i < version.size() ? static_cast<uint8_t>(version[i]) : 0);
    return *this;
}

GifWriter& GifWriter::Screen(uint16_t width, uint16_t height, const std::vector<Rgb>& globalTable,
                             uint8_t background, int colorResolution, uint8_t aspect, int sizeField,
                             bool sorted) {
    uint8_t packed = static_cast<uint8_t>(((colorResolution - 1) & 7) << 4);
    int s = 0;
    if (!globalTable.empty()) {
        s = sizeField >= 0 ? sizeField : TableSizeField(globalTable.size());
        packed |= static_cast<uint8_t>(0x80 | (s & 7));
        if (sorted) packed |= 0x08;
    }
    ScreenRaw(width, height, packed, background, aspect);
    if (!globalTable.empty()) ColorTable(globalTable, size_t{2} << s);
    return *this;
}

GifWriter& GifWriter::ScreenRaw(uint16_t width, uint16_t height, uint8_t packed, uint8_t background,
                                uint8_t aspect) {
    U16(width);
    U16(height);
    Byte(packed);
    Byte(background);
    return Byte(aspect);
}

GifWriter& GifWriter::ColorTable(const std::vector<Rgb>& table, size_t entries) {
    PutColors(Out_, table, entries);
    return *this;
}

GifWriter& GifWriter::GraphicControl(int disposal, uint16_t delay, int transparentIndex,
                                     bool userInput) {
    uint8_t packed = static_cast<uint8_t>((disposal & 7) << 2);
    if (userInput) packed |= 0x02;
    if (transparentIndex >= 0) packed |= 0x01;
    Raw({0x21, 0xF9, 4, packed});
    U16(delay);
    Byte(static_cast<uint8_t>(transparentIndex >= 0 ? transparentIndex : 0));
    return Byte(0);
}

GifWriter& GifWriter::Comment(const std::string& text, size_t chunk) {
    Raw({0x21, 0xFE});
    return Raw(SubBlocks(Bytes(text.begin(), text.end()), chunk));
}

GifWriter& GifWriter::PlainText(const std::string& text, uint16_t gridLeft, uint16_t gridTop,
                                uint16_t gridWidth, uint16_t gridHeight, uint8_t cellWidth,
                                uint8_t cellHeight, uint8_t foreground, uint8_t background) {
    Raw({0x21, 0x01, 12});
    U16(gridLeft);
    U16(gridTop);
    U16(gridWidth);
    U16(gridHeight);
    Raw({cellWidth, cellHeight, foreground, background});
    return Raw(SubBlocks(Bytes(text.begin(), text.end())));
}

GifWriter& GifWriter::Application(const std::string& identifier, const std::vector<Bytes>& subBlocks,
                                  uint8_t blockSize) {
    Raw({0x21, 0xFF, blockSize});
    for (size_t i = 0; i < 11; ++i)
        Byte(i < identifier.size() ? static_cast<uint8_t>(identifier[i]) : 0);
    for (const Bytes& b : subBlocks) SubBlock(static_cast<uint8_t>(b.size()), b);
    return Byte(0);
}

GifWriter& GifWriter::Loop(uint16_t count) {
    return Application("NETSCAPE2.0",
                       {{1, static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)}});
}

GifWriter& GifWriter::Extension(uint8_t label, const Bytes& fixedPart,
                                const std::vector<Bytes>& subBlocks) {
    Raw({0x21, label});
    Raw(fixedPart);
    for (const Bytes& b : subBlocks) SubBlock(static_cast<uint8_t>(b.size()), b);
    return Byte(0);
}

GifWriter& GifWriter::Image(const ImageSpec& spec) {
    const size_t pixels = static_cast<size_t>(spec.Width) * spec.Height;
    if (spec.RawData == nullptr && spec.Indices.size() != pixels)
        throw std::invalid_argument("image needs Width * Height indices");

    uint8_t packed = 0;
    int localField = 0;
    if (!spec.LocalTable.empty()) {
        localField = spec.LocalSizeField >= 0 ? spec.LocalSizeField : TableSizeField(spec.LocalTable.size());
        packed |= static_cast<uint8_t>(0x80 | (localField & 7));
        if (spec.Sorted) packed |= 0x20;
    }
    if (spec.Interlaced) packed |= 0x40;
    Byte(0x2C);
    U16(spec.Left);
    U16(spec.Top);
    U16(spec.Width);
    U16(spec.Height);
    Byte(packed);
    if (!spec.LocalTable.empty()) ColorTable(spec.LocalTable, size_t{2} << localField);

    int codeSize = spec.MinCodeSize;
    if (codeSize == 0) {
        uint8_t top = spec.Indices.empty() ? 0 : *std::max_element(spec.Indices.begin(), spec.Indices.end());
        int bits = 1;
        while ((1 << bits) <= top) ++bits;
        if (!spec.LocalTable.empty()) bits = std::max(bits, localField + 1);
        codeSize = std::max(2, bits);
    }
    Byte(static_cast<uint8_t>(codeSize));

    Bytes data;
    if (spec.RawData != nullptr) {
        data = *spec.RawData;
    } else {
        Bytes ordered;
        const Bytes* source = &spec.Indices;
        if (spec.Interlaced) {
            ordered.reserve(pixels);
            for (int y : InterlacedRowOrder(spec.Height)) {
                auto row = spec.Indices.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(y) * spec.Width);
                ordered.insert(ordered.end(), row, row + spec.Width);
            }
            source = &ordered;
        }
        data = LzwEncode(*source, spec.EncodeCodeSize != 0 ? spec.EncodeCodeSize : codeSize, spec.Lzw);
    }
    for (const auto& [at, mask] : spec.XorData)
        if (at < data.size()) data[at] ^= mask;
    if (spec.TruncateData < data.size()) data.resize(spec.TruncateData);
    return Raw(SubBlocks(data, spec.SubBlockSize, spec.Terminator));
}

GifWriter& GifWriter::Trailer() { return Byte(0x3B); }

GifWriter& GifWriter::ImageDescriptor(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                                      uint8_t packed) {
    Byte(0x2C);
    U16(left);
    U16(top);
    U16(width);
    U16(height);
    return Byte(packed);
}

GifWriter& GifWriter::Byte(uint8_t b) {
    Out_.push_back(b);
    return *this;
}

GifWriter& GifWriter::Raw(const Bytes& bytes) {
    Out_.insert(Out_.end(), bytes.begin(), bytes.end());
    return *this;
}

GifWriter& GifWriter::U16(uint16_t v) {
    Byte(static_cast<uint8_t>(v & 0xFF));
    return Byte(static_cast<uint8_t>(v >> 8));
}

GifWriter& GifWriter::SubBlock(uint8_t lengthByte, const Bytes& data) {
    Byte(lengthByte);
    return Raw(data);
}

Bytes GifWriter::Finish(size_t truncateAt) const {
    Bytes out = Out_;
    if (truncateAt < out.size()) out.resize(truncateAt);
    SaveToCorpus(out);
    return out;
}

Bytes LengthPrefixed(const Bytes& stream) {
    return LengthPrefixed(stream, static_cast<int32_t>(stream.size()));
}

Bytes LengthPrefixed(const Bytes& stream, int32_t declaredLength) {
    uint32_t n = static_cast<uint32_t>(declaredLength);
    Bytes out(stream.size() + 4);
    for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
    std::copy(stream.begin(), stream.end(), out.begin() + 4);
    return out;
}

void SaveToCorpus(const Bytes& stream) {
    const char* dir = std::getenv("KANTREL_GIF_CORPUS_DIR");
    if (dir == nullptr || *dir == '\0') return;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.gif", static_cast<unsigned long long>(Fnv1a(stream)));
    fs::path path = fs::path(dir) / name;
    if (fs::exists(path, ec)) return;
    // Write under a temporary name first so a concurrent test never sees half a file.
    fs::path temp = path;
    temp += ".tmp" + std::to_string(std::random_device{}());
    {
        std::ofstream f(temp, std::ios::binary);
        f.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    fs::rename(temp, path, ec);
    if (ec) fs::remove(temp, ec);
}

}  // namespace gifwriter
