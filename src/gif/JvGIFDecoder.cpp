#include "gif/JvGIFDecoder.h"
#include "gif/JvGIFDecoderState.h"

#include "gif/JvGIF.h"
#include "rtl/Errors.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// One set of each loop's tables is kept between decodes, so that loading a
// small image neither allocates nor sets up tables again. Decodes on several
// threads at once each get their own; the spare is the last one given back.
template <typename Tables>
class TBorrowed {
public:
    TBorrowed() : Tables_(Spare.exchange(nullptr)) {
        // Named here so that the owner exists and frees the spare at exit.
        (void)&Owner;
        if (!Tables_)
            Tables_ = new Tables;
    }
    ~TBorrowed() { delete Spare.exchange(Tables_); }
    TBorrowed(const TBorrowed&) = delete;
    TBorrowed& operator=(const TBorrowed&) = delete;
    Tables& Get() { return *Tables_; }

private:
    static inline std::atomic<Tables*> Spare{nullptr};
    struct TOwner {
        ~TOwner() { delete Spare.exchange(nullptr); }
    };
    static inline TOwner Owner;
    Tables* Tables_;
};

} // namespace

namespace {

inline RasterCursor AdvanceRow(RasterCursor c) {
    c.Column = 0;
    if (c.Interlaced) {
        int32_t pass = c.Pass;
        c.Row = NextInterlacedRow(c.Row, c.RowCount, pass);
        c.Pass = pass;
    } else {
        ++c.Row;
    }
    c.RowStart = c.Row < c.RowCount ? c.Pixels + size_t(c.RowCount - 1 - c.Row) * c.Stride : nullptr;
    return c;
}

// Eight pixels of 4 bits (one per byte, the first in the lowest) as the four
// bytes they pack into, first pixel in the high half of the first byte.
inline uint32_t PackNibbles(uint64_t eight) {
    const uint64_t t = eight & 0x0F0F0F0F0F0F0F0Full;
    uint64_t u = ((t << 4) | (t >> 8)) & 0x00FF00FF00FF00FFull;
    u = (u | (u >> 8)) & 0x0000FFFF0000FFFFull;
    return uint32_t(u | (u >> 16));
}

// Eight pixels of 1 bit as the byte they pack into, first pixel in bit 7.
inline uint8_t PackBits(uint64_t eight) {
    return uint8_t(((eight & 0x0101010101010101ull) * 0x8040201008040201ull) >> 56);
}

// Packs n pixels of 1 or 4 bits into the row at column, as EmitPixel would
// one by one: the first pixel of a byte sets it, the later ones are ORed in.
// Whole groups of eight go at once.
inline void PackPixels(uint8_t* row, int32_t column, int32_t bits, const uint8_t* pixels, uint32_t n) {
    uint32_t i = 0;
    if (bits == 4) {
        uint8_t* out = row + column / 2;
        if (column % 2 != 0 && n != 0)
            *out++ |= uint8_t(pixels[i++] & 15);
        if constexpr (std::endian::native == std::endian::little) {
            for (; i + 8 <= n; i += 8, out += 4) {
                uint64_t eight;
                std::memcpy(&eight, pixels + i, 8);
                const uint32_t packed = PackNibbles(eight);
                std::memcpy(out, &packed, 4);
            }
        }
        for (; i + 1 < n; i += 2)
            *out++ = uint8_t((pixels[i] << 4) | (pixels[i + 1] & 15));
        if (i < n)
            *out = uint8_t(pixels[i] << 4);
        return;
    }
    uint8_t* out = row + column / 8;
    uint32_t shift = 7 - uint32_t(column % 8);
    uint32_t byte = shift == 7 ? 0 : *out;
    auto put = [&](uint8_t pixel) {
        byte |= (pixel & 1u) << shift;
        if (shift == 0) {
            *out++ = uint8_t(byte);
            byte = 0;
            shift = 7;
        } else {
            --shift;
        }
    };
    // Up to the next whole byte, then eight at a time.
    for (; i < n && shift != 7; ++i)
        put(pixels[i]);
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            uint64_t eight;
            std::memcpy(&eight, pixels + i, 8);
            *out++ = PackBits(eight);
        }
    }
    for (; i < n; ++i)
        put(pixels[i]);
    if (shift != 7)
        *out = uint8_t(byte);
}

} // namespace

