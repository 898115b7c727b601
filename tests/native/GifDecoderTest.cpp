// The LZW raster decoder through DecodeFrameRaster and its helpers.

#include "GifWriter.h"
#include "gif/JvGIF.h"
#include "gif/JvGIFDecoder.h"
#include "rtl/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

using gifwriter::Bytes;
using gifwriter::PackCodes;
using gifwriter::PackWidths;
using gifwriter::RasterBlock;
using gifwriter::RootCodes;

namespace {

struct Decoded {
    Bytes Pixels;
    bool Corrupt = false;
    int64_t Position = 0;
};

TMemoryStream StreamOf(const Bytes& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    return s;
}

Decoded Decode(const Bytes& raster, int width, int height, int pixelBits, int depth, bool interlaced = false,
               bool accept = true, const TDecodeProgress* progress = nullptr) {
    TMemoryStream stream = StreamOf(raster);
    Decoded d;
    // Not zero-filled: the decoder writes every byte. The rows lie between
    // two guards, so that a row stored outside them fails here, whatever
    // lies next to the block.
    const size_t bytes = size_t(RasterStride(uint64_t(width), uint64_t(pixelBits)) * uint64_t(height));
    const size_t guard = 64 + bytes;
    Bytes block(guard + bytes + guard, 0xA5);
    TRasterDestination dest{width, height, pixelBits, block.data() + guard};
    DecodeFrameRaster(stream, dest, interlaced, accept, depth, d.Corrupt, progress);
    d.Position = stream.Position();
    d.Pixels.assign(block.begin() + ptrdiff_t(guard), block.begin() + ptrdiff_t(guard + bytes));
    block.erase(block.begin() + ptrdiff_t(guard), block.begin() + ptrdiff_t(guard + bytes));
    EXPECT_EQ(std::count_if(block.begin(), block.end(), [](uint8_t b) { return b != 0xA5; }), 0)
        << "bytes stored outside the frame's rows";
    return d;
}

// One byte per pixel, one row: the decoded indices in data order.
Bytes Row(const Bytes& raster, int width, int depth, bool* corrupt = nullptr) {
    Decoded d = Decode(raster, width, 1, 8, depth);
    if (corrupt)
        *corrupt = d.Corrupt;
    d.Pixels.resize(size_t(width));
    return d.Pixels;
}

} // namespace

TEST(GifDecoder, WorkedExampleGrowsWidthAndLeavesTerminatorUnread) {
    const Bytes raster{0x02, 0x02, 0x8C, 0x53, 0x00};
    std::vector<std::tuple<int, int, std::string>> reports;
    TDecodeProgress progress = [&](TProgressStage stage, uint8_t percent, const std::string& message) {
        reports.emplace_back(stage, percent, message);
    };
    Decoded d = Decode(raster, 4, 1, 4, 2, false, true, &progress);
    EXPECT_EQ(d.Pixels, (Bytes{0x11, 0x11, 0x00, 0x00})) << "four pixels of index 1, padded to 4 bytes";
    EXPECT_FALSE(d.Corrupt);
    EXPECT_EQ(d.Position, 4) << "the terminator stays unread";
    // Start, one report per code read in the loop (the sub-block is read
    // whole at the first code: 4 of 5 bytes), end.
    const std::vector<std::tuple<int, int, std::string>> expected{
        {psStarting, 0, ""}, {psRunning, 80, ""}, {psRunning, 80, ""}, {psRunning, 80, ""}, {psEnding, 100, ""}};
    EXPECT_EQ(reports, expected);

    Decoded quiet = Decode(raster, 4, 1, 4, 2);
    EXPECT_EQ(quiet.Pixels, d.Pixels) << "no listener, same pixels";
    EXPECT_EQ(quiet.Position, 4);
}

TEST(GifDecoder, InterlacedRowOrders) {
    const std::vector<std::vector<int>> orders{
        {0}, {0, 1}, {0, 2, 1}, {0, 2, 1, 3}, {0, 4, 2, 1, 3}, {0, 8, 4, 2, 6, 1, 3, 5, 7}};
    for (const auto& order : orders) {
        const int rows = int(order.size());
        SCOPED_TRACE(std::to_string(rows) + " rows");
        // Pixel k of the data carries the value k + 1.
        Bytes pixels;
        for (int k = 0; k < rows; ++k)
            pixels.push_back(uint8_t(k + 1));
        Decoded d = Decode(RasterBlock(4, PackCodes(4, RootCodes(4, pixels))), 1, rows, 8, 4, true);
        EXPECT_FALSE(d.Corrupt) << rows << " rows";
        for (int k = 0; k < rows; ++k) {
            const int storedRow = rows - 1 - order[size_t(k)];
            EXPECT_EQ(d.Pixels[size_t(storedRow) * 4], k + 1) << rows << " rows, data row " << k;
        }
        // The helper alone, from row 0 and pass 0.
        int pass = 0;
        int row = 0;
        std::vector<int> walked{0};
        while ((row = NextInterlacedRow(row, rows, pass)) < rows)
            walked.push_back(row);
        EXPECT_EQ(walked, order) << rows << " rows through NextInterlacedRow";
    }
}

