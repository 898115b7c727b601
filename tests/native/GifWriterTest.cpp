// The test-side GIF encoder checked against giflib: what it writes, an
// independent decoder reads back index for index.

#include "GifWriter.h"
#include "GiflibReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

using namespace gifwriter;
using namespace giflibref;

namespace {

// Deterministic pseudo-random indices below 2^depth, with runs so that long
// strings enter the dictionary too.
Bytes Pattern(size_t count, int depth, uint32_t seed, bool noisy) {
    Bytes out(count);
    uint32_t x = seed * 2654435761u + 1;
    uint8_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        if (noisy || x % 7 == 0) value = static_cast<uint8_t>((x >> 8) & ((1u << depth) - 1));
        out[i] = value;
    }
    return out;
}

std::vector<Rgb> Palette(size_t n, uint8_t salt) {
    std::vector<Rgb> p(n);
    for (size_t i = 0; i < n; ++i)
        p[i] = {static_cast<uint8_t>(i * 7 + salt), static_cast<uint8_t>(i * 13), static_cast<uint8_t>(255 - i)};
    return p;
}

Bytes OneFrame(const ImageSpec& spec, const std::vector<Rgb>& global) {
    GifWriter w;
    w.Header().Screen(spec.Width, spec.Height, global).Image(spec).Trailer();
    return w.Finish();
}

}  // namespace

TEST(GifWriterLzw, KnownCodeSequences) {
    // Four pixels of index 1 at m = 2: codes 4, 1, 6, 1 (3 bits) and 5 (4 bits).
    EXPECT_EQ(LzwEncode(Bytes{1, 1, 1, 1}, 2), (Bytes{0x8C, 0x53}));
    EXPECT_EQ(SubBlocks(Bytes{0x8C, 0x53}), (Bytes{2, 0x8C, 0x53, 0}));
    // Without clear and end codes only the pixel codes remain: 1, 6, 1 at 3 bits.
    LzwOptions bare;
    bare.LeadingClear = false;
    bare.EndCode = false;
    EXPECT_EQ(LzwEncode(Bytes{1, 1, 1, 1}, 2, bare), (Bytes{0x71, 0x00})) << "bare codes";
    EXPECT_EQ(SubBlocks(Bytes(300, 9), 255, false).size(), 302u) << "two sub-blocks, no terminator";
    EXPECT_EQ(InterlacedRowOrder(9), (std::vector<int>{0, 8, 4, 2, 6, 1, 3, 5, 7}));
    EXPECT_EQ(InterlacedRowOrder(3), (std::vector<int>{0, 2, 1}));
    EXPECT_THROW(LzwEncode(Bytes{4}, 2), std::invalid_argument) << "index above the code size";
}

TEST(GifWriterGiflib, EveryDepthAndSizeDecodesToTheSameIndices) {
    struct Size {
        uint16_t W, H;
        bool Noisy;
    };
    const Size sizes[] = {{1, 1, false}, {9, 1, true}, {37, 23, false}, {64, 64, true}, {320, 200, true},
                          {400, 50, false}};
    for (int depth = 1; depth <= 8; ++depth) {
        for (const Size& s : sizes) {
            for (size_t chunk : {size_t{255}, size_t{1}}) {
                SCOPED_TRACE("depth " + std::to_string(depth) + ", " + std::to_string(s.W) + "x" +
                             std::to_string(s.H) + ", sub-blocks of " + std::to_string(chunk));
                ImageSpec spec;
                spec.Width = s.W;
                spec.Height = s.H;
                spec.Indices = Pattern(size_t{s.W} * s.H, depth, depth * 31 + s.W, s.Noisy);
                spec.SubBlockSize = chunk;
                Bytes gif = OneFrame(spec, Palette(size_t{1} << depth, 3));
                auto d = Slurp(gif);
                GifFileType* g = d->Gif.get();
                ASSERT_TRUE(g) << "giflib refused the header";
                ASSERT_EQ(d->Error, 0) << GifErrorString(d->Error);
                ASSERT_EQ(g->ImageCount, 1);
                ASSERT_NE(g->SColorMap, nullptr);
                EXPECT_EQ(g->SColorMap->ColorCount, 1 << std::max(depth, 1));
                EXPECT_EQ(Raster(g->SavedImages[0]), spec.Indices);
            }
        }
    }
}