void PackRun(uint8_t* row, uint64_t column, int32_t bits, const uint8_t* pixels, uint32_t count) {
    if (count == 0)
        return;
    // Whole bytes before the column are left alone.
    const uint64_t skip = column * uint64_t(bits) / 8;
    PackPixels(row + skip, int32_t(column - skip * 8 / uint64_t(bits)), bits, pixels, count);
}

// Writes a run of pixels in order, across row ends, until the frame is complete.
RasterCursor EmitRun(RasterCursor c, const uint8_t* pixels, uint32_t count) {
    // Whole rows of one byte per pixel in order, the common case, without
    // the general cursor's bookkeeping per row.
    if (c.PixelBits == 8 && !c.Interlaced && c.Column == 0 && c.Row < c.RowCount) {
        const auto width = uint32_t(c.PixelsPerRow);
        uint8_t* row = c.RowStart;
        int32_t y = c.Row;
        while (count >= width && y < c.RowCount) {
            std::memcpy(row, pixels, width);
            pixels += width;
            count -= width;
            row -= c.Stride;
            ++y;
        }
        c.Row = y;
        c.RowStart = y < c.RowCount ? row : nullptr;
    }
    while (count != 0 && c.Row < c.RowCount) {
        const uint32_t room = uint32_t(c.PixelsPerRow - c.Column);
        const uint32_t n = std::min(count, room);
        if (c.PixelBits == 8)
            std::memcpy(c.RowStart + c.Column, pixels, n);
        else
            PackPixels(c.RowStart, c.Column, c.PixelBits, pixels, n);
        pixels += n;
        count -= n;
        c.Column += int32_t(n);
        if (c.Column == c.PixelsPerRow)
            c = AdvanceRow(c);
    }
    return c;
}

namespace {

// Writes the string of a sound code at out, chunk by chunk from its end; may
// write up to ChunkSlack bytes beyond it.
inline void WriteString(const TChunkEntry* chunks, uint32_t code, uint32_t length, uint8_t* out) {
    uint32_t at = (length - 1) & ~7u;
    std::memcpy(out + at, chunks[code].Tail, 8);
    uint32_t part = chunks[code].ChunkPrefix;
    while (at != 0) {
        at -= 8;
        std::memcpy(out + at, chunks[part].Tail, 8);
        part = chunks[part].ChunkPrefix;
    }
}

// The general decoder. Local to this file: its loop is then inlined where the
// decoder is a local variable, whose fields stay in registers (large frames
// measured up to a quarter slower otherwise).
struct TDecoder : TDecodeJob {
    TCodeReader Reader;

