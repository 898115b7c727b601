// The linear LZW decoding loop: clean data decoded straight into the frame's
// pixel block, each string copied from where it was first written.

#include "gif/JvGIFDecoderState.h"

namespace {

// The tail of a string past its first sixteen pixels: a string always ends
// before the place it is copied to, so long ones are one memcpy.
typedef uint8_t TBytes16 __attribute__((vector_size(16)));

[[gnu::noinline]] void CopyRest(uint8_t* out, const uint8_t* from, uint32_t length) {
    if (length > 80) {
        std::memcpy(out + 16, from + 16, length - 16);
        return;
    }
    for (uint32_t at = 16; at < length; at += 16) {
        TBytes16 bytes;
        std::memcpy(&bytes, from + at, 16);
        std::memcpy(out + at, &bytes, 16);
    }
}

// out[i] = in[i] << shift | in[i + 1] >> (8 - shift) for i below count,
// sixteen at a time: up to 15 bytes more are written, and 17 more read. The
// source lies at least 32 bytes before the target or elsewhere, so what a
// step reads was not written by the steps before it.
[[gnu::noinline]] void ShiftBytes(uint8_t* out, const uint8_t* in, unsigned shift, size_t count) {
    if (shift == 0) {
        std::memcpy(out, in, count);
        return;
    }
    for (size_t i = 0; i < count; i += 16) {
        TBytes16 a, b;
        std::memcpy(&a, in + i, 16);
        std::memcpy(&b, in + i + 1, 16);
        const TBytes16 bytes = (a << shift) | (b >> (8 - shift));
        std::memcpy(out + i, &bytes, 16);
    }
}

uint64_t LoadBigEndian(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        v = __builtin_bswap64(v);
    return v;
}

void StoreBigEndian(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::little)
        v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

// Pixels of Bits bits in a block, packed from the high bits of each byte as
// the stored rows are. Copy takes a source that ends at or before the
// destination (or lies elsewhere) and may write up to 24 bytes past the
// copy's end; the bits of the destination's first byte before it stay.
template <int Bits>
struct TPacked {
    static constexpr uint32_t Mask = (1u << Bits) - 1;

