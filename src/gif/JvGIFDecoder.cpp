#include "gif/JvGIFDecoder.h"

#include "gif/JvGIF.h"
#include "rtl/Errors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t MaxCodes = 4096;
constexpr uint32_t MaxCodeWidth = 12;
// The expansion stack: one string of at most 4096 pixels plus the pixel a
// not-yet-defined code appends; more means the dictionary runs in a circle.
constexpr uint32_t StackLimit = 4096;

// Dictionary and work space of one call, zero-filled when allocated.
struct TDecodeTables {
    uint16_t Prefix[MaxCodes];
    uint8_t Suffix[MaxCodes];
    // Length of a code's string and its first pixel, kept for the codes whose
    // prefix chain is known to be sound (strictly decreasing down to a pixel
    // code); 0 for every other code, which is expanded step by step instead.
    uint16_t Length[MaxCodes];
    uint8_t First[MaxCodes];
    uint8_t Stack[StackLimit + 8];
};

inline void Refill(CodeReaderState& s) {
    if constexpr (std::endian::native == std::endian::little) {
        if (s.BlockLeft >= 8) {
            uint64_t v;
            std::memcpy(&v, s.Next, 8);
            s.Window |= v << s.BitsHeld;
            const uint32_t n = (63 - s.BitsHeld) >> 3;
            s.Next += n;
            s.BlockLeft -= n;
            s.BitsHeld += 8 * n;
            s.BytesTaken += n;
            return;
        }
    }
    while (s.BitsHeld <= 56) {
        if (s.BlockLeft == 0) {
            if (s.Next >= s.End)
                return;
            // A length byte; zero lengths (the terminator too) add nothing.
            const uint32_t length = *s.Next++;
            const auto left = static_cast<uint32_t>(std::min<ptrdiff_t>(s.End - s.Next, 255));
            s.BlockLeft = std::min(length, left);
            continue;
        }
        s.Window |= uint64_t(*s.Next++) << s.BitsHeld;
        s.BitsHeld += 8;
        --s.BlockLeft;
        ++s.BytesTaken;
    }
}

inline uint32_t TakeCode(CodeReaderState& s) {
    if (s.BitsHeld < s.CodeWidth) {
        Refill(s);
        if (s.BitsHeld < s.CodeWidth)
            return NoMoreCodes;
    }
    const auto code = static_cast<uint32_t>(s.Window) & s.CodeMask;
    s.Window >>= s.CodeWidth;
    s.BitsHeld -= s.CodeWidth;
    return code;
}

// Where a reader that fetches whole sub-blocks only when short of bits would
// stand after being asked for bitsNeeded bits: the progress position.
struct TBlockPosition {
    const uint8_t* Data;
    size_t Size;
    size_t Position = 1;
    uint64_t BitsRead = 0;

    size_t Advance(uint64_t bitsNeeded) {
        while (BitsRead < bitsNeeded && Position < Size) {
            const size_t length = Data[Position++];
            const size_t taken = std::min(length, Size - Position);
            Position += taken;
            BitsRead += 8 * uint64_t(taken);
        }
        return Position;
    }
};

inline void AdvanceRow(RasterCursor& c) {
    c.Column = 0;
    c.Row = c.Interlaced ? NextInterlacedRow(c.Row, c.RowCount, c.Pass) : c.Row + 1;
    c.RowStart = c.Row < c.RowCount ? c.Pixels + size_t(c.RowCount - 1 - c.Row) * c.Stride : nullptr;
}

// Writes a run of pixels in order, across row ends, until the frame is complete.
inline void EmitRun(const uint8_t* pixels, uint32_t count, RasterCursor& c) {
    if (c.PixelBits == 8) {
        while (count != 0 && c.Row < c.RowCount) {
            const uint32_t room = uint32_t(c.PixelsPerRow - c.Column);
            const uint32_t n = std::min(count, room);
            std::memcpy(c.RowStart + c.Column, pixels, n);
            pixels += n;
            count -= n;
            c.Column += int32_t(n);
            if (c.Column == c.PixelsPerRow)
                AdvanceRow(c);
        }
        return;
    }
    for (uint32_t i = 0; i < count && c.Row < c.RowCount; ++i)
        EmitPixel(pixels[i], c);
}

// Writes the string of a sound code backwards, last pixel first, ending at out[0].
inline void WriteString(const TDecodeTables& t, uint32_t code, uint32_t length, uint8_t* out) {
    for (uint32_t i = length - 1; i > 0; --i) {
        out[i] = t.Suffix[code];
        code = t.Prefix[code];
    }
    out[0] = uint8_t(code);
}