    template <bool Listening>
    uint32_t Run();
};

// The decoding loop. Strings go into the output buffer first and reach the
// rows in runs, so that the common case knows nothing of rows, pixel packing
// or interlacing. Everything it changes per code lives in locals, so that the
// pixel stores (which may alias anything in memory) do not force reloads.
template <bool Listening>
uint32_t TDecoder::Run() {
    TChunkEntry* const chunks = Tables->Chunks;
    uint8_t* const stack = Tables->Stack;
    uint8_t* const buffer = Tables->Output;
    TCodeReader r = Reader;
    TCodeSource& source = Source;
    RasterCursor c = Cursor;
    const uint32_t pixelMask = PixelMask;
    const uint32_t rootLimit = RootLimit;
    const uint32_t clearCode = ClearCode;
    const uint32_t endCode = EndCode;
    const uint32_t firstFree = FirstFree;
    const uint32_t initialWidth = InitialWidth;
    bool corrupt = Corrupt;
    uint32_t nextFree = firstFree;
    // Dictionary entries from here on have not been assigned in this call.
    uint32_t highWater = firstFree;
    uint32_t previousCode = 0;
    // The chunk length of previousCode's string; 0 when it has no sound string.
    uint32_t previousLength = 0;
    uint32_t firstPixel = 0;
    TBlockPosition position{Data, Size};
    // Pixels the frame still takes beyond those counted up to `counted`;
    // the code after the one that completes the frame ends decoding.
    uint64_t left = c.Row < c.RowCount ? uint64_t(c.PixelsPerRow) * uint64_t(c.RowCount) : 0;
    uint8_t* out = buffer;
    uint8_t* counted = buffer;
    // Pixels the common case may still write: room in the buffer, and fewer
    // than the frame takes; none once the code size was clamped, so that
    // every code takes the general path.
    uint32_t avail = 0;
    auto count = [&] {
        left -= std::min<uint64_t>(left, uint64_t(out - counted));
        counted = out;
    };
    auto sync = [&] {
        count();
        const uint64_t room = OutputSize - uint64_t(out - buffer);
        avail = corrupt || left == 0 ? 0u : uint32_t(std::min(room, left - 1));
    };
    auto flush = [&] {
        count();
        if (out != buffer)
            c = EmitRun(c, buffer, uint32_t(out - buffer));
        out = buffer;
        counted = buffer;
    };
    // Adds previousCode's string (beforeLength pixels, 0 when not sound) and
    // firstPixel as entry nextFree; the caller checks that the table is not
    // full (nextFree below MaxCodes).
    auto addEntry = [&](uint32_t beforeLength) {
        TChunkEntry& added = chunks[nextFree];
        added.Prefix = uint16_t(previousCode);
        added.Suffix = uint8_t(firstPixel);
        if (beforeLength != 0) {
            const TChunkEntry& before = chunks[previousCode];
            const uint32_t filled = beforeLength % 8;
            std::memcpy(added.Tail, before.Tail, 8);
            added.Tail[filled] = uint8_t(firstPixel);
            added.ChunkPrefix = filled == 0 ? uint16_t(previousCode) : before.ChunkPrefix;
            added.Length = uint16_t(beforeLength + 1);
            added.First = before.First;
        } else {
            added.Length = 0;
        }
        if (++nextFree > r.CodeMask && r.CodeWidth < MaxCodeWidth) {
            ++r.CodeWidth;
            r.CodeMask = 2 * r.CodeMask + 1;
        }
    };
    auto report = [&](uint32_t code) {
        const uint64_t needed = code == NoMoreCodes ? ~uint64_t(0) : r.BitsTaken(source);
        const size_t at = position.Advance(needed);
        (*Progress)(psRunning, uint8_t(double(at) / double(Size) * 100), std::string());
    };

    uint32_t code = TakeCode(r, source);
    // A raster need not begin with a clear code: its first code is then a
    // pixel, as after a clear code, and adds no entry.
    if (code != clearCode && code != endCode && code != NoMoreCodes && left != 0 && !corrupt) {
        previousCode = code;
        firstPixel = code & pixelMask;
        *out++ = uint8_t(firstPixel);
        code = TakeCode(r, source);
        if constexpr (Listening)
            report(code);
    }
    previousLength = previousCode < nextFree ? chunks[previousCode].Length : 0u;
    sync();
    for (;;) {
        // The common case first: a sound string, or one that the previous
        // string and its first pixel make (the code not yet defined), that
        // fits with the chunks' overrun. Clear and end codes have no sound
        // string. The two branches end alike on purpose: with the ending in a
        // shared lambda the loop measured 8 to 25% slower.
        if (code < nextFree) {
            const TChunkEntry& entry = chunks[code];
            const uint32_t length = entry.Length;
            if (length - 1 < avail) {
                WriteString(chunks, code, length, out);
                out += length;
                avail -= length;
                firstPixel = entry.First;
                if (nextFree < MaxCodes)
                    addEntry(previousLength);
                previousCode = code;
                previousLength = length;
                code = TakeCode(r, source);
                if constexpr (Listening)
                    report(code);
                continue;
            }
        } else if (code == nextFree && previousLength != 0 && previousLength < avail) {
            addEntry(previousLength);
            const uint32_t length = previousLength + 1;
            WriteString(chunks, code, length, out);
            out += length;
            avail -= length;
            previousCode = code;
            previousLength = length;
            code = TakeCode(r, source);
            if constexpr (Listening)
                report(code);
            continue;
        }
        uint32_t length = 0;
        count();
        if (code == endCode || code == NoMoreCodes || left == 0)
            break;
        // Every string is at most MaxCodes pixels long, which an emptied buffer holds.
        if (out - buffer > ptrdiff_t(OutputSize - LongestWrite))
            flush();
        if (code == clearCode) {
            r.CodeWidth = initialWidth;
            r.CodeMask = (1u << r.CodeWidth) - 1;
            highWater = std::max(highWater, nextFree);
            nextFree = firstFree;
            // Encoders may send clear codes back to back; each one only
            // clears, and an end code right after a clear ends the raster.
            do
                code = TakeCode(r, source);
            while (code == clearCode);
            if (code == NoMoreCodes || code == endCode)
                break;
            // Any other code after a clear code is a pixel, even a root the
            // colour table does not have.
            previousCode = code;
            firstPixel = code & pixelMask;
            *out++ = uint8_t(firstPixel);
        } else {
            // A clamped code size: only the pixels right after clear codes count.
            if (corrupt)
                break;
            const uint32_t incoming = code;
            uint32_t soundCode = code;
            bool appendFirst = false;
            if (code < nextFree) {
                length = chunks[code].Length;
            } else if (previousCode < nextFree && chunks[previousCode].Length != 0) {
                // Not yet defined: the previous string and its own first pixel.
                length = chunks[previousCode].Length + 1u;
                soundCode = previousCode;
                appendFirst = true;
            }
            if (length != 0) {
                const uint32_t newFirst = chunks[soundCode].First;
                if (appendFirst) {
                    WriteString(chunks, soundCode, length - 1, out);
                    out[length - 1] = uint8_t(firstPixel);
                } else {
                    WriteString(chunks, soundCode, length, out);
                }
                out += length;
                firstPixel = newFirst;
            } else {
                // Step by step through the dictionary, as damaged data needs.
                uint32_t working = code;
                uint32_t depth = 0;
                if (working >= nextFree) {
                    stack[depth++] = uint8_t(firstPixel);
                    working = previousCode;
                }
                while (working > rootLimit) {
                    if (depth > StackLimit) {
                        if (!AcceptCorrupt) {
                            flush();
                            Cursor = c;
                            throw EInvalidGraphicOperation(SGIFDecodeError);
                        }
                        corrupt = true;
                        break;
                    }
                    if (working >= std::max(highWater, nextFree)) {
                        stack[depth++] = 0;
                        working = 0;
                    } else {
                        stack[depth++] = chunks[working].Suffix;
                        working = chunks[working].Prefix;
                    }
                }
                if (corrupt)
                    break;
                firstPixel = working;
                stack[depth++] = uint8_t(working);
                std::reverse_copy(stack, stack + depth, out);
                out += depth;
            }
            if (nextFree < MaxCodes)
                addEntry(previousCode < nextFree ? chunks[previousCode].Length : 0u);
            previousCode = incoming;
        }
        previousLength = previousCode < nextFree ? chunks[previousCode].Length : 0u;
        sync();
        code = TakeCode(r, source);
        if constexpr (Listening)
            report(code);
    }
    flush();
    Reader = r;
    Cursor = c;
    Corrupt = corrupt;
    return code;
}

} // namespace