TEST(GifDecoder, WidthGrowsAfterEntry63ForCodeSize5) {
    // Clear, then the roots 0..30 at 6 bits add entries 34..63 (entry 34 + j
    // is j, j + 1); the code after entry 63 is read at 7 bits.
    std::vector<std::pair<uint32_t, int>> codes{{32, 6}};
    for (uint32_t v = 0; v <= 30; ++v)
        codes.emplace_back(v, 6);
    codes.emplace_back(63, 7);
    codes.emplace_back(33, 7);
    bool corrupt = true;
    Bytes row = Row(RasterBlock(5, PackWidths(codes)), 33, 5, &corrupt);
    Bytes expected;
    for (uint8_t v = 0; v <= 30; ++v)
        expected.push_back(v);
    expected.push_back(29);
    expected.push_back(30);
    EXPECT_EQ(row, expected);
    EXPECT_FALSE(corrupt);
}

TEST(GifDecoder, TableFullKeepsTwelveBitsUntilClear) {
    // m = 8: roots c0..c3838 fill entries 258..4095 (entry 258 + j is cj, cj+1).
    std::vector<std::pair<uint32_t, int>> codes{{256, 9}};
    Bytes expected;
    int width = 9;
    uint32_t nextFree = 258;
    for (uint32_t j = 0; j <= 3838; ++j) {
        const uint32_t c = (j * 7) % 256;
        codes.emplace_back(c, width);
        expected.push_back(uint8_t(c));
        if (j > 0 && ++nextFree >= (1u << width) && width < 12)
            ++width;
    }
    ASSERT_EQ(nextFree, 4096u);
    ASSERT_EQ(width, 12);
    auto c = [](uint32_t j) { return uint8_t((j * 7) % 256); };
    // Full: 4095 is the last entry, 300 an early one; nothing is added, 12 bits stay.
    codes.insert(codes.end(), {{4095, 12}, {300, 12}, {256, 12}, {7, 9}, {258, 9}, {257, 9}});
    for (uint8_t v : {c(3837), c(3838), c(42), c(43), uint8_t(7), uint8_t(7), uint8_t(7)})
        expected.push_back(v);
    bool corrupt = true;
    const Bytes raster = RasterBlock(8, PackWidths(codes));
    Bytes row = Row(raster, int(expected.size()), 8, &corrupt);
    EXPECT_EQ(row, expected);
    EXPECT_FALSE(corrupt);
}

TEST(GifDecoder, UndefinedCodesAndRootQuirks) {
    // A code equal to NextFree: the previous string and its first pixel.
    EXPECT_EQ(Row(RasterBlock(2, PackCodes(2, {4, 2, 6, 5})), 3, 2), (Bytes{2, 2, 2})) << "code == NextFree";
    // A code above NextFree takes the same path; the entry that follows
    // chains through it into a zeroed entry: 13, then 11 = (13, 2) gives 0 0 2.
    EXPECT_EQ(Row(RasterBlock(3, PackCodes(3, {8, 1, 13, 2, 11, 9})), 7, 3), (Bytes{1, 1, 1, 2, 0, 0, 2}))
        << "code above NextFree";
    // A 2-colour frame (pixel mask 1) with m = 2: root 2 expands to two zeros.
    EXPECT_EQ(Row(RasterBlock(2, PackCodes(2, {4, 1, 2, 5})), 3, 1), (Bytes{1, 0, 0})) << "root above the pixel mask";
    // Depth 8 with m = 2: dictionary codes are strings all the same, though
    // the colour table has an entry of that number.
    EXPECT_EQ(Row(RasterBlock(2, PackCodes(2, {4, 1, 6, 6, 2, 8, 5})), 8, 8), (Bytes{1, 1, 1, 1, 1, 2, 1, 1}))
        << "depth above m";
    // Clear codes back to back only clear: the dictionary starts afresh
    // after the last one.
    EXPECT_EQ(Row(RasterBlock(2, PackCodes(2, {4, 4, 4, 1, 2, 6, 5})), 5, 2), (Bytes{1, 2, 1, 2, 0}))
        << "clear, clear, clear, pixels";
    // An end code right after a clear ends the raster; what follows is ignored.
    EXPECT_EQ(Row(RasterBlock(2, PackCodes(2, {4, 1, 4, 5, 2, 3, 5})), 4, 2), (Bytes{1, 0, 0, 0})) << "clear then end";
    // Without a leading clear code the first code is a pixel and adds no entry.
    EXPECT_EQ(Row(RasterBlock(2, PackCodes(2, {1, 6, 5})), 3, 2), (Bytes{1, 1, 1})) << "no leading clear";
    EXPECT_EQ(Row(RasterBlock(2, PackCodes(2, {5, 1, 5})), 2, 2), (Bytes{0, 0})) << "end code first: nothing";
}

