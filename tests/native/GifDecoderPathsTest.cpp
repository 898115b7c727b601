// The raster decoder's fast paths (strings written straight into their row,
// strings that cross a row end, packed 1- and 4-bit rows, the longest strings
// the dictionary holds) checked against the pictures that were encoded, and
// damaged data checked against the step-by-step reference decoder.

#include "gif/JvGIFDecoder.h"
#include "rtl/Errors.h"

#include "GifWriter.h"
#include "ReferenceDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
    Bytes pixels;
    bool corrupt = false;
    std::string error;
};

Decoded Decode(const Bytes& raster, int width, int height, int bits, bool interlaced, int depth,
               bool acceptCorrupt = true, const TDecodeProgress* progress = nullptr)
{
    Decoded out;
    // Not zero-filled: the decoder writes every byte, 0 where it decodes
    // nothing. The rows lie between two guards: a write outside them is an
    // error here, whatever lies next to the block.
    const size_t bytes = RasterStride(uint64_t(width), uint64_t(bits)) * uint64_t(height);
    const size_t guard = 4096 + bytes / 8;
    std::vector<uint8_t> block(guard + bytes + guard, 0xA5);
    TMemoryStream stream;
    stream.WriteBuffer(raster.data(), int64_t(raster.size()));
    stream.SetPosition(0);
    TRasterDestination destination;
    destination.PixelsPerRow = width;
    destination.RowCount = height;
    destination.PixelBits = bits;
    destination.Pixels = block.data() + guard;
    try {
        DecodeFrameRaster(stream, destination, interlaced, acceptCorrupt, depth, out.corrupt, progress);
    } catch (const Exception& e) {
        out.error = std::string(e.ClassName()) + ": " + e.Message();
        out.corrupt = false;
    }
    const auto rows = block.begin() + std::ptrdiff_t(guard);
    out.pixels.assign(rows, rows + std::ptrdiff_t(bytes));
    if (std::any_of(block.begin(), rows, [](uint8_t b) { return b != 0xA5; }) ||
        std::any_of(rows + std::ptrdiff_t(bytes), block.end(), [](uint8_t b) { return b != 0xA5; }))
        out.error += std::string(out.error.empty() ? "" : "; ") + "wrote outside the pixel rows";
    return out;
}

// The stored rows a decoder must produce for a picture: bottom-up, packed,
// each row padded with zero bytes to a multiple of 4.
Bytes StoredRows(const Bytes& indices, int width, int height, int bits)
{
    const size_t stride = RasterStride(uint64_t(width), uint64_t(bits));
    Bytes rows(stride * size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rows.data() + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const uint8_t v = indices[size_t(y) * size_t(width) + size_t(x)];
            if (bits == 8)
                row[x] = v;
            else if (bits == 4)
                row[x / 2] |= uint8_t(x % 2 == 0 ? v << 4 : v);
            else
                row[x / 8] |= uint8_t(v << (7 - x % 8));
        }
    }
    return rows;
}

// Minimum code size byte, the codes in sub-blocks of chunk bytes, terminator.
Bytes Raster(const Bytes& indices, int width, int height, int m, bool interlaced,
             const gifwriter::LzwOptions& options = {}, size_t chunk = 255)
{
    Bytes ordered;
    if (interlaced) {
        for (int y : gifwriter::InterlacedRowOrder(height))
            ordered.insert(ordered.end(), indices.begin() + std::ptrdiff_t(y) * width,
                           indices.begin() + std::ptrdiff_t(y + 1) * width);
    } else {
        ordered = indices;
    }
    return gifwriter::RasterBlock(m, gifwriter::LzwEncode(ordered, m, options), chunk);
}

// Deterministic pseudo-random numbers, the same on every platform.
struct Lcg {
    uint32_t state;
    uint32_t Next(uint32_t bound)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    }
};

int BitsFor(int depth) { return depth == 1 ? 1 : depth <= 4 ? 4 : 8; }