uint64_t RasterStride(uint64_t pixelsPerRow, uint64_t pixelBits) {
    return (pixelsPerRow * pixelBits + 31) / 32 * 4;
}

void EmitPixel(uint32_t value, RasterCursor& c) {
    if (c.Row >= c.RowCount)
        return;
    const int32_t column = c.Column;
    switch (c.PixelBits) {
    case 1: {
        const auto bits = uint8_t((value & 1) << (7 - column % 8));
        uint8_t& byte = c.RowStart[column / 8];
        byte = column % 8 == 0 ? bits : uint8_t(byte | bits);
        break;
    }
    case 4: {
        uint8_t& byte = c.RowStart[column / 2];
        byte = column % 2 == 0 ? uint8_t((value & 15) << 4) : uint8_t(byte | (value & 15));
        break;
    }
    default: c.RowStart[column] = uint8_t(value); break;
    }
    if (++c.Column == c.PixelsPerRow)
        c = AdvanceRow(c);
}

int32_t NextInterlacedRow(int32_t row, int32_t rowCount, int32_t& pass) {
    static constexpr int32_t Steps[4] = {8, 8, 4, 2};
    const int32_t next = row + Steps[std::clamp(pass, 0, 3)];
    if (next < rowCount)
        return next;
    if (pass == 0) {
        pass = 1;
        if (rowCount > 4)
            return 4;
    }
    if (pass == 1) {
        pass = 2;
        if (rowCount > 2)
            return 2;
    }
    if (pass == 2) {
        pass = 3;
        return 1;
    }
    return next;
}