    static uint32_t Get(const uint8_t* block, uint64_t at) {
        const uint64_t bit = at * Bits;
        return uint32_t(block[bit / 8] >> (8 - Bits - bit % 8)) & Mask;
    }
    // The bits after the pixel in its byte become 0.
    static void Put(uint8_t* block, uint64_t at, uint32_t value) {
        const uint64_t bit = at * Bits;
        const unsigned used = unsigned(bit % 8);
        uint8_t& byte = block[bit / 8];
        const auto kept = uint8_t(used == 0 ? 0 : byte >> (8 - used) << (8 - used));
        byte = uint8_t(kept | (value & Mask) << (8 - Bits - used));
    }
    // 56 bits at a time through one 64-bit word of each side; long strings,
    // from the first byte boundary on, sixteen bytes at a time.
    static void Copy(uint8_t* block, uint64_t to, const uint8_t* base, uint64_t from, uint32_t count) {
        uint64_t target = to * Bits;
        uint64_t source = from * Bits;
        const uint64_t end = target + uint64_t(count) * Bits;
        if (count * Bits >= 256) {
            Step(block, target, base, source);
            const uint64_t aligned = 56 - target % 8;
            ShiftBytes(block + (target + aligned) / 8, base + (source + aligned) / 8,
                       unsigned((source + aligned) % 8), size_t((end - target - aligned + 7) / 8));
            return;
        }
        do {
            Step(block, target, base, source);
            target += 56;
            source += 56;
        } while (target < end);
    }
    // At least 56 bits from source to target.
    static void Step(uint8_t* block, uint64_t target, const uint8_t* base, uint64_t source) {
        const uint64_t bits = LoadBigEndian(base + source / 8) << (source % 8);
        uint8_t* out = block + target / 8;
        const unsigned used = unsigned(target % 8);
        const uint64_t kept = uint64_t(*out >> (8 - used) << (8 - used)) << 56;
        StoreBigEndian(out, kept | bits >> used);
    }
    // The same without writing past the copy's last byte: the words go to a
    // scratch copy of the bytes it covers.
    static void CopyExactly(uint8_t* block, uint64_t to, const uint8_t* base, uint64_t from, uint32_t count) {
        uint8_t scratch[MaxCodes * Bits / 8 + 48];
        const uint64_t first = to * Bits / 8;
        const uint64_t last = ((to + count) * Bits + 7) / 8;
        scratch[0] = block[first];
        Copy(scratch, to - first * 8 / Bits, base, from, count);
        std::memcpy(block + first, scratch, size_t(last - first));
    }
};

template <>
struct TPacked<8> {
    static uint32_t Get(const uint8_t* block, uint64_t at) { return block[at]; }
    static void Put(uint8_t* block, uint64_t at, uint32_t value) { block[at] = uint8_t(value); }
    // Long strings are rare in most pictures: their loop stays out of the
    // way of the common case's registers.
    static void Copy(uint8_t* block, uint64_t to, const uint8_t* base, uint64_t from, uint32_t count) {
        TBytes16 head;
        std::memcpy(&head, base + from, 16);
        std::memcpy(block + to, &head, 16);
        if (count > 16) [[unlikely]]
            CopyRest(block + to, base + from, count);
    }
    static void CopyExactly(uint8_t* block, uint64_t to, const uint8_t* base, uint64_t from, uint32_t count) {
        std::memcpy(block + to, base + from, count);
    }
};

// Masks[n]: the first n bytes set.
struct TKeepBelow {
    alignas(16) uint8_t Masks[17][16] = {};
    constexpr TKeepBelow() {
        for (int length = 0; length <= 16; ++length)
            for (int i = 0; i < length; ++i)
                Masks[length][i] = 0xFF;
    }
};
constexpr TKeepBelow KeepBelow{};

// The first sixteen pixels of the string that the code for "not yet defined"
// means, the last string and its own first pixel, from the last string's
// first sixteen (of which length are its own) as a register holds them: a
// run of one colour, such strings only, then never reads back what it has
// just written (a read that straddles the latest writes waits for them to
// reach the cache). The bytes past the new string's end are its first pixel
// too; what follows overwrites them. In place, because a vector passed or
// returned by value has another calling convention where the target has no
// SSE (i686), which the compiler warns of.
inline void AppendFirst(TBytes16& head, uint32_t length) {
    const TBytes16 first = TBytes16{} + head[0];
    TBytes16 keep;
    std::memcpy(&keep, KeepBelow.Masks[length], 16);
    head = (head & keep) | (first & ~keep);
}

// Every root pixel at its own position, Bits bits each, and room for a
// whole copy read past the last.
template <int Bits>
struct TRootPixels {
    uint8_t Bytes[256 * Bits / 8 + 16] = {};
    constexpr TRootPixels() {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t bit = i * Bits;
            Bytes[bit / 8] = uint8_t(Bytes[bit / 8] | (i & ((1u << Bits) - 1)) << (8 - Bits - bit % 8));
        }
    }
};
template <int Bits>
constexpr TRootPixels<Bits> RootPixels{};

// A length as the tables keep it: whole, or LongString for 255 and more,
// without a branch.
template <typename Tables>
inline typename Tables::Length KeptLength(uint32_t length) {
    if constexpr (Tables::WholeLengths) {
        return typename Tables::Length(length);
    } else {
        static_assert(LongString == 255);
        return uint8_t(length | (0u - uint32_t(length > LongString)));
    }
}

} // namespace

