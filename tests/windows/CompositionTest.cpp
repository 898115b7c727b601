// Composition of GIF frames by their disposal methods, checked against a
// model written here: the frames played one after the other on a grid of
// colours, as the GIF format describes it, from the indices and tables the
// test wrote. The picture of frame N must be the model's whether it was
// reached by playing from frame 0 or by jumping to it.

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "GifImages.h"
#include "GifWriter.h"
#include "HugeGifs.h"
#include "controls/JvGIFCompose.h"
#include "gif/JvGIF.h"
#include "graphics/Canvas.h"
#include "graphics/KeyedDraw.h"

namespace {

using gifwriter::Rgb;

struct TFrameSpec {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    int Disposal = 0;
    int Key = -1;                 // transparent index, or none
    std::vector<TColor> Local;    // local table, or empty for the global one
    std::vector<uint8_t> Indices;
};

struct TAnimation {
    std::string Name;
    int Width = 0, Height = 0;
    std::vector<TColor> Global;   // may be empty
    int Background = 0;           // index into Global
    std::vector<TFrameSpec> Frames;
};

std::vector<Rgb> ToRgb(const std::vector<TColor>& colours) {
    std::vector<Rgb> table;
    for (TColor c : colours)
        table.push_back(Rgb{RedOf(c), GreenOf(c), BlueOf(c)});
    return table;
}

gifwriter::Bytes Encode(const TAnimation& a) {
    gifwriter::GifWriter writer;
    writer.Header().Screen(uint16_t(a.Width), uint16_t(a.Height), ToRgb(a.Global), uint8_t(a.Background));
    for (const TFrameSpec& f : a.Frames) {
        gifwriter::ImageSpec spec;
        spec.Left = uint16_t(f.Left);
        spec.Top = uint16_t(f.Top);
        spec.Width = uint16_t(f.Width);
        spec.Height = uint16_t(f.Height);
        spec.Indices = f.Indices;
        spec.LocalTable = ToRgb(f.Local);
        writer.GraphicControl(f.Disposal, 5, f.Key).Image(spec);
    }
    return writer.Trailer().Finish();
}

// The model. Frames are drawn in order; after each, its disposal applies:
// 2 clears its rectangle to the background, 3 and 4 put back the picture
// from before it, the others keep it. Cleared pixels and those no frame drew
// are Clear. What Clear shows is this animator's rule: when the active frame
// has a key colour, the picture's transparent colour (one that no frame
// draws); otherwise the backdrop colour when some frame has a key, else the
// window colour.
constexpr TColor Clear = clNone;

class TModel {
public:
    explicit TModel(const TAnimation& a) : A_(a) {
        bool anyKey = false;
        for (const TFrameSpec& f : a.Frames)
            anyKey = anyKey || f.Key >= 0;
        if (a.Frames[0].Key >= 0)
            Keyed = true;
        else if (!a.Global.empty() && anyKey)
            Background = a.Global[size_t(a.Background)];
        else
            Background = GetSysColor(COLOR_WINDOW);
    }

    std::vector<TColor> Picture(int n) const {
        std::vector<TColor> picture(size_t(A_.Width * A_.Height), Clear);
        for (int j = 0; j <= n; ++j) {
            const TFrameSpec& f = A_.Frames[size_t(j)];
            const std::vector<TColor> before = picture;
            for (int y = 0; y < f.Height; ++y)
                for (int x = 0; x < f.Width; ++x) {
                    const uint8_t index = f.Indices[size_t(y * f.Width + x)];
                    if (index != f.Key && Inside(f.Left + x, f.Top + y))
                        At(picture, f.Left + x, f.Top + y) = Table(f)[index];
                }
            if (j == n)
                break;
            if (f.Disposal == 2) {
                for (int y = f.Top; y < f.Top + f.Height; ++y)
                    for (int x = f.Left; x < f.Left + f.Width; ++x)
                        if (Inside(x, y))
                            At(picture, x, y) = Clear;
            } else if (f.Disposal == 3 || f.Disposal == 4) {
                picture = before;
            }
        }
        return picture;
    }

    // Clear pixels are transparent (the picture's own colour) ...
    bool Keyed = false;
    // ... or this colour, opaque.
    TColor Background = clNone;

private:
    const std::vector<TColor>& Table(const TFrameSpec& f) const { return f.Local.empty() ? A_.Global : f.Local; }
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < A_.Width && y < A_.Height; }
    TColor& At(std::vector<TColor>& picture, int x, int y) const { return picture[size_t(y * A_.Width + x)]; }