struct TDecoder {
    CodeReaderState Reader;
    RasterCursor Cursor;
    TDecodeTables* Tables;
    uint32_t PixelMask;
    // Codes above this are strings of the dictionary, codes up to it pixels.
    uint32_t RootLimit;
    uint32_t ClearCode;
    uint32_t EndCode;
    uint32_t FirstFree;
    uint32_t InitialWidth;
    bool AcceptCorrupt;
    bool Corrupt;
    const TDecodeProgress* Progress;
    const uint8_t* Data;
    size_t Size;

    template <bool Listening>
    uint32_t Run();
};

template <bool Listening>
uint32_t TDecoder::Run() {
    TDecodeTables& t = *Tables;
    CodeReaderState& r = Reader;
    RasterCursor& c = Cursor;
    const uint32_t pixelMask = PixelMask;
    const uint32_t rootLimit = RootLimit;
    const bool bytePixels = c.PixelBits == 8;
    uint32_t nextFree = FirstFree;
    uint32_t widthLimit = 1u << r.CodeWidth;
    uint32_t previousCode = 0;
    uint32_t firstPixel = 0;
    bool tableFull = false;
    TBlockPosition position{Data, Size};

    uint32_t code = TakeCode(r);
    // A raster need not begin with a clear code: its first code is then a
    // pixel, as after a clear code, and adds no entry.
    if (code != ClearCode && code != EndCode && code != NoMoreCodes && c.Row < c.RowCount && !Corrupt) {
        previousCode = code;
        firstPixel = code & pixelMask;
        const uint8_t pixel = uint8_t(firstPixel);
        EmitRun(&pixel, 1, c);
        code = TakeCode(r);
        if constexpr (Listening) {
            const uint64_t needed = code == NoMoreCodes ? ~uint64_t(0) : 8 * r.BytesTaken - r.BitsHeld;
            (*Progress)(psRunning, uint8_t(double(position.Advance(needed)) / double(Size) * 100), std::string());
        }
    }
    while (code != EndCode && code != NoMoreCodes && c.Row < c.RowCount) {
        if (code == ClearCode) {
            r.CodeWidth = InitialWidth;
            widthLimit = 1u << r.CodeWidth;
            r.CodeMask = widthLimit - 1;
            nextFree = FirstFree;
            code = TakeCode(r);
            if (code == NoMoreCodes)
                break;
            // The code after a clear code is a pixel, whatever its value.
            previousCode = code;
            firstPixel = code & pixelMask;
            const uint8_t pixel = uint8_t(firstPixel);
            EmitRun(&pixel, 1, c);
            tableFull = false;
        } else {
            // A clamped code size: only the pixels right after clear codes count.
            if (Corrupt)
                break;
            const uint32_t incoming = code;
            uint32_t length = 0;
            uint32_t soundCode = 0;
            bool appendFirst = false;
            if (code < nextFree) {
                length = t.Length[code];
                soundCode = code;
            } else if (previousCode < nextFree && t.Length[previousCode] != 0) {
                // Not yet defined: the previous string and its own first pixel.
                length = t.Length[previousCode] + 1u;
                soundCode = previousCode;
                appendFirst = true;
            }
            if (length != 0) {
                const uint32_t newFirst = t.First[soundCode];
                const uint32_t room = uint32_t(c.PixelsPerRow - c.Column);
                if (bytePixels && length <= room) {
                    uint8_t* out = c.RowStart + c.Column;
                    if (appendFirst) {
                        out[length - 1] = uint8_t(firstPixel);
                        WriteString(t, soundCode, length - 1, out);
                    } else {
                        WriteString(t, soundCode, length, out);
                    }
                    c.Column += int32_t(length);
                    if (c.Column == c.PixelsPerRow)
                        AdvanceRow(c);
                } else {
                    uint8_t* out = t.Stack;
                    if (appendFirst) {
                        out[length - 1] = uint8_t(firstPixel);
                        WriteString(t, soundCode, length - 1, out);
                    } else {
                        WriteString(t, soundCode, length, out);
                    }
                    EmitRun(out, length, c);
                }
                firstPixel = newFirst;
            } else {
                // Step by step through the dictionary, as damaged data needs.
                uint32_t working = code;
                uint32_t depth = 0;
                uint8_t* stack = t.Stack;
                if (working >= nextFree) {
                    stack[depth++] = uint8_t(firstPixel);
                    working = previousCode;
                }
                while (working > rootLimit) {
                    if (depth > StackLimit) {
                        if (!AcceptCorrupt)
                            throw EInvalidGraphicOperation(SGIFDecodeError);
                        Corrupt = true;
                        break;
                    }
                    stack[depth++] = t.Suffix[working];
                    working = t.Prefix[working];
                }
                if (Corrupt)
                    break;
                firstPixel = working;
                stack[depth++] = uint8_t(working);
                std::reverse(stack, stack + depth);
                EmitRun(stack, depth, c);
            }
            if (!tableFull) {
                t.Prefix[nextFree] = uint16_t(previousCode);
                t.Suffix[nextFree] = uint8_t(firstPixel);
                if (previousCode < nextFree && t.Length[previousCode] != 0) {
                    t.Length[nextFree] = uint16_t(t.Length[previousCode] + 1);
                    t.First[nextFree] = t.First[previousCode];
                } else {
                    t.Length[nextFree] = 0;
                }
                ++nextFree;
                if (nextFree >= widthLimit) {
                    if (r.CodeWidth < MaxCodeWidth) {
                        ++r.CodeWidth;
                        widthLimit <<= 1;
                        r.CodeMask = widthLimit - 1;
                    } else {
                        tableFull = true;
                    }
                }
            }
            previousCode = incoming;
        }
        code = TakeCode(r);
        if constexpr (Listening) {
            const uint64_t needed = code == NoMoreCodes ? ~uint64_t(0) : 8 * r.BytesTaken - r.BitsHeld;
            const size_t at = position.Advance(needed);
            (*Progress)(psRunning, uint8_t(double(at) / double(Size) * 100), std::string());
        }
    }
    return code;
}

} // namespace