TEST(GifWriterGiflib, InterlacedRowsComeBackInPlace) {
    for (uint16_t height : {1, 2, 3, 5, 9, 17, 50}) {
        SCOPED_TRACE("height " + std::to_string(height));
        ImageSpec spec;
        spec.Width = 5;
        spec.Height = height;
        spec.Interlaced = true;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < 5; ++x) spec.Indices.push_back(static_cast<uint8_t>((y * 3 + x) & 63));
        Bytes gif = OneFrame(spec, Palette(64, 0));
        auto d = Slurp(gif);
        GifFileType* g = d->Gif.get();
        ASSERT_TRUE(g && d->Error == 0) << GifErrorString(d->Error);
        EXPECT_TRUE(g->SavedImages[0].ImageDesc.Interlace);
        EXPECT_EQ(Raster(g->SavedImages[0]), spec.Indices);
    }
}

TEST(GifWriterGiflib, FramesTablesAndExtensionsReadBack) {
    GifWriter w;
    w.Header("89a").Screen(60, 40, Palette(32, 1), 19, 5).Loop(7).Comment(std::string(300, 'c'));
    // Frame 1: global table, transparency, disposal 2, interlaced.
    ImageSpec a;
    a.Left = 3;
    a.Top = 4;
    a.Width = 20;
    a.Height = 10;
    a.Interlaced = true;
    a.Indices = Pattern(200, 5, 1, false);
    w.GraphicControl(2, 25, 31).Image(a);
    // Frame 2: a 4-entry local table, disposal 3, user input flag.
    ImageSpec b;
    b.Width = 60;
    b.Height = 40;
    b.LocalTable = Palette(3, 9);
    b.Indices = Pattern(2400, 2, 2, true);
    w.GraphicControl(3, 1000, -1, true).Image(b);
    // Frame 3 behind a plain text block, with an 8-bit local table.
    ImageSpec c;
    c.Left = 59;
    c.Top = 39;
    c.Width = 1;
    c.Height = 1;
    c.LocalTable = Palette(256, 4);
    c.Indices = {200};
    w.PlainText("Hi").Image(c).Trailer();
    Bytes gif = w.Finish();

    auto d = Slurp(gif);
    GifFileType* g = d->Gif.get();
    ASSERT_TRUE(g && d->Error == 0) << GifErrorString(d->Error);
    EXPECT_EQ(g->SWidth, 60);
    EXPECT_EQ(g->SHeight, 40);
    EXPECT_EQ(g->SColorResolution, 5);
    EXPECT_EQ(g->SBackGroundColor, 19);
    ASSERT_NE(g->SColorMap, nullptr);
    EXPECT_EQ(g->SColorMap->ColorCount, 32);
    EXPECT_EQ(g->SColorMap->Colors[5].Red, 5 * 7 + 1);
    ASSERT_EQ(g->ImageCount, 3);

    const SavedImage* img = g->SavedImages;
    EXPECT_EQ(img[0].ImageDesc.Left, 3);
    EXPECT_EQ(img[0].ImageDesc.Top, 4);
    EXPECT_EQ(img[0].ImageDesc.ColorMap, nullptr) << "frame 1 uses the global table";
    EXPECT_EQ(Raster(img[0]), a.Indices);
    ASSERT_NE(img[1].ImageDesc.ColorMap, nullptr);
    EXPECT_EQ(img[1].ImageDesc.ColorMap->ColorCount, 4) << "3 colours padded to 4";
    EXPECT_EQ(img[1].ImageDesc.ColorMap->Colors[2].Green, 26);
    EXPECT_EQ(Raster(img[1]), b.Indices);
    ASSERT_NE(img[2].ImageDesc.ColorMap, nullptr);
    EXPECT_EQ(img[2].ImageDesc.ColorMap->ColorCount, 256);
    EXPECT_EQ(Raster(img[2]), c.Indices);

    GraphicsControlBlock gcb{};
    ASSERT_EQ(DGifSavedExtensionToGCB(g, 0, &gcb), GIF_OK);
    EXPECT_EQ(gcb.DisposalMode, 2);
    EXPECT_EQ(gcb.DelayTime, 25);
    EXPECT_EQ(gcb.TransparentColor, 31);
    ASSERT_EQ(DGifSavedExtensionToGCB(g, 1, &gcb), GIF_OK);
    EXPECT_EQ(gcb.DisposalMode, 3);
    EXPECT_EQ(gcb.DelayTime, 1000);
    EXPECT_TRUE(gcb.UserInputFlag);
    EXPECT_EQ(gcb.TransparentColor, NO_TRANSPARENT_COLOR);

    // Leading blocks (loop, comment) come as giflib's extension blocks of frame 1.
    std::string comment;
    bool sawLoop = false;
    for (int i = 0; i < img[0].ExtensionBlockCount; ++i) {
        const ExtensionBlock& e = img[0].ExtensionBlocks[i];
        if (e.Function == COMMENT_EXT_FUNC_CODE || (e.Function == CONTINUE_EXT_FUNC_CODE && !comment.empty()))
            comment.append(reinterpret_cast<const char*>(e.Bytes), static_cast<size_t>(e.ByteCount));
        if (e.Function == APPLICATION_EXT_FUNC_CODE)
            sawLoop = e.ByteCount == 11 && std::memcmp(e.Bytes, "NETSCAPE2.0", 11) == 0;
        if (e.Function == CONTINUE_EXT_FUNC_CODE && sawLoop && e.ByteCount == 3) {
            EXPECT_EQ(e.Bytes[1] | (e.Bytes[2] << 8), 7) << "loop count";
        }
    }
    EXPECT_TRUE(sawLoop);
    EXPECT_EQ(comment, std::string(300, 'c')) << "comment split over two sub-blocks";
    bool sawPlainText = false;
    for (int i = 0; i < img[2].ExtensionBlockCount; ++i)
        sawPlainText |= img[2].ExtensionBlocks[i].Function == PLAINTEXT_EXT_FUNC_CODE;
    EXPECT_TRUE(sawPlainText);
}