TEST(GifDecoder, EndOfRowsEndOfCodesAndTrailingData) {
    const Bytes four{1, 2, 3, 1};
    // Without an end code: complete, not damaged, even when damage would raise.
    std::vector<uint32_t> noEnd = RootCodes(2, four);
    noEnd.pop_back();
    for (bool accept : {true, false}) {
        Decoded d = Decode(RasterBlock(2, PackCodes(2, noEnd)), 4, 1, 8, 2, false, accept);
        EXPECT_EQ(d.Pixels, four) << "no end code, accept " << accept;
        EXPECT_FALSE(d.Corrupt) << "no end code, accept " << accept;
    }
    // Clear code just before the data ends, after the last pixel.
    std::vector<uint32_t> clearLast = noEnd;
    clearLast.push_back(4);
    EXPECT_FALSE(Decode(RasterBlock(2, PackCodes(2, clearLast)), 4, 1, 8, 2, false, false).Corrupt) << "clear at end";

    // More codes than pixels: the rest of the string is dropped, one more code is read.
    Decoded longer = Decode(RasterBlock(2, PackCodes(2, {4, 1, 2, 6, 6, 3, 5})), 3, 1, 8, 2);
    EXPECT_EQ(longer.Pixels, (Bytes{1, 2, 1, 0})) << "stops with the last row";
    EXPECT_FALSE(longer.Corrupt);

    // Data after the end code, in its sub-block and beyond, is ignored.
    Bytes packed = PackCodes(2, RootCodes(2, four));
    const size_t used = packed.size();
    packed.insert(packed.end(), {0xFF, 0xFF});
    Bytes raster{2, uint8_t(packed.size())};
    raster.insert(raster.end(), packed.begin(), packed.end());
    raster.insert(raster.end(), {3, 0xAA, 0xBB, 0xCC, 0});
    Decoded trailing = Decode(raster, 4, 1, 8, 2);
    EXPECT_EQ(trailing.Pixels, four);
    EXPECT_EQ(trailing.Position, int64_t(2 + used + 2)) << "only the sub-block with the end code is read";

    // A frame of 0 rows and one of 0 columns store nothing.
    EXPECT_FALSE(Decode(RasterBlock(2, PackCodes(2, RootCodes(2, four))), 4, 0, 8, 2).Corrupt) << "0 rows";
    Bytes guard(16, 0xAA);
    bool corrupt = true;
    TMemoryStream s = StreamOf(RasterBlock(2, PackCodes(2, RootCodes(2, four))));
    DecodeFrameRaster(s, TRasterDestination{0, 3, 8, guard.data()}, false, true, 2, corrupt, nullptr);
    EXPECT_EQ(guard, Bytes(16, 0xAA)) << "0 columns: nothing stored";
    EXPECT_FALSE(corrupt);
}