    const TAnimation& A_;
};

// Distinct colours, so that no key colour is moved by the reader.
std::vector<TColor> Palette(int count, int salt) {
    std::vector<TColor> colours;
    for (int i = 0; i < count; ++i)
        colours.push_back(RGBColor(20 + 29 * i % 200, 40 + (salt * 53 + 17 * i) % 200, 10 + 11 * (i + salt) % 240));
    return colours;
}

TFrameSpec Frame(std::mt19937& random, int left, int top, int width, int height, int disposal, int key, int colours,
                 std::vector<TColor> local = {}) {
    TFrameSpec f{left, top, width, height, disposal, key, std::move(local), {}};
    for (int i = 0; i < width * height; ++i)
        f.Indices.push_back(uint8_t(random() % 3 == 0 && key >= 0 ? key : random() % unsigned(colours)));
    return f;
}

std::vector<TAnimation> Animations() {
    std::mt19937 random(2026);
    std::vector<TAnimation> list;
    {
        TAnimation a{"every disposal 0 to 7, keys, local tables, offsets, frames partly outside", 24, 16,
                     Palette(8, 1), 2, {}};
        for (int i = 0; i < 16; ++i) {
            const int disposal = i % 8;
            const bool local = i % 3 == 1;
            const int colours = local ? 16 : 8;
            const int key = i % 4 == 3 ? -1 : int(random() % unsigned(colours));
            const int width = 6 + int(random() % 10), height = 4 + int(random() % 8);
            // Some frames run past the right or bottom edge.
            const int left = int(random() % 22), top = int(random() % 14);
            a.Frames.push_back(Frame(random, left, top, width, height, disposal, key, colours,
                                     local ? Palette(16, i) : std::vector<TColor>{}));
        }
        a.Frames[0].Key = 5;
        list.push_back(a);
    }
    {
        TAnimation a{"backdrop colour: the active frame has no key, a later one has", 20, 12, Palette(4, 2), 3, {}};
        a.Frames.push_back(Frame(random, 2, 2, 8, 6, 1, -1, 4));
        a.Frames.push_back(Frame(random, 8, 4, 10, 6, 2, 1, 4));
        a.Frames.push_back(Frame(random, 0, 0, 6, 12, 1, 0, 4));
        list.push_back(a);
    }
    {
        TAnimation a{"window colour: no key anywhere", 20, 12, Palette(4, 3), 1, {}};
        a.Frames.push_back(Frame(random, 3, 1, 8, 6, 2, -1, 4));
        a.Frames.push_back(Frame(random, 9, 5, 10, 6, 1, -1, 4));
        list.push_back(a);
    }
    {
        TAnimation a{"first-frame search: full-screen frames opaque, cleared and restored", 16, 10, Palette(8, 4), 0,
                     {}};
        a.Frames.push_back(Frame(random, 0, 0, 16, 10, 1, 4, 8));
        a.Frames.push_back(Frame(random, 2, 2, 6, 4, 1, 4, 8));
        a.Frames.push_back(Frame(random, 0, 0, 16, 10, 1, -1, 8));   // opaque, full screen
        a.Frames.push_back(Frame(random, 5, 3, 6, 5, 3, 4, 8));      // restore previous
        a.Frames.push_back(Frame(random, 0, 0, 16, 10, 2, 4, 8));    // full screen, cleared
        a.Frames.push_back(Frame(random, 4, 4, 8, 6, 4, 2, 8));      // 4: restore previous
        a.Frames.push_back(Frame(random, 1, 1, 7, 7, 0, 2, 8));
        a.Frames.push_back(Frame(random, 0, 0, 16, 10, 6, -1, 8));   // opaque target, kept
        a.Frames.push_back(Frame(random, 3, 0, 9, 10, 1, 4, 8));
        list.push_back(a);
    }
    {
        TAnimation a{"a frame that covers the screen and is restored afterwards hides nothing", 14, 9,
                     Palette(8, 5), 0, {}};
        a.Frames.push_back(Frame(random, 0, 0, 14, 9, 1, 6, 8));
        a.Frames.push_back(Frame(random, 3, 2, 6, 5, 1, 6, 8));
        a.Frames.push_back(Frame(random, 0, 0, 14, 9, 3, -1, 8));    // opaque, restore previous
        a.Frames.push_back(Frame(random, 7, 4, 5, 4, 0, 6, 8));
        a.Frames.push_back(Frame(random, 0, 0, 14, 9, 4, -1, 8));    // opaque, 4: restored like 3
        a.Frames.push_back(Frame(random, 1, 5, 6, 3, 1, 6, 8));
        list.push_back(a);
    }
    {
        TAnimation a{"a frame of the screen's size at an offset leaves a strip to the frames before", 12, 8,
                     Palette(8, 6), 0, {}};
        a.Frames.push_back(Frame(random, 0, 0, 12, 8, 1, 2, 8));
        a.Frames.push_back(Frame(random, 0, 0, 5, 8, 1, 2, 8));
        a.Frames.push_back(Frame(random, 2, 1, 12, 8, 1, -1, 8));    // opaque, runs off two edges
        a.Frames.push_back(Frame(random, 6, 2, 3, 3, 0, 2, 8));
        list.push_back(a);
    }
    {
        TAnimation a{"later frames draw the first frame's key colour as an ordinary colour", 12, 8, Palette(8, 7), 0,
                     {}};
        a.Frames.push_back(Frame(random, 0, 0, 12, 8, 1, 3, 8));
        a.Frames.push_back(Frame(random, 2, 1, 7, 5, 2, 5, 8));      // index 3 opaque, then cleared
        a.Frames.push_back(Frame(random, 4, 3, 8, 5, 1, -1, 8));     // every index opaque
        list.push_back(a);
    }
    {
        const std::vector<TColor> blackWhite{clBlack, clWhite}, whiteBlack{clWhite, clBlack};
        TAnimation a{"black and white frames keyed on black and on white, global and local tables", 10, 8, blackWhite,
                     0, {}};
        a.Frames.push_back(Frame(random, 0, 0, 10, 8, 1, 0, 2));     // keyed on black
        a.Frames.push_back(Frame(random, 1, 1, 6, 5, 1, 1, 2));      // keyed on white
        a.Frames.push_back(Frame(random, 4, 2, 6, 6, 0, 0, 2, whiteBlack));  // local, keyed on white
        a.Frames.push_back(Frame(random, 0, 4, 7, 4, 1, 1, 2, whiteBlack));  // local, keyed on black
        list.push_back(a);
    }
    {
        TAnimation a{"frames larger than the screen, and one wholly outside it", 10, 8, Palette(8, 8), 0, {}};
        a.Frames.push_back(Frame(random, 0, 0, 10, 8, 1, 6, 8));
        a.Frames.push_back(Frame(random, 0, 0, 31, 22, 1, 6, 8));                 // past two edges, keyed
        a.Frames.push_back(Frame(random, 3, 2, 26, 9, 2, -1, 8));                 // opaque, cleared
        a.Frames.push_back(Frame(random, 12, 9, 6, 5, 1, -1, 8));                 // wholly outside
        a.Frames.push_back(Frame(random, 2, 0, 20, 30, 3, 1, 8, Palette(8, 9)));  // restored
        a.Frames.push_back(Frame(random, 0, 0, 40, 40, 0, -1, 8));                // covers the screen, opaque
        a.Frames.push_back(Frame(random, 0, 1, 12, 12, 1, 6, 8));
        list.push_back(a);
    }
    return list;
}

