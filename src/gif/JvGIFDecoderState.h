#pragma once
// The LZW decoder's inside, shared by its two loops (the linear loop of clean
// data in JvGIFLinear.cpp, the general loop in JvGIFDecoder.cpp): the tables,
// the code reader and the decoder's record. Only those two files include it.

#include "gif/JvGIFDecoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

constexpr uint32_t MaxCodes = 4096;
constexpr uint32_t MaxCodeWidth = 12;
// The expansion stack: one string of at most 4096 pixels plus the pixel a
// not-yet-defined code appends; more means the dictionary runs in a circle.
constexpr uint32_t StackLimit = 4096;

// One dictionary entry of the general loop, in one 16-byte record so that
// adding an entry touches one cache line.
//
// Prefix and Suffix are the dictionary as the decoding rules define it:
// damaged data that reaches entries never assigned finds zeros there. Only
// the entries below FirstFree are cleared; entries from the high-water mark
// on count as zero without being read, which spares a frame the clearing of
// the whole table.
//
// The rest keeps the same string for fast output, for the codes whose prefix
// chain is known to be sound (strictly decreasing down to a root): the
// string's last one to eight pixels, the code of the part before them (a
// multiple of eight pixels long), its length and its first pixel. Every
// other code has Length 0 and is expanded step by step through Prefix and
// Suffix instead. Only entries below NextFree are ever read, so this part
// needs no clearing.
struct TChunkEntry {
    uint8_t Tail[8];
    uint16_t Length;
    uint16_t ChunkPrefix;
    uint8_t First;
    uint8_t Suffix;
    uint16_t Prefix;
};
static_assert(sizeof(TChunkEntry) == 16);

// Strings written with whole chunks may run up to this many bytes past their end.
constexpr uint32_t ChunkSlack = 7;
// The sub-blocks' data gathers without its length bytes in a buffer of this
// size, so that taking a code knows nothing of sub-blocks.
constexpr uint32_t GatherSize = 512;
// Taking a code answers this once the data cannot fill another code.
constexpr uint32_t NoMoreCodes = 0xFFFF;
// Decoded pixels gather in a buffer of this size before they reach the rows.
constexpr uint32_t OutputSize = 16384;
// A string the general path writes: the stack's worth, with the chunks' overrun.
constexpr uint32_t LongestWrite = StackLimit + 16;

// Work space of the general loop (about 90 KB), which decodes anything,
// damaged data included, and reports progress: entries that hold their
// strings' ends, and an output buffer emptied into the rows whenever it fills.
struct TChunkTables {
    TChunkEntry Chunks[MaxCodes];
    uint8_t Output[OutputSize + ChunkSlack + 1];
    uint8_t Stack[StackLimit + 16];
    uint8_t Gathered[GatherSize];
    // What the root entries were set up for; later codes never write there,
    // so the next decode with the same two reuses them. 0 when not set up.
    uint32_t RootsClearCode = 0;
    uint32_t RootsLimit = 0;
};

// Work space of the linear loop, small because a decoder's tables count
// against the memory a load takes (about 13 KB for frames of fewer than
// 65535 pixels, 17 KB up to 16 million, 21 KB beyond): per entry, where its
// string was first written (in pixels from the start of the frame; a root's,
// in a table of root pixels), in PositionBits bits, and its length,
// LongString for 255 and more. The length of a long one is where the next
// entry's string starts less where its own does, plus one: each entry is the
// string written before plus the first pixel of the string written right
// after it.
template <int PositionBits>
struct TLinearTables {
    static constexpr int Bits = PositionBits;
    using Low = std::conditional_t<PositionBits == 32, uint32_t, uint16_t>;
    Low Positions[MaxCodes];
    // The bits of a position above 16, for 24-bit positions.
    uint8_t High[PositionBits == 24 ? MaxCodes : 1];
    // Whole lengths where the positions take 16 bits (the tables stay
    // small), LongString for long ones where they take more.
    using Length = std::conditional_t<PositionBits == 16, uint16_t, uint8_t>;
    Length Lengths[MaxCodes];
    static constexpr bool WholeLengths = PositionBits == 16;
    uint8_t Gathered[GatherSize];
    // What the entries below the first free code were set up for; later
    // codes never write there. 0 when not set up.
    uint32_t RootsClearCode = 0;
    uint32_t RootsLimit = 0;

    // The position of the codes below the clear code that are no root (and
    // of the clear and end codes), which have no string of their own: beyond
    // every frame these tables serve.
    static constexpr uint32_t NoString = PositionBits == 32 ? 0xFFFFFFFF : (1u << PositionBits) - 1;

    uint32_t Position(uint32_t code) const {
        if constexpr (PositionBits == 24)
            return Positions[code] | uint32_t(High[code]) << 16;
        else
            return Positions[code];
    }
    void SetPosition(uint32_t code, uint32_t at) {
        Positions[code] = Low(at);
        if constexpr (PositionBits == 24)
            High[code] = uint8_t(at >> 16);
    }
};
constexpr uint32_t LongString = 255;