TEST(GifWriterGiflib, ClearCodesAndTableFullStates) {
    // 8-bit noise fills the 4096-entry table several times over.
    const Bytes noise = Pattern(200 * 200, 8, 77, true);
    struct Case {
        const char* Name;
        LzwOptions Options;
    };
    std::vector<Case> cases(4);
    cases[0].Name = "clear when the table is full";
    cases[1].Name = "deferred clear (table stays full)";
    cases[1].Options.DeferredClear = true;
    cases[2].Name = "clears on request";
    cases[2].Options.ClearBefore = {1, 2, 100, 5000, 39999};
    cases[3].Name = "no leading clear";
    cases[3].Options.LeadingClear = false;
    size_t fullSize = 0, deferredSize = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ImageSpec spec;
        spec.Width = 200;
        spec.Height = 200;
        spec.Indices = noise;
        spec.Lzw = c.Options;
        Bytes gif = OneFrame(spec, Palette(256, 0));
        auto d = Slurp(gif);
        GifFileType* g = d->Gif.get();
        ASSERT_TRUE(g && d->Error == 0) << GifErrorString(d->Error);
        EXPECT_EQ(Raster(g->SavedImages[0]), noise);
        if (c.Options.DeferredClear) deferredSize = gif.size();
        if (c.Options.ClearBefore.empty() && c.Options.LeadingClear && !c.Options.DeferredClear) fullSize = gif.size();
    }
    EXPECT_NE(fullSize, deferredSize) << "deferred clear must change the code stream";
}