::testing::AssertionResult Matches(TBitmap& picture, const std::vector<TColor>& expected, const TModel& model,
                                   TColor transparent, int width, int height) {
    if (picture.Width() != width || picture.Height() != height)
        return ::testing::AssertionFailure() << "size " << picture.Width() << " x " << picture.Height();
    if (model.Keyed == (transparent == clNone))
        return ::testing::AssertionFailure() << "transparent colour " << std::hex << transparent;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TColor drawn = expected[size_t(y * width + x)];
            const TColor want = (drawn != Clear ? drawn : model.Keyed ? transparent : model.Background) & 0xFFFFFF;
            const TColor got = picture.PixelColor(x, y);
            char text[128];
            if (got != want)
                snprintf(text, sizeof text, "pixel (%d, %d) is %06X, the model says %06X", x, y, unsigned(got),
                         unsigned(want));
            else if (drawn != Clear && (drawn & 0xFFFFFF) == transparent)
                snprintf(text, sizeof text, "pixel (%d, %d) is drawn in the transparent colour %06X", x, y,
                         unsigned(transparent));
            else
                continue;
            return ::testing::AssertionFailure() << text;
        }
    return ::testing::AssertionSuccess();
}

// The picture drawn as the animator paints it, over a colour: what no frame
// drew shows that colour when the picture is keyed; the rest is the model's.
::testing::AssertionResult DrawnOverMatches(TBitmap& picture, const std::vector<TColor>& expected,
                                            const TModel& model, TColor transparent) {
    constexpr TColor Under = RGBColor(3, 251, 7);
    TBitmap target;
    target.SetPixelBits(32);
    target.SetSize(picture.Width(), picture.Height());
    target.Canvas().Brush().SetColor(Under);
    target.Canvas().FillRect(TRect{0, 0, picture.Width(), picture.Height()});
    DrawComposedPicture(target.Canvas(), TRect{0, 0, picture.Width(), picture.Height()}, picture, transparent, true);
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const TColor drawn = expected[size_t(y * picture.Width() + x)];
            const TColor want = (drawn != Clear ? drawn : model.Keyed ? Under : model.Background) & 0xFFFFFF;
            const TColor got = target.PixelColor(x, y);
            if (got != want) {
                char text[128];
                snprintf(text, sizeof text, "drawn pixel (%d, %d) is %06X, the model says %06X", x, y, unsigned(got),
                         unsigned(want));
                return ::testing::AssertionFailure() << text;
            }
        }
    return ::testing::AssertionSuccess();
}