TEST(GifDecoder, TruncatedRasterKeepsDecodedPixels) {
    const Bytes pixels{1, 2, 3, 1, 2, 3};
    Bytes packed = PackCodes(2, RootCodes(2, pixels));
    packed.resize(2); // the clear code and the first four pixels
    const Bytes raster = RasterBlock(2, packed);
    Decoded d = Decode(raster, 3, 2, 8, 2);
    EXPECT_TRUE(d.Corrupt);
    EXPECT_EQ(d.Position, int64_t(raster.size())) << "all data was read";
    // Data row 0 is stored last; row 1 got its first pixel only.
    EXPECT_EQ(d.Pixels, (Bytes{1, 0, 0, 0, 1, 2, 3, 0}));
    try {
        Decode(raster, 3, 2, 8, 2, false, false);
        FAIL() << "no error without accept corrupt";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
    // Only the code size byte: nothing to decode, all damaged.
    EXPECT_TRUE(Decode(Bytes{2}, 2, 2, 8, 2).Corrupt) << "no sub-blocks";
    EXPECT_TRUE(Decode(Bytes{2, 0}, 2, 2, 8, 2).Corrupt) << "terminator only";
    // Not even the code size: the stream's read error.
    EXPECT_THROW(Decode(Bytes{}, 2, 2, 8, 2), EReadError);
}

TEST(GifDecoder, CodeSizeOutOfRange) {
    for (uint8_t m : {uint8_t(1), uint8_t(10)}) {
        // Clamped to 2 or 9: only the pixels right after clear codes are taken.
        const int clamped = m < 2 ? 2 : 9;
        const uint32_t clear = 1u << clamped;
        Bytes raster = RasterBlock(clamped, PackCodes(clamped, {clear, 1, clear, 3, 2, 1, clear + 1}));
        raster[0] = m;
        Decoded d = Decode(raster, 4, 1, 8, 2);
        EXPECT_TRUE(d.Corrupt) << "m " << int(m);
        EXPECT_EQ(d.Pixels, (Bytes{1, 3, 0, 0})) << "m " << int(m);
        try {
            Decode(raster, 4, 1, 8, 2, false, false);
            FAIL() << "m " << int(m) << ": no error";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(e.Message(), "GIF code size not in range 2 to 9");
        }
    }
}

TEST(GifDecoder, CircularDictionary) {
    // 7 above NextFree, then entry 7 gets prefix 7: expanding 7 never ends.
    const Bytes raster = RasterBlock(2, PackCodes(2, {4, 1, 7, 1, 7, 1, 5}));
    std::string ending;
    TDecodeProgress progress = [&](TProgressStage stage, uint8_t, const std::string& message) {
        if (stage == psEnding)
            ending = message;
    };
    Decoded d = Decode(raster, 8, 1, 8, 2, false, true, &progress);
    EXPECT_TRUE(d.Corrupt);
    EXPECT_EQ(d.Pixels, (Bytes{1, 1, 1, 1, 0, 0, 0, 0})) << "pixels before the circle stay";
    EXPECT_EQ(ending, "");
    try {
        Decode(raster, 8, 1, 8, 2, false, false, &progress);
        FAIL() << "no error without accept corrupt";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "GIF encoded data is corrupt");
        EXPECT_EQ(ending, "GIF encoded data is corrupt") << "the ending report carries the error";
    }
}

TEST(GifDecoder, PackedPixelLayouts) {
    // A 1-bit frame 9 pixels wide: 4-byte rows, the ninth pixel in the top
    // bit of the second byte, rows stored bottom-up.
    const Bytes pixels{1, 0, 1, 1, 0, 0, 1, 0, 1, /**/ 1, 1, 1, 1, 1, 1, 1, 1, 1};
    Decoded d = Decode(RasterBlock(2, PackCodes(2, RootCodes(2, pixels))), 9, 2, 1, 1);
    EXPECT_EQ(d.Pixels, (Bytes{0xFF, 0x80, 0, 0, 0xB2, 0x80, 0, 0}));
    EXPECT_FALSE(d.Corrupt);
    // 4 bits: high nibble first; 5 pixels make 3 bytes, padded to 4.
    const Bytes nibbles{15, 1, 2, 14, 7};
    Decoded n = Decode(RasterBlock(4, PackCodes(4, RootCodes(4, nibbles))), 5, 1, 4, 4);
    EXPECT_EQ(n.Pixels, (Bytes{0xF1, 0x2E, 0x70, 0}));

    // EmitPixel alone: the first pixel of a byte sets the whole byte, and
    // after the last row everything is discarded.
    Bytes buffer(8, 0xFF);
    RasterCursor c;
    c.PixelsPerRow = 9;
    c.RowCount = 2;
    c.PixelBits = 1;
    c.Stride = 4;
    c.Pixels = buffer.data();
    c.RowStart = buffer.data() + 4;
    for (int i = 0; i < 30; ++i)
        EmitPixel(i % 4 == 0 ? 1 : 0, c);
    EXPECT_EQ(buffer, (Bytes{0x11, 0x00, 0xFF, 0xFF, 0x88, 0x80, 0xFF, 0xFF}));
    EXPECT_EQ(c.Row, 2);
}
