// The splash animation's bytes: the committed source matches the generator,
// and the stream has the layout and pictures the splash window relies on.

#include "GiflibReader.h"
#include "SplashGen.h"
#include "app/SplashAnimation.h"
#include "gif/JvGIF.h"
#include "rtl/Streams.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

using gifwriter::Bytes;

namespace {

// What frame n (1..12) shows at (x, y), written out independently of the generator.
uint8_t ExpectedIndex(int n, int x, int y) {
    if (y < 15 || y > 35) return 31;
    for (int square = 1; square <= 12; ++square) {
        int left = 47 + 26 * (square - 1);
        if (x < left || x > left + 20) continue;
        int trail = n == 1 ? 12 : n - 1;
        int reidled = n <= 2 ? -1 : n - 2;
        bool painted = n <= 2 || square == n || square == trail || square == reidled;
        if (!painted) return 31;
        return square == n ? 1 : square == trail ? 0 : 18;
    }
    return 31;
}

Bytes EmbeddedStream() {
    EXPECT_GE(SplashAnimationSize, 4u);
    uint32_t length = SplashAnimationData[0] | (SplashAnimationData[1] << 8) | (SplashAnimationData[2] << 16) |
                      (static_cast<uint32_t>(SplashAnimationData[3]) << 24);
    EXPECT_EQ(length + 4, SplashAnimationSize) << "length prefix";
    return Bytes(SplashAnimationData + 4, SplashAnimationData + SplashAnimationSize);
}

}  // namespace