std::unique_ptr<TBitmap> NewPicture() { return std::make_unique<TBitmap>(); }

}  // namespace

TEST(Composition, PlayedAndJumpedFramesAreTheModelsPicture) {
    for (const TAnimation& a : Animations()) {
        SCOPED_TRACE(a.Name);
        auto image = LoadGif(Encode(a));
        ASSERT_EQ(image->FrameCount(), int(a.Frames.size()));
        const TModel model(a);
        TGIFComposition played(NewPicture);
        for (int n = 0; n < image->FrameCount(); ++n) {
            const std::vector<TColor> expected = model.Picture(n);
            TColor transparent = clNone;
            TBitmap* picture = played.ComposeFrame(*image, n, transparent, true);
            EXPECT_TRUE(Matches(*picture, expected, model, transparent, a.Width, a.Height)) << "played to frame " << n;
            EXPECT_TRUE(DrawnOverMatches(*picture, expected, model, transparent)) << "played to frame " << n;
            EXPECT_EQ(GetCurrentObject(picture->Canvas().Handle(), OBJ_PAL), GetStockObject(DEFAULT_PALETTE))
                << "the image's palette is selected back out of the picture, frame " << n;

            TGIFComposition jumped(NewPicture);
            TColor jumpedTransparent = clNone;
            picture = jumped.ComposeFrame(*image, n, jumpedTransparent, true);
            EXPECT_TRUE(Matches(*picture, expected, model, jumpedTransparent, a.Width, a.Height))
                << "jumped to frame " << n;
            EXPECT_TRUE(DrawnOverMatches(*picture, expected, model, jumpedTransparent)) << "jumped to frame " << n;
            EXPECT_EQ(jumpedTransparent, transparent) << "transparent colour on both paths, frame " << n;
            EXPECT_EQ(picture->Transparent(), model.Keyed) << "own transparent mode, frame " << n;
        }
        // Backwards from the last frame: every step rebuilds.
        for (int n = image->FrameCount() - 1; n >= 0; --n) {
            TColor transparent = clNone;
            TBitmap* picture = played.ComposeFrame(*image, n, transparent, true);
            EXPECT_TRUE(Matches(*picture, model.Picture(n), model, transparent, a.Width, a.Height))
                << "stepped back to frame " << n;
            EXPECT_TRUE(DrawnOverMatches(*picture, model.Picture(n), model, transparent))
                << "stepped back to frame " << n;
        }
    }
}