TEST(GifWriterGiflib, DamageOptionsReallyDamage) {
    ImageSpec spec;
    spec.Width = 30;
    spec.Height = 30;
    spec.Indices = Pattern(900, 4, 5, true);
    const Bytes whole = OneFrame(spec, Palette(16, 0));
    const Bytes data = LzwEncode(spec.Indices, 4);

    // Truncated LZW data: sub-blocks stay well-formed, pixels go missing.
    ImageSpec cut = spec;
    cut.TruncateData = data.size() / 2;
    Bytes cutGif = OneFrame(cut, Palette(16, 0));
    Bytes expected(whole.begin(), whole.begin() + 72);  // up to the LZW code size byte
    Bytes half = SubBlocks(Bytes(data.begin(), data.begin() + static_cast<ptrdiff_t>(data.size() / 2)));
    expected.insert(expected.end(), half.begin(), half.end());
    expected.push_back(0x3B);
    EXPECT_EQ(cutGif, expected) << "truncated data";
    EXPECT_NE(Slurp(cutGif)->Error, 0) << "giflib must notice the missing pixels";

    // Without the terminator the byte after the data is the trailer.
    ImageSpec open = spec;
    open.Terminator = false;
    Bytes openGif = OneFrame(open, Palette(16, 0));
    EXPECT_EQ(openGif.size() + 1, whole.size());
    EXPECT_EQ(openGif[openGif.size() - 2], data.back()) << "last data byte right before the trailer";

    // Flipped bits and a stream cut anywhere.
    ImageSpec flipped = spec;
    flipped.XorData = {{3, 0xFF}};
    Bytes flippedGif = OneFrame(flipped, Palette(16, 0));
    ASSERT_EQ(flippedGif.size(), whole.size());
    EXPECT_EQ(std::mismatch(whole.begin(), whole.end(), flippedGif.begin()).first - whole.begin(),
              static_cast<ptrdiff_t>(6 + 7 + 48 + 10 + 1 + 1 + 3));
    GifWriter w;
    w.Header("87a").ScreenRaw(1, 1, 0, 0).SubBlock(200, {1, 2});
    EXPECT_EQ(w.Finish(4), (Bytes{'G', 'I', 'F', '8'}));
    EXPECT_EQ(w.Data().size(), 16u) << "a lying sub-block length is written as given";
    EXPECT_EQ(LengthPrefixed(Bytes{7}, -1), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 7}));
}

TEST(GifWriter, FinishedStreamsGoToTheCorpusFolder) {
    namespace fs = std::filesystem;
    const char* old = std::getenv("KANTREL_GIF_CORPUS_DIR");
    std::string saved = old ? old : "";
    fs::path dir = fs::temp_directory_path() / ("kantrel-corpus-test-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ::setenv("KANTREL_GIF_CORPUS_DIR", dir.c_str(), 1);
    GifWriter w;
    w.Header().Screen(2, 2).Trailer();
    Bytes a = w.Finish();
    Bytes again = w.Finish();
    Bytes b = w.Finish(5);
    if (old) ::setenv("KANTREL_GIF_CORPUS_DIR", saved.c_str(), 1);
    else ::unsetenv("KANTREL_GIF_CORPUS_DIR");

    std::vector<Bytes> found;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream f(entry.path(), std::ios::binary);
        found.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        EXPECT_EQ(entry.path().extension(), ".gif");
    }
    fs::remove_all(dir);
    ASSERT_EQ(found.size(), 2u) << "one file per distinct stream";
    EXPECT_TRUE((found[0] == a && found[1] == b) || (found[0] == b && found[1] == a));
}