uint64_t RasterStride(uint64_t pixelsPerRow, uint64_t pixelBits) {
    return (pixelsPerRow * pixelBits + 31) / 32 * 4;
}

uint32_t NextCode(CodeReaderState& state) {
    return TakeCode(state);
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
        AdvanceRow(c);
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

void DecodeFrameRaster(TMemoryStream& raster, const TRasterDestination& destination, bool interlaced,
                       bool acceptCorrupt, int pixelDepth, bool& corrupt, const TDecodeProgress* progress) {
    corrupt = false;
    const bool listening = progress && *progress;
    if (listening)
        (*progress)(psStarting, 0, std::string());
    try {
        if (pixelDepth < 1 || pixelDepth > 8)
            throw EInvalidGraphicOperation(SWrongGIFColors);
        const int32_t bits = destination.PixelBits;
        if (bits != 1 && bits != 4 && bits != 8)
            throw EInvalidGraphicOperation(SWrongGIFColors);
        const int64_t start = raster.Position();
        const int64_t size = raster.Size();
        if (start >= size)
            throw EReadError(SReadError);
        const uint8_t* data = raster.Memory() + start;
        const auto length = static_cast<size_t>(size - start);

        uint32_t m = data[0];
        bool clamped = false;
        if (m < 2 || m > 9) {
            if (!acceptCorrupt)
                throw EInvalidGraphicOperation(SBadGIFCodeSize);
            clamped = true;
            m = std::clamp<uint32_t>(m, 2, 9);
        }

        auto tables = std::make_unique<TDecodeTables>();
        TDecodeTables& t = *tables;
        const uint32_t clearCode = 1u << m;
        const uint32_t pixelMask = (1u << pixelDepth) - 1;
        // A colour table larger than the code size does not turn dictionary
        // codes into pixels: only codes below the clear code are roots.
        const uint32_t rootLimit = std::min(pixelMask, clearCode - 1);
        for (uint32_t i = 0; i <= rootLimit; ++i) {
            t.Length[i] = 1;
            t.First[i] = uint8_t(i);
        }

        TDecoder d{};
        d.Reader.Next = data + 1;
        d.Reader.End = data + length;
        d.Reader.CodeWidth = m + 1;
        d.Reader.CodeMask = (1u << (m + 1)) - 1;
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
        d.Tables = &t;
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

        const uint32_t last = listening ? d.Run<true>() : d.Run<false>();

        // Leave the stream where a reader of whole sub-blocks would stand.
        TBlockPosition position{data, length};
        const uint64_t used = last == NoMoreCodes ? ~uint64_t(0) : 8 * d.Reader.BytesTaken - d.Reader.BitsHeld;
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