TEST(SplashAnimationBytes, CommittedSourceIsTheGeneratorsOutput) {
    const Bytes stream = splashgen::BuildSplashAnimation();
    EXPECT_EQ(EmbeddedStream(), stream) << "rebuild target regenerate_splash";
    std::ifstream f(KANTREL_SPLASH_SOURCE, std::ios::binary);
    ASSERT_TRUE(f) << KANTREL_SPLASH_SOURCE;
    std::string committed((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(committed, splashgen::RenderSplashSource(gifwriter::LengthPrefixed(stream)));
}

TEST(SplashAnimationBytes, StreamLayout) {
    const Bytes s = EmbeddedStream();
    ASSERT_GT(s.size(), 13u + 96u);
    EXPECT_EQ(std::string(s.begin(), s.begin() + 6), "GIF89a");
    EXPECT_EQ(s[6] | (s[7] << 8), 400);
    EXPECT_EQ(s[8] | (s[9] << 8), 50);
    EXPECT_EQ(s[10], 0xC4) << "packed fields";
    EXPECT_EQ(s[11], 19) << "background index";
    EXPECT_EQ(s[12], 0) << "aspect";
    auto entry = [&](int i) {
        return std::to_string(s[13 + 3 * i]) + "," + std::to_string(s[14 + 3 * i]) + "," + std::to_string(s[15 + 3 * i]);
    };
    EXPECT_EQ(entry(0), "120,152,186");
    EXPECT_EQ(entry(1), "25,59,101");
    EXPECT_EQ(entry(18), "175,196,219");
    for (int i = 2; i <= 17; ++i) {
        int g = s[13 + 3 * i];
        EXPECT_TRUE(g >= 153 && g <= 249 && entry(i) == std::to_string(g) + "," + std::to_string(g) + "," + std::to_string(g))
            << "grey entry " << i << ": " << entry(i);
    }
    for (int i = 19; i <= 31; ++i) EXPECT_EQ(entry(i), "255,255,255") << "entry " << i;

    // Walk the blocks: loop block, then per frame one graphic control
    // extension and one image, then the trailer.
    size_t p = 13 + 96;
    const Bytes loop = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
    ASSERT_EQ(Bytes(s.begin() + static_cast<ptrdiff_t>(p), s.begin() + static_cast<ptrdiff_t>(p + loop.size())), loop);
    p += loop.size();
    for (int n = 1; n <= 12; ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        ASSERT_LT(p + 8 + 11, s.size());
        const Bytes gce = {0x21, 0xF9, 4, static_cast<uint8_t>(n < 12 ? 0x05 : 0x01), 1, 0, 31, 0};
        EXPECT_EQ(Bytes(s.begin() + static_cast<ptrdiff_t>(p), s.begin() + static_cast<ptrdiff_t>(p + 8)), gce);
        p += 8;
        const Bytes descriptor = {0x2C, 0, 0, 0, 0, 0x90, 0x01, 50, 0, 0x00, 5};
        EXPECT_EQ(Bytes(s.begin() + static_cast<ptrdiff_t>(p), s.begin() + static_cast<ptrdiff_t>(p + 11)), descriptor)
            << "image at (0,0) 400x50, no local table, not interlaced, code size 5";
        p += 11;
        while (p < s.size() && s[p] != 0) p += s[p] + 1u;
        ++p;  // terminator
    }
    EXPECT_EQ(p + 1, s.size());
    EXPECT_EQ(s.back(), 0x3B) << "trailer";
}

TEST(SplashAnimationBytes, PicturesDecodeWithAReferenceDecoder) {
    const Bytes s = EmbeddedStream();
    auto d = giflibref::Slurp(s);
    ASSERT_TRUE(d->Gif && d->Error == 0) << GifErrorString(d->Error);
    ASSERT_EQ(d->Gif->ImageCount, 12);
    for (int n = 1; n <= 12; ++n) {
        Bytes raster = giflibref::Raster(d->Gif->SavedImages[n - 1]);
        ASSERT_EQ(raster.size(), 20000u);
        int wrong = 0;
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 400; ++x)
                if (raster[static_cast<size_t>(y * 400 + x)] != ExpectedIndex(n, x, y) && wrong++ < 3)
                    ADD_FAILURE() << "frame " << n << " pixel (" << x << "," << y << ") is "
                                  << int(raster[static_cast<size_t>(y * 400 + x)]) << ", expected "
                                  << int(ExpectedIndex(n, x, y));
    }
}

TEST(SplashAnimationBytes, LoadsThroughTheDataPropertyAsTheSplashShowsIt) {
    TMemoryStream stored;
    stored.WriteBuffer(SplashAnimationData, static_cast<int64_t>(SplashAnimationSize));
    stored.SetPosition(0);
    TJvGIFImage image;
    int changes = 0;
    image.OnChange = [&](TObject*) { ++changes; };
    image.ReadData(stored);
    EXPECT_EQ(stored.Position(), static_cast<int64_t>(SplashAnimationSize)) << "the whole value is read";
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(image.GifVersion(), 2);
    ASSERT_EQ(image.FrameCount(), 12);
    EXPECT_EQ(image.ActiveFrameIndex(), 0);
    EXPECT_EQ(image.LogicalWidth(), 400);
    EXPECT_EQ(image.LogicalHeight(), 50);
    EXPECT_EQ(image.SharedHeader()->GlobalColors().Count, 32);
    EXPECT_EQ(image.BackdropColor(), 0xFFFFFFu);
    EXPECT_TRUE(image.LoopDeclared());
    EXPECT_EQ(image.LoopCount(), 0);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        TJvGIFFrame* frame = image.FrameAt(i);
        EXPECT_EQ(frame->Origin(), (TPoint{0, 0}));
        EXPECT_EQ(frame->SharedData()->RasterSize, (TPoint{400, 50}));
        EXPECT_FALSE(frame->IsInterlaced());
        EXPECT_FALSE(frame->HasLocalTable());
        EXPECT_EQ(frame->SharedData()->PixelDepth, 5);
        EXPECT_EQ(frame->DelayMs(), 10);
        EXPECT_EQ(frame->DisposalMode(), i < 11 ? 1 : 0);
        EXPECT_EQ(frame->KeyColor(), 0xFEFFFFu) << "entry 31 nudged off the other whites";
        ASSERT_NE(frame->ExtensionList(), nullptr);
        EXPECT_EQ(frame->ExtensionList()->Count(), 1) << "one graphic control extension";

        TBitmap* bitmap = frame->FrameBitmap();
        ASSERT_NE(bitmap, nullptr);
        EXPECT_FALSE(frame->IsCorrupted());
        ASSERT_EQ(bitmap->Width(), 400);
        ASSERT_EQ(bitmap->Height(), 50);
        ASSERT_EQ(bitmap->PixelBits(), 8);
        int wrong = 0;
        for (int y = 0; y < 50; ++y) {
            const uint8_t* row = bitmap->ScanLine(y);
            for (int x = 0; x < 400; ++x)
                if (row[x] != ExpectedIndex(i + 1, x, y) && wrong++ < 3)
                    ADD_FAILURE() << "pixel (" << x << "," << y << ") is " << int(row[x]) << ", expected "
                                  << int(ExpectedIndex(i + 1, x, y));
        }
        EXPECT_EQ(bitmap->PixelColor(0, 0), 0xFEFFFFu) << "transparent pixels carry the key colour";
        EXPECT_EQ(bitmap->PixelColor(47 + 26 * i, 15), 101u * 65536 + 59 * 256 + 25) << "runner";
    }
}