int32_t InterlacedRowAt(int32_t index, int32_t rowCount) {
    // Rows 0, 8, 16 ...; then 4, 12 ...; then 2, 6 ...; then 1, 3 ...
    const int32_t passes[3][3] = {{(rowCount + 7) / 8, 0, 8}, {(rowCount + 3) / 8, 4, 8}, {(rowCount + 1) / 4, 2, 4}};
    for (const auto& [count, first, step] : passes) {
        if (index < count)
            return first + step * index;
        index -= count;
    }
    return 1 + 2 * index;
}

namespace {

typedef uint8_t TBytes16 __attribute__((vector_size(16)));

// Exchanges two rows of count bytes (a multiple of 4) that do not overlap.
void SwapRows(uint8_t* a, uint8_t* b, size_t count) {
    size_t at = 0;
    for (; at + 16 <= count; at += 16) {
        TBytes16 x, y;
        std::memcpy(&x, a + at, 16);
        std::memcpy(&y, b + at, 16);
        std::memcpy(a + at, &y, 16);
        std::memcpy(b + at, &x, 16);
    }
    for (; at < count; at += 4) {
        uint32_t x, y;
        std::memcpy(&x, a + at, 4);
        std::memcpy(&y, b + at, 4);
        std::memcpy(a + at, &y, 4);
        std::memcpy(b + at, &x, 4);
    }
}

} // namespace

void StoreRows(const uint8_t* pixels, uint64_t written, uint8_t* block, int32_t width, int32_t height, int32_t bits,
               bool interlaced) {
    if (width <= 0 || height <= 0)
        return;
    const auto stride = size_t(RasterStride(uint64_t(width), uint64_t(bits)));
    if (bits == 1 && !interlaced && written >= uint64_t(width) * uint64_t(height)) {
        // Every row whole and in order: stepped through without the per-row
        // bookkeeping below, which cost small 1-bit frames as much again as
        // packing their pixels.
        uint8_t* row = block + size_t(height - 1) * stride;
        const size_t whole = size_t(width) / 8;
        const auto rest = uint32_t(width % 8);
        const size_t filled = whole + (rest != 0 ? 1 : 0);
        for (int32_t k = 0; k < height; ++k, row -= stride, pixels += width) {
            for (size_t j = 0; j < whole; ++j) {
                uint64_t eight;
                std::memcpy(&eight, pixels + 8 * j, 8);
                row[j] = PackBits(eight);
            }
            if (rest != 0)
                PackPixels(row + whole, 0, 1, pixels + 8 * whole, rest);
            if (filled < stride)
                std::memset(row + filled, 0, stride - filled);
        }
        return;
    }
    for (int32_t k = 0; k < height; ++k) {
        const int32_t y = interlaced ? InterlacedRowAt(k, height) : k;
        uint8_t* row = block + size_t(height - 1 - y) * stride;
        const uint64_t first = uint64_t(k) * uint64_t(width);
        const auto n = uint32_t(std::min<uint64_t>(width, written - std::min(written, first)));
        // The row's last four bytes first, its fill bytes among them (a
        // stride is a multiple of four), then its pixels over them.
        const uint32_t zero = 0;
        std::memcpy(row + stride - 4, &zero, 4);
        size_t filled = 0;
        if (bits == 8) {
            std::memcpy(row, pixels + first, n);
            filled = n;
        } else if (bits == 1 && n % 8 == 0) {
            for (uint32_t i = 0; i < n; i += 8) {
                uint64_t eight;
                std::memcpy(&eight, pixels + first + i, 8);
                row[i / 8] = PackBits(eight);
            }
            filled = n / 8;
        } else if (n != 0) {
            PackPixels(row, 0, bits, pixels + first, n);
            filled = (size_t(n) * size_t(bits) + 7) / 8;
        }
        if (filled + 4 < stride)
            std::memset(row + filled, 0, stride - 4 - filled);
    }
}

