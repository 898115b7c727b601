#include "ReferenceDecoder.h"

#include <algorithm>

namespace {

// Codes least significant bit first over the data bytes of the sub-blocks.
// A sub-block cut short by the end of the data gives the bytes it has.
class CodeReader {
public:
    CodeReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next code, or 0xFFFF when fewer than width bits are left.
    uint32_t Next(uint32_t width)
    {
        while (bits_.size() < width && pos_ < size_) {
            size_t n = data_[pos_++];
            for (size_t i = 0; i < n && pos_ < size_; ++i) {
                uint8_t byte = data_[pos_++];
                for (int b = 0; b < 8; ++b)
                    bits_.push_back((byte >> b) & 1);
            }
        }
        if (bits_.size() < width)
            return 0xFFFF;
        uint32_t code = 0;
        for (uint32_t b = 0; b < width; ++b)
            code |= uint32_t(bits_[b]) << b;
        bits_.erase(bits_.begin(), bits_.begin() + width);
        return code;
    }

    // Bytes read so far, the code size byte included.
    size_t Position() const { return 1 + pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    std::vector<uint8_t> bits_;
};

struct Cursor {
    int width, height, bits;
    size_t stride;
    bool interlaced;
    std::vector<uint8_t>& pixels;
    int column = 0, row = 0, pass = 0;

    void Emit(uint32_t value)
    {
        if (row >= height)
            return;
        uint8_t* rowStart = pixels.data() + size_t(height - 1 - row) * stride;
        if (bits == 1) {
            uint8_t v = uint8_t((value & 1) << (7 - column % 8));
            rowStart[column / 8] = column % 8 == 0 ? v : uint8_t(rowStart[column / 8] | v);
        } else if (bits == 4) {
            uint8_t v = uint8_t(value & 15);
            rowStart[column / 2] = column % 2 == 0 ? uint8_t(v << 4) : uint8_t(rowStart[column / 2] | v);
        } else {
            rowStart[column] = uint8_t(value);
        }
        if (++column == width) {
            column = 0;
            row = interlaced ? NextInterlacedRow() : row + 1;
        }
    }

    int NextInterlacedRow()
    {
        static const int steps[4] = {8, 8, 4, 2};
        int next = row + steps[pass];
        if (next < height)
            return next;
        if (pass == 0) {
            pass = 1;
            if (height > 4)
                return 4;
        }
        if (pass == 1) {
            pass = 2;
            if (height > 2)
                return 2;
        }
        if (pass == 2) {
            pass = 3;
            return 1;
        }
        return next;
    }
};

}  // namespace

ReferenceResult ReferenceDecode(const uint8_t* raster, size_t size, int width, int height, int pixelBits,
                                bool interlaced, int pixelDepth, bool acceptCorrupt)
{
    ReferenceResult result;
    size_t stride = (size_t(width) * size_t(pixelBits) + 31) / 32 * 4;
    result.pixels.assign(stride * size_t(height), 0);
    if (size == 0) {
        result.error = "EReadError: Stream read error";
        return result;
    }
    uint32_t m = raster[0];
    if (m < 2 || m > 9) {
        if (!acceptCorrupt) {
            result.error = "EInvalidGraphicOperation: GIF code size not in range 2 to 9";
            return result;
        }
        result.corrupt = true;
        m = std::clamp<uint32_t>(m, 2, 9);
    }
    CodeReader reader(raster + 1, size - 1);
    Cursor cursor{width, height, pixelBits, stride, interlaced, result.pixels};
    // A frame without columns has all its rows complete from the start.
    if (width == 0)
        cursor.row = height;

    const uint32_t pixelMask = (1u << pixelDepth) - 1;
    const uint32_t clearCode = 1u << m, endCode = clearCode + 1, firstFree = clearCode + 2;
    const uint32_t initialWidth = m + 1;
    uint32_t codeWidth = initialWidth, widthLimit = 1u << codeWidth, nextFree = firstFree;
    uint32_t previousCode = 0, firstPixel = 0;
    bool tableFull = false;
    std::vector<uint16_t> prefix(4096, 0), suffix(4096, 0), stack;

    // Codes above rootLimit are strings of the dictionary: a colour table
    // larger than the code size does not make dictionary codes pixels.
    const uint32_t rootLimit = std::min(pixelMask, clearCode - 1);

    auto report = [&] { result.progress.push_back(int(double(reader.Position()) / double(size) * 100)); };

    uint32_t code = reader.Next(codeWidth);
    // A raster that does not begin with a clear code: its first code is a
    // pixel, as after a clear code, and adds no entry.
    if (code != clearCode && code != endCode && code != 0xFFFF && cursor.row < height && !result.corrupt) {
        previousCode = code;
        firstPixel = code & pixelMask;
        cursor.Emit(firstPixel);
        code = reader.Next(codeWidth);
        report();
    }
    while (code != endCode && code != 0xFFFF && cursor.row < height) {
        if (code == clearCode) {
            codeWidth = initialWidth;
            widthLimit = 1u << codeWidth;
            nextFree = firstFree;
            code = reader.Next(codeWidth);
            if (code == clearCode)
                continue;
            if (code == 0xFFFF || code == endCode)
                break;
            previousCode = code;
            firstPixel = code & pixelMask;
            cursor.Emit(firstPixel);
            tableFull = false;
        } else {
            uint32_t incoming = code, working = code;
            stack.clear();
            if (working >= nextFree) {
                stack.push_back(uint16_t(firstPixel));
                working = previousCode;
            }
            while (working > rootLimit) {
                if (stack.size() > 4096) {
                    if (!acceptCorrupt) {
                        result.error = "EInvalidGraphicOperation: GIF encoded data is corrupt";
                        return result;
                    }
                    result.corrupt = true;
                    break;
                }
                stack.push_back(suffix[working]);
                working = prefix[working];
            }
            if (result.corrupt)
                break;
            firstPixel = working;
            stack.push_back(uint16_t(firstPixel));
            while (!stack.empty()) {
                cursor.Emit(stack.back() & 0xFF);
                stack.pop_back();
            }
            if (!tableFull) {
                prefix[nextFree] = uint16_t(previousCode);
                suffix[nextFree] = uint16_t(firstPixel);
                ++nextFree;
                if (nextFree >= widthLimit) {
                    if (codeWidth < 12) {
                        ++codeWidth;
                        widthLimit *= 2;
                    } else {
                        tableFull = true;
                    }
                }
            }
            previousCode = incoming;
        }
        code = reader.Next(codeWidth);
        report();
    }
    // Data that ran out before the last row: damage.
    if (code == 0xFFFF && cursor.row < height) {
        if (!acceptCorrupt)
            result.error = "EInvalidGraphicOperation: Stream read error";
        else
            result.corrupt = true;
    }
    return result;
}