TEST(Composition, PictureRectCentresStretchesOrKeepsTheCorner) {
    struct Case {
        const char* Name;
        int ClientWidth, ClientHeight;
        bool Center, Stretch;
        TRect Expected;
    } cases[] = {
        {"centred, splash strip", 413, 50, true, false, {6, 0, 406, 50}},
        {"centred, odd excess on the right", 11, 9, true, false, {3, 2, 7, 7}},
        {"centred, client smaller: cut equally, odd pixel on the right", 397, 45, true, false, {-1, -2, 399, 48}},
        {"stretch wins over centre", 300, 20, true, true, {0, 0, 300, 20}},
        {"neither: top-left corner, client smaller", 100, 10, false, false, {0, 0, 400, 50}},
    };
    for (const Case& c : cases) {
        const int pw = std::string(c.Name).find("odd excess") != std::string::npos ? 4 : 400;
        const int ph = std::string(c.Name).find("odd excess") != std::string::npos ? 5 : 50;
        EXPECT_EQ(PictureRect(c.ClientWidth, c.ClientHeight, pw, ph, c.Center, c.Stretch), c.Expected) << c.Name;
    }
}

namespace {

// The process's peak working set; ctest runs each test in a process of its own.
uint64_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PeakWorkingSetSize;
}

constexpr TColor Under = RGBColor(3, 251, 7);

// The picture drawn keyed over Under, as the animator paints it.
std::unique_ptr<TBitmap> DrawnOverUnder(TBitmap& picture, TColor transparent) {
    auto target = std::make_unique<TBitmap>();
    target->SetPixelBits(32);
    target->SetSize(picture.Width(), picture.Height());
    target->Canvas().Brush().SetColor(Under);
    target->Canvas().FillRect(TRect{0, 0, picture.Width(), picture.Height()});
    DrawComposedPicture(target->Canvas(), TRect{0, 0, picture.Width(), picture.Height()}, picture, transparent, true);
    return target;
}

::testing::AssertionResult PixelsAre(TBitmap& bitmap, const std::function<TColor(int, int)>& expected) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.PixelColor(x, y) != (expected(x, y) & 0xFFFFFF)) {
                char text[96];
                snprintf(text, sizeof text, "pixel (%d, %d) is %06X, expected %06X", x, y,
                         unsigned(bitmap.PixelColor(x, y)), unsigned(expected(x, y) & 0xFFFFFF));
                return ::testing::AssertionFailure() << text;
            }
    return ::testing::AssertionSuccess();
}

}  // namespace

// A 64 x 64 screen that shows the corner of a 12000 x 12000 frame: the
// draw makes and reads what shows, not the frame (it made two bitmaps of
// 576 MB, of which i686 could not have the second, and kept a scan buffer
// of the whole frame).
TEST(Composition, AFrameFarLargerThanTheScreenIsDrawnThroughWhatShows) {
    using namespace gifwriter;
    for (const int colours : {2, 4, 256}) {
        SCOPED_TRACE(std::to_string(colours) + " colours");
        auto image = LoadGif(HugeFrame(colours));
        TJvGIFFrame& frame = *image->FrameAt(0);
        ASSERT_EQ(frame.FrameWidth(), HugeFrameSize);
        // Only the frame's pixels are held, no copy of them in the display's form.
        const int bits = colours == 2 ? 1 : colours == 4 ? 4 : 8;
        EXPECT_EQ(image->DecodedPixelBytes(), uint64_t((HugeFrameSize * bits + 31) / 32 * 4) * HugeFrameSize);
        const uint64_t peak = PeakWorkingSet();
        TGIFComposition composition(NewPicture);
        TColor transparent = clNone;
        TBitmap* picture = composition.ComposeFrame(*image, 0, transparent, true);
        ASSERT_NE(transparent, clNone);
        EXPECT_TRUE(PixelsAre(*DrawnOverUnder(*picture, transparent), [&](int x, int y) {
            const int index = HugeFrameIndex(x, y, colours);
            const Rgb c = HugeFrameColor(index);
            return index == 0 ? Under : RGBColor(c.R, c.G, c.B);
        }));
        EXPECT_LT(PeakWorkingSet() - peak, uint64_t(16) << 20) << "the peak working set grew while drawing";
        EXPECT_FALSE(frame.FrameBitmap()->HandleAllocated()) << "a GDI bitmap of the whole frame was made";
    }
}