void PlaceDecodedRows(uint8_t* block, int32_t width, int32_t height, int32_t bits, bool interlaced,
                      uint64_t written) {
    if (width <= 0 || height <= 0)
        return;
    const uint64_t rowBits = uint64_t(width) * uint64_t(bits);
    const size_t rowBytes = size_t((rowBits + 7) / 8);
    const auto stride = size_t(RasterStride(uint64_t(width), uint64_t(bits)));
    const uint64_t totalBits = rowBits * uint64_t(height);

    // What decoding did not reach reads 0.
    uint64_t from = std::min(written * uint64_t(bits), totalBits);
    if (from % 8 != 0) {
        block[from / 8] = uint8_t(block[from / 8] >> (8 - from % 8) << (8 - from % 8));
        from += 8 - from % 8;
    }
    const uint64_t usedBytes = (totalBits + 7) / 8;
    if (from / 8 < usedBytes)
        std::memset(block + from / 8, 0, size_t(usedBytes - from / 8));

    // Each row to the start of its stored row, the last first: a row only
    // moves forward, over space its successors have left. Its fill bytes,
    // and the bits of its last byte past its end, become 0.
    const auto lastBits = unsigned(rowBits % 8);
    // Rows whose length is a multiple of 4 bytes are in place already.
    for (int32_t y = rowBits == 8 * uint64_t(stride) ? -1 : height - 1; y >= 0; --y) {
        uint8_t* to = block + size_t(y) * stride;
        const uint64_t bit = uint64_t(y) * rowBits;
        const uint8_t* source = block + bit / 8;
        if (bit % 8 == 0) {
            if (source != to)
                std::memmove(to, source, rowBytes);
        } else {
            // Shifted into place from its last byte down: a target byte is
            // never before the source bytes it is made of.
            const auto shift = unsigned(bit % 8);
            const uint64_t available = usedBytes - bit / 8;
            for (size_t j = rowBytes; j-- > 0;) {
                const uint8_t next = j + 1 < available ? source[j + 1] : 0;
                to[j] = uint8_t(source[j] << shift | next >> (8 - shift));
            }
        }
        if (lastBits != 0)
            to[rowBytes - 1] = uint8_t(to[rowBytes - 1] >> (8 - lastBits) << (8 - lastBits));
        if (stride > rowBytes)
            std::memset(to + rowBytes, 0, stride - rowBytes);
    }

    // Then the rows into stored order: bottom-up, and image rows from the
    // order they were sent in.
    if (!interlaced) {
        for (int32_t y = 0; y < height / 2; ++y)
            SwapRows(block + size_t(y) * stride, block + size_t(height - 1 - y) * stride, stride);
        return;
    }
    // Row k of the decode order belongs in stored row height - 1 - its image
    // row; each cycle of that permutation is followed once.
    std::vector<uint8_t> held(stride);
    std::vector<bool> placed(size_t(height), false);
    for (int32_t k = 0; k < height; ++k) {
        if (placed[size_t(k)])
            continue;
        std::memcpy(held.data(), block + size_t(k) * stride, stride);
        int32_t at = k;
        do {
            const int32_t to = height - 1 - InterlacedRowAt(at, height);
            SwapRows(held.data(), block + size_t(to) * stride, stride);
            placed[size_t(to)] = true;
            at = to;
        } while (at != k);
    }
}

// Frames of up to this many pixels decode aside.
constexpr uint64_t SmallFramePixels = 8192;
// The block for one segment of a larger frame of 4 bits, in pixels.
constexpr uint64_t MinSegmentPixels = 32768;
constexpr uint64_t MaxSegmentPixels = 262144;