// Every code's string is copied from where the dictionary says it was first
// written (a root's from a table of root pixels), so that adding an entry is
// two stores and writing a string one copy, roots and entries alike. Codes
// the rules leave to a step-by-step walk (damaged data, codes between the
// colour table and the clear code) are not taken here: the loop gives up and
// the general loop decodes the frame from its start. Everything the common
// case changes lives in locals, and its two branches end alike on purpose,
// as in the general loop.
template <int Bits, int PositionBits>
uint32_t TLinearDecoder<Bits, PositionBits>::Run() {
    using Pixels = TPacked<Bits>;
    // Both arrays through the one pointer to the tables: a register fewer.
    TLinearTables<PositionBits>& t = *Linear;
    constexpr uint32_t NoString = TLinearTables<PositionBits>::NoString;
    uint8_t* const block = Block;
    const uint8_t* const roots = RootPixels<Bits>.Bytes;
    TCodeReader r;
    r.Next = r.End = Source.Gathered;
    r.CodeWidth = InitialWidth;
    r.CodeMask = (1u << InitialWidth) - 1;
    TCodeSource& source = Source;
    const uint32_t rootLimit = RootLimit;
    const uint32_t clearCode = ClearCode;
    const uint32_t endCode = EndCode;
    const uint32_t firstFree = FirstFree;
    const uint32_t initialWidth = InitialWidth;
    const RasterCursor& c = Cursor;
    // The frame's pixels from where the block starts (packed ones go before
    // it, a whole segment at a time).
    auto total = uint32_t(c.Row < c.RowCount ? uint64_t(c.PixelsPerRow) * uint64_t(c.RowCount) : 0);
    // The common case writes whole words past a string's end: it stops 32
    // bytes short of the block's end, and short of the frame's last pixel,
    // which the careful path writes.
    const uint64_t room = Capacity > 32 ? (Capacity - 32) * 8 / Bits : 0;
    const auto capacity = uint32_t(std::min<uint64_t>(Capacity * 8 / Bits, 0xFFFFFFFF));
    auto fastEnd = uint32_t(std::min<uint64_t>(room, total == 0 ? 0 : total - 1));
    if (Linear->RootsClearCode != clearCode || Linear->RootsLimit != rootLimit) {
        for (uint32_t i = 0; i < clearCode + 2; ++i) {
            t.SetPosition(i, i <= rootLimit ? i : NoString);
            t.Lengths[i] = 1;
        }
        Linear->RootsClearCode = clearCode;
        Linear->RootsLimit = rootLimit;
    }
    uint32_t nextFree = firstFree;
    // Where the next string goes; where the last one went, and its length.
    uint32_t pos = 0;
    uint32_t previousPos = 0;
    uint32_t previousLength = 0;
    // Where the string after the last entry went, once the table is full.
    uint32_t lastEntryEnd = 0;
    // Pixels packed out of the block so far.
    uint64_t packed = 0;
    // Packs the pixels of the block, all of a segment's, and starts the block anew.
    auto pack = [&] {
        PackRun(PackInto, packed, PackBits, block, pos);
        packed += pos;
        total -= pos;
        pos = 0;
        fastEnd = uint32_t(std::min<uint64_t>(room, total == 0 ? 0 : total - 1));
    };

    // The entry nextFree is the previous string and the first pixel of the
    // string at pos. The mask is never above the last code, so a next free
    // code below it means the code width stays and the table is not full,
    // and the common case tests just that.
    auto add = [&] {
        if (nextFree < r.CodeMask) [[likely]] {
            t.Lengths[nextFree] = KeptLength<TLinearTables<PositionBits>>(previousLength + 1);
            t.SetPosition(nextFree++, previousPos);
            return;
        }
        if (nextFree >= MaxCodes)
            return;
        t.Lengths[nextFree] = KeptLength<TLinearTables<PositionBits>>(previousLength + 1);
        t.SetPosition(nextFree++, previousPos);
        if (nextFree == MaxCodes)
            lastEntryEnd = pos;
        if (nextFree > r.CodeMask && r.CodeWidth < MaxCodeWidth) {
            ++r.CodeWidth;
            r.CodeMask = 2 * r.CodeMask + 1;
        }
    };
    // An entry's length: a long one ends where the next one starts (the
    // newest, where the string after it was written: the last string, or
    // once the table is full the one written when it filled).
    auto lengthOf = [&](uint32_t code) {
        const uint32_t length = t.Lengths[code];
        if (TLinearTables<PositionBits>::WholeLengths || length != LongString) [[likely]]
            return length;
        const uint32_t next = code + 1 < nextFree   ? t.Position(code + 1)
                              : nextFree == MaxCodes ? lastEntryEnd
                                                     : previousPos;
        return next - t.Position(code) + 1;
    };
    // The first string after a clear code, or of the raster: one pixel.
    // Eight-bit pixels: the first sixteen bytes of the string at previousPos
    // as written. The careful path below leaves it stale, but after that
    // path the common case comes back only after a clear code, whose first
    // string sets it.
    [[maybe_unused]] TBytes16 head{};
    auto first = [&](uint32_t code) {
        Pixels::Put(block, pos, code);
        if constexpr (Bits == 8)
            std::memcpy(&head, roots + code, 16);
        previousPos = pos++;
        previousLength = 1;
    };
    auto abandon = [&] {
        Abandoned = true;
        return NoMoreCodes;
    };

    uint32_t code = TakeCode(r, source);
    // A raster need not begin with a clear code: its first code is then a
    // pixel, as after a clear code, and adds no entry.
    if (code != clearCode && code != endCode && code != NoMoreCodes && total != 0) {
        if (code > rootLimit)
            return abandon();
        first(code);
        code = TakeCode(r, source);
    }
    for (;;) {
        if (code < nextFree) {
            // Roots and entries come mixed: their source is selected, not branched on.
            const uint32_t at = t.Position(code);
            const uint32_t length = lengthOf(code);
            const uint8_t* const from = code >= firstFree ? block : roots;
            if (at != NoString && pos + length <= fastEnd) {
                if constexpr (Bits == 8) {
                    std::memcpy(&head, from + at, 16);
                    std::memcpy(block + pos, &head, 16);
                    if (length > 16) [[unlikely]]
                        CopyRest(block + pos, from + at, length);
                } else {
                    Pixels::Copy(block, pos, from, at, length);
                }
                add();
                previousPos = pos;
                previousLength = length;
                pos += length;
                code = TakeCode(r, source);
                continue;
            }
        } else if (code == nextFree && pos + previousLength + 1 <= fastEnd) {
            // Not yet defined: the previous string and its own first pixel.
            if constexpr (Bits == 8) {
                if (previousLength < 16) [[likely]] {
                    AppendFirst(head, previousLength);
                    std::memcpy(block + pos, &head, 16);
                } else {
                    std::memcpy(block + pos, &head, 16);
                    if (previousLength > 16)
                        CopyRest(block + pos, block + previousPos, previousLength);
                    block[pos + previousLength] = head[0];
                }
            } else {
                Pixels::Copy(block, pos, block, previousPos, previousLength);
                Pixels::Put(block, pos + previousLength, Pixels::Get(block, previousPos));
            }
            add();
            previousPos = pos;
            previousLength += 1;
            pos += previousLength;
            code = TakeCode(r, source);
            continue;
        }
        if (code == endCode || code == NoMoreCodes || pos >= total)
            break;
        if (code == clearCode) {
            // No entry reaches back past a clear code.
            if (PackInto)
                pack();
            r.CodeWidth = initialWidth;
            r.CodeMask = (1u << r.CodeWidth) - 1;
            nextFree = firstFree;
            // Encoders may send clear codes back to back; each one only
            // clears, and an end code right after a clear ends the raster.
            do
                code = TakeCode(r, source);
            while (code == clearCode);
            if (code == NoMoreCodes || code == endCode)
                break;
            if (code > rootLimit)
                return abandon();
            first(code);
        } else if ((code < nextFree && t.Position(code) != NoString) || (code == nextFree && previousLength != 0)) {
            // Near the block's end or the frame's last pixel: exactly, and no
            // further than the frame.
            const uint32_t length = code < nextFree ? lengthOf(code) : previousLength + 1;
            const uint32_t n = std::min(length, total - pos);
            // A segment larger than the block: the frame goes another way.
            if (n > capacity - pos)
                return abandon();
            if (code < nextFree) {
                Pixels::CopyExactly(block, pos, code < firstFree ? roots : block, t.Position(code), n);
            } else {
                Pixels::CopyExactly(block, pos, block, previousPos, std::min(n, previousLength));
                if (n > previousLength)
                    Pixels::Put(block, pos + previousLength, Pixels::Get(block, previousPos));
            }
            add();
            previousPos = pos;
            previousLength = length;
            pos += n;
        } else {
            return abandon();
        }
        code = TakeCode(r, source);
    }
    if (PackInto)
        pack();
    Written = packed + pos;
    BitsTaken = r.BitsTaken(source);
    return code;
}

template uint32_t TLinearDecoder<1, 16>::Run();
template uint32_t TLinearDecoder<4, 16>::Run();
template uint32_t TLinearDecoder<8, 16>::Run();
template uint32_t TLinearDecoder<1, 24>::Run();
template uint32_t TLinearDecoder<4, 24>::Run();
template uint32_t TLinearDecoder<8, 24>::Run();
template uint32_t TLinearDecoder<1, 32>::Run();
template uint32_t TLinearDecoder<4, 32>::Run();
template uint32_t TLinearDecoder<8, 32>::Run();