// Mostly a few rows; one time in eight enough rows that the frame passes
// 65536 pixels, where positions in the frame no longer fit 16 bits.
int RowsFor(Lcg& random, int width, uint32_t fewRows)
{
    if (width > 0 && random.Next(8) == 0)
        return int(65536 / width) + 1 + int(random.Next(fewRows));
    return int(random.Next(fewRows));
}

}  // namespace

// Strings that fit their row, strings that cross one or many row ends, rows
// of odd widths packed 1 and 4 bits per pixel, straight and interlaced; in
// small frames, and in larger ones that decode in place or (1 and 4 bits) a
// segment at a time, or packed where a segment is too long for that.
TEST(GifDecoderPaths, StringsAcrossRowEndsAndPackedRows)
{
    Lcg random{12345};
    for (int depth : {1, 4, 8}) {
        const int bits = BitsFor(depth);
        const int colours = 1 << depth;
        const int m = std::max(depth, 2);
        for (auto [width, height] : {std::pair{1, 23}, {3, 23}, {7, 23}, {9, 23}, {13, 23}, {17, 23}, {64, 23},
                                     {301, 23}, {13, 6000}, {64, 600}, {301, 600}}) {
            for (const char* kind : {"runs", "one colour", "noise", "stripes", "noise, then one colour"}) {
                Bytes indices(size_t(width) * height);
                for (size_t i = 0; i < indices.size(); ++i) {
                    const std::string k = kind;
                    const bool noise = k == "noise" || (k == "noise, then one colour" && i < indices.size() / 2);
                    indices[i] = noise               ? uint8_t(random.Next(colours))
                                 : k == "runs"       ? uint8_t(i / 37 % colours)
                                 : k == "stripes"    ? uint8_t(i % width % 5 % colours)
                                                     : uint8_t(colours - 1);
                }
                for (bool interlaced : {false, true}) {
                    const Decoded d = Decode(Raster(indices, width, height, m, interlaced), width, height, bits,
                                             interlaced, depth);
                    const std::string what = std::string(kind) + ", depth " + std::to_string(depth) + ", " +
                                             std::to_string(width) + "x" + std::to_string(height) +
                                             (interlaced ? ", interlaced" : "");
                    EXPECT_EQ(d.error, "") << what;
                    EXPECT_FALSE(d.corrupt) << what;
                    EXPECT_TRUE(d.pixels == StoredRows(indices, width, height, bits)) << what;
                }
            }
        }
    }
}

// The data goes on past the frame's last pixel inside the string that reaches
// it: every path stores the frame's pixels and nothing after its rows.
TEST(GifDecoderPaths, LastStringRunsPastTheFrame)
{
    const struct {
        const char* path;
        int width, height, depth;
        bool noise;
    } cases[] = {{"small, aside", 61, 37, 8, true},
                 {"8 bits in place", 301, 600, 8, true},
                 {"4 bits a segment at a time", 512, 256, 4, true},
                 {"4 bits packed", 512, 256, 4, false},
                 {"1 bit packed", 512, 256, 1, true}};
    Lcg random{99};
    for (const auto& [path, width, height, depth, noise] : cases) {
        const size_t count = size_t(width) * size_t(height);
        // From a clear code 8 pixels before the end, one colour: strings of
        // 1, 2, 3 and 4 pixels, the last of which ends 2 pixels past the frame.
        Bytes indices(count + 8, uint8_t((1 << depth) - 1));
        for (size_t i = 0; noise && i < count - 8; ++i)
            indices[i] = uint8_t(random.Next(1u << depth));
        gifwriter::LzwOptions options;
        options.ClearBefore = {count - 8};
        const Bytes raster = Raster(indices, width, height, std::max(depth, 2), false, options);
        indices.resize(count);
        const int bits = BitsFor(depth);
        const Decoded d = Decode(raster, width, height, bits, false, depth);
        EXPECT_EQ(d.error, "") << path;
        EXPECT_FALSE(d.corrupt) << path;
        EXPECT_TRUE(d.pixels == StoredRows(indices, width, height, bits)) << path;
    }
}