void DecodeFrameRaster(TMemoryStream& raster, const TRasterDestination& destination, bool interlaced,
                       bool acceptCorrupt, int pixelDepth, bool& corrupt, const TDecodeProgress* progress) {
    corrupt = false;
    const bool listening = progress && *progress;
    if (listening)
        (*progress)(psStarting, 0, std::string());
    // Failures before decoding leave the pixels all 0, as decoding that reached nothing.
    auto refuse = [&](auto error) {
        const int32_t bits = destination.PixelBits;
        if (bits == 1 || bits == 4 || bits == 8) {
            const uint64_t bytes = RasterStride(uint64_t(std::max(destination.PixelsPerRow, 0)), uint64_t(bits)) *
                                   uint64_t(std::max(destination.RowCount, 0));
            if (bytes != 0)
                std::memset(destination.Pixels, 0, size_t(bytes));
        }
        throw error;
    };
    try {
        const int32_t bits = destination.PixelBits;
        if (pixelDepth < 1 || pixelDepth > 8 || (bits != 1 && bits != 4 && bits != 8))
            refuse(EInvalidGraphicOperation(SWrongGIFColors));
        const int64_t start = raster.Position();
        const int64_t size = raster.Size();
        if (start >= size)
            refuse(EReadError(SReadError));
        const uint8_t* data = raster.Memory() + start;
        const auto length = static_cast<size_t>(size - start);

        uint32_t m = data[0];
        bool clamped = false;
        if (m < 2 || m > 9) {
            if (!acceptCorrupt)
                refuse(EInvalidGraphicOperation(SBadGIFCodeSize));
            clamped = true;
            m = std::clamp<uint32_t>(m, 2, 9);
        }

        const uint32_t clearCode = 1u << m;
        const uint32_t pixelMask = (1u << pixelDepth) - 1;
        // A colour table larger than the code size does not turn dictionary
        // codes into pixels: only codes below the clear code are roots.
        const uint32_t rootLimit = std::min(pixelMask, clearCode - 1);

        TDecodeJob d{};
        d.Source.Blocks.Next = data + 1;
        d.Source.Blocks.End = data + length;
        RasterCursor& c = d.Cursor;
        c.PixelsPerRow = std::max(destination.PixelsPerRow, 0);
        c.RowCount = std::max(destination.RowCount, 0);
        c.PixelBits = bits;
        c.Stride = static_cast<size_t>(RasterStride(uint64_t(c.PixelsPerRow), uint64_t(bits)));
        c.Pixels = destination.Pixels;
        c.Interlaced = interlaced;
        // A frame without columns has every row complete from the start.
        if (c.PixelsPerRow == 0)
            c.Row = c.RowCount;
        c.RowStart = c.Row < c.RowCount ? c.Pixels + size_t(c.RowCount - 1) * c.Stride : nullptr;
        d.PixelMask = pixelMask;
        d.RootLimit = rootLimit;
        d.ClearCode = clearCode;
        d.EndCode = clearCode + 1;
        d.FirstFree = clearCode + 2;
        d.InitialWidth = m + 1;
        d.AcceptCorrupt = acceptCorrupt;
        d.Corrupt = clamped;
        d.Progress = progress;
        d.Data = data;
        d.Size = length;
        const size_t blockSize = c.Stride * size_t(c.RowCount);
        const uint64_t framePixels = uint64_t(c.PixelsPerRow) * uint64_t(c.RowCount);

        uint32_t last = NoMoreCodes;
        bool decoded = false;
        // Clean data goes the linear way, straight into the pixel block; a
        // progress listener, a clamped code size and whatever the linear loop
        // gives up on go the general way, from the raster's start.
        if (!listening && !clamped && framePixels < TLinearTables<32>::NoString) {
            auto decode = [&](auto& tables) {
                constexpr int Position = std::remove_reference_t<decltype(tables)>::Bits;
                // Runs a linear loop over block; where it decodes the frame,
                // store turns what it wrote into stored rows.
                auto run = [&](auto linear, uint8_t* block, size_t capacity, auto store) {
                    linear.Linear = &tables;
                    linear.Source.Gathered = tables.Gathered;
                    linear.Block = block;
                    linear.Capacity = capacity;
                    last = linear.Run();
                    if (linear.Abandoned)
                        return;
                    decoded = true;
                    d.BitsTaken = linear.BitsTaken;
                    store(linear.Written);
                    if (linear.Written >= framePixels)
                        c.Row = c.RowCount;
                };
                auto place = [&](uint64_t written) {
                    PlaceDecodedRows(destination.Pixels, c.PixelsPerRow, c.RowCount, bits, interlaced, written);
                };
                if (framePixels <= SmallFramePixels) {
                    // Small frames decode a byte per pixel aside (whole bytes
                    // copy cheaper than bits shift) and then go to their rows
                    // in one pass.
                    uint8_t aside[SmallFramePixels + 32];
                    run(TLinearDecoder<8, Position>{d}, aside, sizeof aside, [&](uint64_t written) {
                        StoreRows(aside, written, destination.Pixels, c.PixelsPerRow, c.RowCount, bits, interlaced);
                    });
                    return;
                }
                if (bits == 8) {
                    run(TLinearDecoder<8, Position>{d}, destination.Pixels, blockSize, place);
                    return;
                }
                // Larger frames of 4 bits decode a byte per pixel too, a
                // segment (between clear codes) at a time, where a block for
                // a segment fits the memory their packed pixels save against
                // 8-bit ones and their segments look short enough for it: a
                // full table's 4096 codes take about 6 KB of data, which
                // holds this many pixels on average. Others decode packed (a
                // segment too long for the block starts the frame over,
                // packed), as do frames of 1 bit, whose strings are long and
                // whose packed rows are an eighth of a byte per pixel.
                const uint64_t segment = framePixels * 6144 / std::max<uint64_t>(length, 1);
                const uint64_t aside = bits == 4 ? std::min<uint64_t>(framePixels / 4, MaxSegmentPixels) : 0;
                if (aside >= MinSegmentPixels && 2 * segment <= aside) {
                    if (std::unique_ptr<uint8_t[]> block{new (std::nothrow) uint8_t[aside + 32]}) {
                        TLinearDecoder<8, Position> linear{d};
                        linear.PackInto = destination.Pixels;
                        linear.PackBits = bits;
                        run(linear, block.get(), aside + 32, place);
                    }
                }
                if (decoded)
                    return;
                if (bits == 4)
                    run(TLinearDecoder<4, Position>{d}, destination.Pixels, blockSize, place);
                else
                    run(TLinearDecoder<1, Position>{d}, destination.Pixels, blockSize, place);
            };
            // The smallest positions that serve the frame.
            if (framePixels < TLinearTables<16>::NoString) {
                TBorrowed<TLinearTables<16>> borrowed;
                decode(borrowed.Get());
            } else if (framePixels < TLinearTables<24>::NoString) {
                TBorrowed<TLinearTables<24>> borrowed;
                decode(borrowed.Get());
            } else {
                TBorrowed<TLinearTables<32>> borrowed;
                decode(borrowed.Get());
            }
        }
        if (!decoded) {
            // The general loop writes only what it decodes.
            if (blockSize != 0)
                std::memset(destination.Pixels, 0, blockSize);
            // The table is not cleared in full: see TChunkEntry.
            TBorrowed<TChunkTables> borrowed;
            TChunkTables& t = borrowed.Get();
            if (t.RootsClearCode != clearCode || t.RootsLimit != rootLimit) {
                for (uint32_t i = 0; i < clearCode + 2; ++i) {
                    TChunkEntry& root = t.Chunks[i];
                    root = TChunkEntry{};
                    root.Length = i <= rootLimit ? 1 : 0;
                    root.First = uint8_t(i);
                    root.Tail[0] = uint8_t(i);
                }
                t.RootsClearCode = clearCode;
                t.RootsLimit = rootLimit;
            }
            d.Tables = &t;
            d.Source.Gathered = t.Gathered;
            TDecoder general{d, TCodeReader{}};
            general.Reader.Next = t.Gathered;
            general.Reader.End = t.Gathered;
            general.Reader.CodeWidth = m + 1;
            general.Reader.CodeMask = (1u << (m + 1)) - 1;
            last = listening ? general.Run<true>() : general.Run<false>();
            general.BitsTaken = general.Reader.BitsTaken(general.Source);
            d = general;
        }

        // Leave the stream where a reader of whole sub-blocks would stand.
        TBlockPosition position{data, length};
        const uint64_t used = last == NoMoreCodes ? ~uint64_t(0) : d.BitsTaken;
        raster.SetPosition(start + int64_t(position.Advance(used)));

        // Data that ran out before the last row is damage; after it, a raster
        // merely lacks its end code.
        if (last == NoMoreCodes && c.Row < c.RowCount) {
            if (!acceptCorrupt)
                throw EInvalidGraphicOperation(SReadError);
            d.Corrupt = true;
        }
        corrupt = d.Corrupt;
    } catch (const Exception& e) {
        if (listening)
            (*progress)(psEnding, 0, e.Message());
        throw;
    }
    if (listening)
        (*progress)(psEnding, 100, std::string());
}