// A frame wholly outside the screen is not even decoded.
TEST(Composition, AFrameWhollyOutsideTheScreenCostsNothing) {
    using namespace gifwriter;
    const std::vector<Rgb> table{{0, 0, 0}, {250, 10, 10}, {10, 250, 10}, {10, 10, 250}};
    ImageSpec small;
    small.Width = 8;
    small.Height = 6;
    for (int i = 0; i < 48; ++i)
        small.Indices.push_back(uint8_t(i % 4));
    const Bytes bytes = GifWriter()
                            .Header()
                            .Screen(8, 6, table)
                            .GraphicControl(1, 10, 0)
                            .Image(small)
                            .GraphicControl(1, 10, 0)
                            .ImageDescriptor(8, 0, HugeFrameSize, HugeFrameSize)
                            .Raw(RasterBlock(2, LzwEncode(Bytes{1, 2, 3}, 2)))
                            .Trailer()
                            .Finish();
    auto image = LoadGif(bytes);
    ASSERT_EQ(image->FrameCount(), 2);
    const uint64_t decoded = image->DecodedPixelBytes();
    for (const bool jump : {true, false}) {
        TGIFComposition composition(NewPicture);
        TColor transparent = clNone;
        if (!jump)
            composition.ComposeFrame(*image, 0, transparent, true);
        transparent = clNone;
        TBitmap* picture = composition.ComposeFrame(*image, 1, transparent, true);
        auto drawn = DrawnOverUnder(*picture, transparent);
        EXPECT_TRUE(PixelsAre(*drawn, [&](int x, int y) {
            const int index = (y * 8 + x) % 4;
            return index == 0 ? Under : RGBColor(table[index].R, table[index].G, table[index].B);
        })) << (jump ? "jumped" : "played");
    }
    TBitmap* outside = image->FrameAt(1)->CachedBitmap();
    EXPECT_TRUE(!outside || outside->Empty()) << "the frame outside was decoded";
    EXPECT_EQ(image->DecodedPixelBytes(), decoded);
}

// Frames made from bitmaps have no colour table: the colours their pixels
// draw must keep the picture's transparent colour off too. Keyed on the
// colour of the frame beneath, the picture showed the parent there.
TEST(Composition, FramesMadeFromBitmapsNeverDrawThePicturesTransparentColour) {
    constexpr TColor shared = RGBColor(10, 20, 30), green = RGBColor(0, 160, 0), red = RGBColor(200, 0, 0);
    auto filled = [](const std::vector<std::pair<TRect, TColor>>& areas) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetSize(8, 6);
        for (const auto& [rect, colour] : areas) {
            bitmap->Canvas().Brush().SetColor(colour);
            bitmap->Canvas().FillRect(rect);
        }
        return bitmap;
    };
    auto beneath = filled({{TRect{0, 0, 8, 6}, shared}, {TRect{0, 0, 2, 6}, green}});
    auto above = filled({{TRect{0, 0, 8, 6}, shared}, {TRect{4, 0, 8, 6}, red}});
    above->SetTransparentColor(shared);
    above->SetTransparent(true);
    TJvGIFImage image;
    image.AppendFrame(beneath.get());
    image.AppendFrame(above.get());
    ASSERT_EQ(image.FrameAt(0)->KeyColor(), clNone);
    ASSERT_EQ(image.FrameAt(1)->KeyColor(), shared);
    const auto expected = [&](int x, int) { return x < 2 ? green : x < 4 ? shared : red; };
    for (const bool jump : {true, false}) {
        SCOPED_TRACE(jump ? "jumped" : "played");
        TGIFComposition composition(NewPicture);
        TColor transparent = clNone;
        if (!jump)
            composition.ComposeFrame(image, 0, transparent, true);
        TBitmap* picture = composition.ComposeFrame(image, 1, transparent, true);
        ASSERT_NE(transparent, clNone);
        EXPECT_NE(transparent & 0xFFFFFF, shared) << "a colour the frame beneath draws";
        EXPECT_TRUE(PixelsAre(*DrawnOverUnder(*picture, transparent), expected));
        // Stretched, the draw tells the key by colour alone.
        TBitmap twice;
        twice.SetPixelBits(32);
        twice.SetSize(16, 12);
        DrawComposedPicture(twice.Canvas(), TRect{0, 0, 16, 12}, *picture, transparent, true);
        EXPECT_TRUE(PixelsAre(twice, [&](int x, int y) { return expected(x / 2, y / 2); })) << "stretched";
    }
}
