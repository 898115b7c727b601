// The LZW decoding loop for frames of at most LinearLimit pixels.

#include "gif/JvGIFDecoderState.h"

#include "gif/JvGIF.h"
#include "rtl/Errors.h"

namespace {

// The pixels of a string past its first eight, eight at a time.
[[gnu::noinline]] void CopyRest(uint8_t* out, const uint8_t* from, uint32_t length) {
    for (uint32_t at = 8; at < length; at += 8)
        std::memcpy(out + at, from + at, 8);
}

// Copies a string of length pixels that ends at or before out, eight at a
// time; may write up to ChunkSlack bytes beyond it. Answers its first pixel.
// Long strings are rare in small frames: their loop stays out of the way of
// the common case's registers.
inline uint8_t CopyString(uint8_t* out, const uint8_t* from, uint32_t length) {
    uint64_t head;
    std::memcpy(&head, from, 8);
    std::memcpy(out, &head, 8);
    if (length > 8) [[unlikely]]
        CopyRest(out, from, length);
    if constexpr (std::endian::native == std::endian::little)
        return uint8_t(head);
    else
        return uint8_t(head >> 56);
}

} // namespace

// The decoding loop for frames of at most LinearLimit pixels, with the same
// results as the large-frame loop: the whole output stays in the buffer and
// reaches the rows at the end, and each entry points to where its string
// was written. As there, everything the common case changes lives in locals,
// and its two branches end alike on purpose.
template <bool Listening>
uint32_t TSmallFrameDecoder::Run() {
    TLinearTables& t = Tables->Linear;
    uint32_t* const spans = t.Spans;
    uint8_t* const stack = Tables->Stack;
    uint8_t* const base = t.Pixels;
    uint8_t* const buffer = base + LinearStart;
    TCodeReader r;
    r.Next = r.End = Source.Gathered;
    r.CodeWidth = InitialWidth;
    r.CodeMask = (1u << InitialWidth) - 1;
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
    uint32_t highWater = firstFree;
    // The string just written: its position | its length << 16 | its code
    // << 32, the length NotSound when it has no sound string. One register
    // for all three leaves the common case registers enough.
    uint64_t previous = NotSound << 16;
    TBlockPosition position{Data, Size};
    uint64_t left = c.Row < c.RowCount ? uint64_t(c.PixelsPerRow) * uint64_t(c.RowCount) : 0;
    // Where the next string goes in base, and up to where the common case
    // may write: fewer pixels than the frame still takes.
    uint32_t pos = LinearStart;
    uint32_t counted = LinearStart;
    uint32_t limit = LinearStart;
    auto count = [&] {
        left -= std::min<uint64_t>(left, pos - counted);
        counted = pos;
    };
    auto sync = [&] {
        count();
        limit = pos + (corrupt || left == 0 ? 0u : uint32_t(std::min<uint64_t>(LinearLimit, left - 1)));
    };
    auto flush = [&] {
        count();
        if (pos != LinearStart)
            c = EmitRun(c, buffer, pos - LinearStart);
    };
    // Adds the previous string and first, the first pixel of the string
    // written after it, as entry nextFree.
    auto addEntry = [&](uint32_t first) {
        spans[nextFree] = uint32_t(previous) + 0x10000;
        t.Prefix[nextFree] = uint16_t(previous >> 32);
        t.Suffix[nextFree] = uint8_t(first);
        ++nextFree;
    };
    // The same where the code width may grow or the table is full. The mask
    // is never above the last code, so a next free code below it means
    // neither, and the common case tests just that.
    auto addEntrySlowly = [&](uint32_t first) {
        if (nextFree >= MaxCodes)
            return;
        addEntry(first);
        if (nextFree > r.CodeMask && r.CodeWidth < MaxCodeWidth) {
            ++r.CodeWidth;
            r.CodeMask = 2 * r.CodeMask + 1;
        }
    };
    auto report = [&](uint32_t code) {
        const uint64_t needed = code == NoMoreCodes ? ~uint64_t(0) : r.BitsTaken(source);
        const size_t at = position.Advance(needed);
        (*Progress)(psRunning, uint8_t(double(at) / double(Size) * 100), std::string());
    };
    auto soundLength = [&](uint32_t code) {
        const uint32_t length = code < nextFree ? spans[code] >> 16 : 0u;
        return length != 0 ? length : NotSound;
    };

    uint32_t code = TakeCode(r, source);
    if (code != clearCode && code != endCode && code != NoMoreCodes && left != 0 && !corrupt) {
        previous = pos | soundLength(code) << 16 | uint64_t(code) << 32;
        base[pos++] = uint8_t(code & pixelMask);
        code = TakeCode(r, source);
        if constexpr (Listening)
            report(code);
    }
    sync();
    for (;;) {
        if (code < nextFree) {
            const uint32_t span = spans[code];
            const uint32_t length = span >> 16;
            if (length - 1 < limit - pos) {
                const uint8_t* from = base + (span & 0xFFFF);
                const uint32_t first = CopyString(base + pos, from, length);
                if (nextFree < r.CodeMask)
                    addEntry(first);
                else
                    addEntrySlowly(first);
                previous = pos | length << 16 | uint64_t(code) << 32;
                pos += length;
                code = TakeCode(r, source);
                if constexpr (Listening)
                    report(code);
                continue;
            }
        } else if (code == nextFree && (uint32_t(previous) >> 16) < limit - pos) {
            // Not yet defined: the previous string and its own first pixel.
            const uint32_t length = (uint32_t(previous) >> 16) + 1;
            const uint8_t* from = base + (previous & 0xFFFF);
            const uint8_t first = CopyString(base + pos, from, length - 1);
            base[pos + length - 1] = first;
            if (nextFree < r.CodeMask)
                addEntry(first);
            else
                addEntrySlowly(first);
            previous = pos | length << 16 | uint64_t(code) << 32;
            pos += length;
            code = TakeCode(r, source);
            if constexpr (Listening)
                report(code);
            continue;
        }
        count();
        if (code == endCode || code == NoMoreCodes || left == 0)
            break;
        const uint32_t at = pos;
        uint8_t* const out = base + pos;
        uint32_t previousCode = uint32_t(previous >> 32);
        if (code == clearCode) {
            r.CodeWidth = initialWidth;
            r.CodeMask = (1u << r.CodeWidth) - 1;
            highWater = std::max(highWater, nextFree);
            nextFree = firstFree;
            do
                code = TakeCode(r, source);
            while (code == clearCode);
            if (code == NoMoreCodes || code == endCode)
                break;
            previousCode = code;
            *out = uint8_t(code & pixelMask);
            ++pos;
        } else {
            if (corrupt)
                break;
            const uint32_t incoming = code;
            uint32_t length = 0;
            const uint8_t* from = nullptr;
            if (code < nextFree) {
                length = spans[code] >> 16;
                from = base + (spans[code] & 0xFFFF);
            }
            if (length != 0) {
                CopyString(out, from, length);
                pos += length;
            } else if (code >= nextFree && (uint32_t(previous) >> 16) != NotSound) {
                length = (uint32_t(previous) >> 16) + 1;
                from = base + (previous & 0xFFFF);
                CopyString(out, from, length - 1);
                out[length - 1] = *from;
                pos += length;
            } else {
                // Step by step through the dictionary, as damaged data needs:
                // the large-frame loop's walk over these tables. Shared through
                // one function, even out of line, it left large frames 5 to 25%
                // slower, the compiler placing that loop's registers worse.
                uint32_t working = code;
                uint32_t depth = 0;
                if (working >= nextFree) {
                    stack[depth++] = base[previous & 0xFFFF];
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
                        stack[depth++] = t.Suffix[working];
                        working = t.Prefix[working];
                    }
                }
                if (corrupt)
                    break;
                stack[depth++] = uint8_t(working);
                std::reverse_copy(stack, stack + depth, out);
                pos += depth;
            }
            addEntrySlowly(base[at]);
            previousCode = incoming;
        }
        previous = at | soundLength(previousCode) << 16 | uint64_t(previousCode) << 32;
        sync();
        code = TakeCode(r, source);
        if constexpr (Listening)
            report(code);
    }
    flush();
    BitsTaken = r.BitsTaken(source);
    Cursor = c;
    Corrupt = corrupt;
    return code;
}

template uint32_t TSmallFrameDecoder::Run<false>();
template uint32_t TSmallFrameDecoder::Run<true>();