// The decoder's tables are kept from one raster to the next and hold the last
// one's entries: each raster still decodes as the reference decoder does,
// damaged ones too, whatever code size and frame size came before.
TEST(GifDecoderPaths, TablesKeptBetweenRasters)
{
    Lcg random{77};
    for (int round = 0; round < 300; ++round) {
        const int depth = 2 + int(random.Next(7));
        const int width = 1 + int(random.Next(40));
        const int height = 1 + RowsFor(random, width, 20);
        Bytes indices(size_t(width) * height);
        for (auto& v : indices)
            v = uint8_t(random.Next(random.Next(3) == 0 ? 2 : 1u << depth));
        Bytes raster = Raster(indices, width, height, std::max(depth, 2), false);
        for (uint32_t flips = random.Next(3); flips > 0 && raster.size() > 2; --flips)
            raster[1 + random.Next(uint32_t(raster.size() - 1))] ^= uint8_t(1 + random.Next(255));
        const int bits = BitsFor(depth);
        const ReferenceResult want =
            ReferenceDecode(raster.data(), raster.size(), width, height, bits, false, depth, true);
        const Decoded kept = Decode(raster, width, height, bits, false, depth, true);
        const std::string what = "round " + std::to_string(round);
        EXPECT_EQ(kept.error, want.error) << what;
        EXPECT_EQ(kept.corrupt, want.corrupt) << what;
        EXPECT_TRUE(kept.pixels == want.pixels) << what;
    }
}