// Walks the raster's sub-blocks once, handing out their data.
struct TSubBlocks {
    const uint8_t* Next; // next unread byte of the raster stream
    const uint8_t* End;
    uint32_t BlockLeft = 0; // data bytes left in the current sub-block

    // Copies up to room data bytes to out; fewer only where the data ends.
    size_t Gather(uint8_t* out, size_t room) {
        size_t filled = 0;
        while (filled < room) {
            if (BlockLeft == 0) {
                if (Next >= End)
                    break;
                // A length byte; zero lengths (the terminator too) add nothing.
                const uint32_t length = *Next++;
                BlockLeft = uint32_t(std::min<ptrdiff_t>(length, End - Next));
                continue;
            }
            const size_t n = std::min<size_t>(BlockLeft, room - filled);
            std::memcpy(out + filled, Next, n);
            Next += n;
            BlockLeft -= uint32_t(n);
            filled += n;
        }
        return filled;
    }
};

// What a code reader needs only when its gathered data runs short.
struct TCodeSource {
    TSubBlocks Blocks;
    uint8_t* Gathered;
    uint64_t TakenBefore = 0; // data bytes dropped from Gathered before its current data
};

// Reads codes least significant bit first from the gathered data, holding up
// to 64 bits.
struct TCodeReader {
    const uint8_t* Next = nullptr; // next gathered byte not yet in Window
    const uint8_t* End = nullptr;  // end of the gathered data
    uint64_t Window = 0;           // bits read but not yet taken, the next one in bit 0
    uint32_t BitsHeld = 0;
    uint32_t CodeWidth = 3;
    uint32_t CodeMask = 7;

    uint64_t BitsTaken(const TCodeSource& source) const {
        return 8 * (source.TakenBefore + uint64_t(Next - source.Gathered)) - BitsHeld;
    }
};

// Moves the next bytes into the window: eight at a time where eight are
// gathered; the extra bits above BitsHeld are the data that follows, so
// that a later read ORs the same bits over them.
inline bool FillQuickly(TCodeReader& s) {
    if constexpr (std::endian::native == std::endian::little) {
        if (s.End - s.Next >= 8) {
            uint64_t v;
            std::memcpy(&v, s.Next, 8);
            s.Window |= v << s.BitsHeld;
            const uint32_t n = (63 - s.BitsHeld) >> 3;
            s.Next += n;
            s.BitsHeld += 8 * n;
            return true;
        }
    }
    return false;
}

// Gathers more data, then fills the window as far as the data goes; state
// goes in and out by value so that the decoder's own copy stays in registers.
// Local to each file that includes it, so each loop's calls stay local.
static TCodeReader Refill(TCodeReader s, TCodeSource& source) {
    if (s.End - s.Next < 8) {
        const auto keep = size_t(s.End - s.Next);
        source.TakenBefore += uint64_t(s.Next - source.Gathered);
        std::memmove(source.Gathered, s.Next, keep);
        s.Next = source.Gathered;
        s.End = source.Gathered + keep + source.Blocks.Gather(source.Gathered + keep, GatherSize - keep);
    }
    if (!FillQuickly(s)) {
        while (s.BitsHeld <= 56 && s.Next < s.End) {
            s.Window |= uint64_t(*s.Next++) << s.BitsHeld;
            s.BitsHeld += 8;
        }
    }
    return s;
}

// The next code of CodeWidth bits, or NoMoreCodes when the data holds fewer bits.
inline uint32_t TakeCode(TCodeReader& s, TCodeSource& source) {
    if (s.BitsHeld < s.CodeWidth && !FillQuickly(s)) {
        s = Refill(s, source);
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

// Writes a run of pixels in order, across row ends, until the frame is complete.
RasterCursor EmitRun(RasterCursor c, const uint8_t* pixels, uint32_t count);
// Packs count pixels of 1 or 4 bits into row from pixel column on, as
// EmitPixel would one by one.
void PackRun(uint8_t* row, uint64_t column, int32_t bits, const uint8_t* pixels, uint32_t count);

// What a decoding loop works from, and what it reports back.
struct TDecodeJob {
    TCodeSource Source;
    RasterCursor Cursor;
    TChunkTables* Tables;
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
    // The bits of data the decode took, set when it ends.
    uint64_t BitsTaken = 0;
};

// The linear loop over data that needs no step-by-step expansion, for frames
// of Bits bits per pixel and fewer pixels than NoString: every string is written once into the pixel block
// itself, top row first in decode order, rows unpadded and packed; an entry
// is where its string was first written. Answers the last code taken, or
// sets Abandoned and stops where the data needs the general loop.
template <int Bits, int PositionBits>
struct TLinearDecoder : TDecodeJob {
    TLinearTables<PositionBits>* Linear = nullptr;
    // The pixel block: Capacity bytes from Block.
    uint8_t* Block = nullptr;
    size_t Capacity = 0;
    // When set, the frame's pixels go here, PackBits bits each, and Block
    // holds one segment of them (between clear codes) at a time.
    uint8_t* PackInto = nullptr;
    int32_t PackBits = 8;
    // Pixels written, from the start of the block.
    uint64_t Written = 0;
    bool Abandoned = false;

    uint32_t Run();
};