// Decodes on two threads at once each get their own tables: with shared
// ones, one thread's entries would corrupt the other's strings.
TEST(GifDecoderPaths, DecodesOnTwoThreadsAtOnce)
{
    struct Job {
        Bytes raster;
        Bytes want;
        int width, height, depth;
    };
    Lcg random{5};
    std::vector<Job> jobs;
    for (int depth : {2, 8}) {
        const int width = 97, height = 61;
        Bytes indices(size_t(width) * height);
        for (auto& v : indices)
            v = uint8_t(random.Next(random.Next(4) == 0 ? 1u << depth : 3));
        Job job{Raster(indices, width, height, depth, false), {}, width, height, depth};
        job.want = Decode(job.raster, width, height, BitsFor(depth), false, depth).pixels;
        jobs.push_back(std::move(job));
    }
    std::atomic<int> wrong{0};
    auto work = [&](const Job& job) {
        for (int i = 0; i < 2000; ++i)
            if (Decode(job.raster, job.width, job.height, BitsFor(job.depth), false, job.depth).pixels != job.want)
                ++wrong;
    };
    std::thread other(work, std::cref(jobs[0]));
    work(jobs[1]);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

// One colour over millions of pixels: every string is one pixel longer than
// the one before, up to the 4096th entry; with the table kept full the
// longest string is sent again and again, across many row ends, at the end
// with another colour after each time it is sent.
TEST(GifDecoderPaths, LongestStringsAtTheEntryLimit)
{
    const struct {
        int depth;
        bool keepFull;
    } cases[] = {{8, true}, {8, false}, {4, true}, {1, true}};
    for (const auto& [depth, keepFull] : cases) {
        const int width = 1531, height = 5300;  // 8.1 million pixels: the table fills
        const int bits = BitsFor(depth);
        const uint8_t colour = uint8_t((1 << depth) - 1);
        Bytes indices(size_t(width) * height, colour);
        for (size_t i = 7600000 + 3839; i < indices.size(); i += 3840)
            indices[i] = 0;
        gifwriter::LzwOptions options;
        options.DeferredClear = keepFull;
        const Decoded d = Decode(Raster(indices, width, height, std::max(depth, 2), false, options), width,
                                 height, bits, false, depth);
        const std::string what = "depth " + std::to_string(depth) + (keepFull ? ", table kept full" : "");
        EXPECT_EQ(d.error, "") << what;
        EXPECT_FALSE(d.corrupt) << what;
        EXPECT_TRUE(d.pixels == StoredRows(indices, width, height, bits)) << what;
    }
}

// Damaged and odd rasters (random codes, codes above the next free one,
// circles in the dictionary, clear codes anywhere, cut data, code sizes out
// of range, tables larger or smaller than the code size), in small frames and
// large ones, decode exactly as the step-by-step reference decoder does (the
// linear loop giving up on them part-way, the general loop starting over), with
// damage accepted and refused, and the same with a progress listener as without.
TEST(GifDecoderPaths, DamagedDataAsTheReferenceDecoder)
{
    Lcg random{2026};
    for (int round = 0; round < 2000; ++round) {
        const int depth = 1 + int(random.Next(8));
        const int bits = BitsFor(depth);
        const int width = int(random.Next(24));
        const int height = RowsFor(random, width, 24);
        const bool interlaced = random.Next(3) == 0;
        int m = std::clamp(depth + int(random.Next(3)) - 1, 2, 8);
        Bytes raster;
        if (random.Next(2) == 0) {
            // A valid picture, then damaged: bytes flipped, cut short, code size byte changed.
            Bytes indices(size_t(width) * height);
            const uint32_t colours = std::min(1u << depth, 1u << m);
            for (auto& v : indices)
                v = uint8_t(random.Next(random.Next(2) == 0 ? 2 : colours));
            raster = Raster(indices, width, height, m, interlaced, {}, 1 + random.Next(255));
            for (uint32_t flips = random.Next(4); flips > 0 && raster.size() > 2; --flips)
                raster[1 + random.Next(uint32_t(raster.size() - 1))] ^= uint8_t(1 + random.Next(255));
            if (random.Next(4) == 0)
                raster.resize(random.Next(uint32_t(raster.size()) + 1));
        } else {
            // Random codes in random sub-blocks.
            if (random.Next(10) == 0)
                m = int(random.Next(12));
            raster.push_back(uint8_t(m));
            for (uint32_t blocks = 1 + random.Next(4); blocks > 0; --blocks) {
                const uint32_t n = random.Next(256);
                raster.push_back(uint8_t(n));
                for (uint32_t i = 0; i < n; ++i)
                    raster.push_back(uint8_t(random.Next(256)));
            }
            if (random.Next(2) == 0)
                raster.push_back(0);
        }
        for (bool accept : {true, false}) {
            const Decoded d = Decode(raster, width, height, bits, interlaced, depth, accept);
            const ReferenceResult want =
                ReferenceDecode(raster.data(), raster.size(), width, height, bits, interlaced, depth, accept);
            const std::string what = "round " + std::to_string(round) + ", depth " + std::to_string(depth) +
                                     ", " + std::to_string(width) + "x" + std::to_string(height) +
                                     (interlaced ? ", interlaced" : "") + (accept ? "" : ", damage refused");
            EXPECT_EQ(d.error, want.error) << what;
            EXPECT_EQ(d.corrupt, want.corrupt) << what;
            EXPECT_TRUE(d.pixels == want.pixels) << what;

            std::vector<int> stages, percents;
            TDecodeProgress listener = [&](TProgressStage stage, uint8_t percent, const std::string&) {
                stages.push_back(int(stage));
                if (stage == psRunning)
                    percents.push_back(percent);
            };
            const Decoded heard = Decode(raster, width, height, bits, interlaced, depth, accept, &listener);
            EXPECT_EQ(heard.error, d.error) << what << ", listened to";
            EXPECT_EQ(heard.corrupt, d.corrupt) << what << ", listened to";
            EXPECT_TRUE(heard.pixels == d.pixels) << what << ", listened to";
            ASSERT_GE(stages.size(), 2u) << what;
            EXPECT_EQ(stages.front(), int(psStarting)) << what;
            EXPECT_EQ(stages.back(), int(psEnding)) << what;
            EXPECT_EQ(percents, want.progress) << what;
        }
    }
}

// Strings far longer than 8 pixels (every row the same) at 8 bits per pixel,
// stopped inside a row by an early end code or by data cut at a sub-block
// boundary: as the reference decoder, and in data order every pixel after the
// first one that differs from the picture is 0.
TEST(GifDecoderPaths, EarlyStopsLeaveZerosAfterLongStrings)
{
    Lcg random{4242};
    for (int depth : {6, 7, 8}) {
        for (int width : {61, 203}) {
            const int height = 16;
            // A short motif over the whole row: strings grow by a pixel each.
            Bytes motif(3 + random.Next(3));
            for (auto& v : motif)
                v = uint8_t(1 + random.Next((1u << depth) - 1));
            Bytes row(static_cast<size_t>(width));
            for (size_t x = 0; x < row.size(); ++x)
                row[x] = motif[x % motif.size()];
            Bytes picture;
            for (int y = 0; y < height; ++y)
                picture.insert(picture.end(), row.begin(), row.end());
            for (bool interlaced : {false, true}) {
                std::vector<int> dataRows;
                for (int y = 0; y < height; ++y)
                    dataRows.push_back(y);
                if (interlaced)
                    dataRows = gifwriter::InterlacedRowOrder(height);
                struct Stop {
                    std::string name;
                    Bytes raster;
                };
                std::vector<Stop> stops;
                std::vector<size_t> ends;
                for (int r : {4, 9, 14})
                    for (int column : {width / 3 + 1, width / 2, width - 9})
                        ends.push_back(size_t(r) * size_t(width) + size_t(column));
                for (size_t at : ends) {
                    gifwriter::LzwOptions options;
                    options.InjectCodes.emplace(at, uint16_t((1u << depth) + 1));
                    stops.push_back({"end code at " + std::to_string(at),
                                     Raster(picture, width, height, depth, interlaced, options)});
                }
                const size_t chunk = 37;
                const Bytes whole = Raster(picture, width, height, depth, interlaced, {}, chunk);
                for (size_t blocks : {3, 7, 13, 20}) {
                    const size_t cut = 1 + blocks * (chunk + 1);
                    if (cut < whole.size())
                        stops.push_back({"cut after " + std::to_string(blocks) + " sub-blocks",
                                         Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut))});
                }
                for (const Stop& stop : stops) {
                    const std::string what = stop.name + ", depth " + std::to_string(depth) + ", width " +
                                             std::to_string(width) + (interlaced ? ", interlaced" : "");
                    const Decoded d = Decode(stop.raster, width, height, 8, interlaced, depth);
                    const ReferenceResult want = ReferenceDecode(stop.raster.data(), stop.raster.size(), width,
                                                                 height, 8, interlaced, depth, true);
                    EXPECT_EQ(d.error, "") << what;
                    EXPECT_EQ(d.corrupt, want.corrupt) << what;
                    EXPECT_TRUE(d.pixels == want.pixels) << what;
                    const size_t stride = RasterStride(uint64_t(width), 8);
                    bool differed = false;
                    size_t strays = 0;
                    for (int y : dataRows)
                        for (int x = 0; x < width; ++x) {
                            const uint8_t got = d.pixels[size_t(height - 1 - y) * stride + size_t(x)];
                            differed = differed || got != picture[size_t(y) * size_t(width) + size_t(x)];
                            strays += differed && got != 0;
                        }
                    EXPECT_TRUE(differed) << what << ": decoding did not stop early";
                    EXPECT_EQ(strays, 0u) << what << ": pixels after the stop that are not 0";
                }
            }
        }
    }
}
