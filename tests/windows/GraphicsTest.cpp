// The graphics layer against real GDI: keyed drawing, frames drawing
// themselves, and no GDI object or DC left behind.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "GdiCount.h"
#include "GifImages.h"
#include "GifWriter.h"
#include "gif/JvGIF.h"
#include "graphics/Canvas.h"
#include "graphics/DrawSource.h"
#include "graphics/KeyedDraw.h"
#include "rtl/Bitmap.h"
#include "rtl/Streams.h"

namespace {

using TPixelFn = std::function<TColor(int x, int y)>;

// A bitmap of 1, 4, 8 or 24 bits per pixel loaded from a BMP stream; for the
// indexed formats value gives the palette index.
std::unique_ptr<TBitmap> MakeBitmap(int width, int height, int bits, const std::vector<TColor>& palette,
                                    const std::function<uint32_t(int, int)>& value) {
    const uint32_t stride = (uint32_t(width) * uint32_t(bits) + 31) / 32 * 4;
    const uint32_t entries = bits <= 8 ? 1u << bits : 0;
    TMemoryStream stream;
    WriteBitmapHeaders(stream, width, height, bits, entries, stride * uint32_t(height));
    std::vector<uint8_t> quads(4 * entries, 0);
    for (size_t i = 0; i < palette.size() && i < entries; ++i) {
        quads[4 * i] = BlueOf(palette[i]);
        quads[4 * i + 1] = GreenOf(palette[i]);
        quads[4 * i + 2] = RedOf(palette[i]);
    }
    stream.WriteBuffer(quads.data(), int64_t(quads.size()));
    for (int row = height - 1; row >= 0; --row) {
        std::vector<uint8_t> line(stride, 0);
        for (int x = 0; x < width; ++x) {
            const uint32_t v = value(x, row);
            switch (bits) {
            case 1: line[x / 8] |= uint8_t((v & 1) << (7 - x % 8)); break;
            case 4: line[x / 2] |= uint8_t(x % 2 == 0 ? v << 4 : v); break;
            case 8: line[x] = uint8_t(v); break;
            default:
                line[3 * x] = BlueOf(v);
                line[3 * x + 1] = GreenOf(v);
                line[3 * x + 2] = RedOf(v);
            }
        }
        stream.WriteBuffer(line.data(), stride);
    }
    stream.SetPosition(0);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromStream(stream);
    return bitmap;
}

std::unique_ptr<TBitmap> TrueColour(int width, int height, const TPixelFn& colour) {
    return MakeBitmap(width, height, 24, {}, [&](int x, int y) { return colour(x, y); });
}

std::string Hex(TColor colour) {
    char text[16];
    snprintf(text, sizeof text, "%06X", unsigned(colour & 0xFFFFFF));
    return text;
}

// Every pixel of the bitmap against expected; the first difference is reported.
::testing::AssertionResult PixelsAre(TBitmap& bitmap, const TPixelFn& expected) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TColor want = expected(x, y) & 0xFFFFFF;
            const TColor got = bitmap.PixelColor(x, y);
            if (got != want)
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << Hex(got)
                                                     << ", expected " << Hex(want);
        }
    return ::testing::AssertionSuccess();
}

constexpr TColor Key = RGBColor(255, 0, 255);
constexpr TColor Grey = RGBColor(214, 214, 214);

TColor Pattern(int x, int y) { return (x + y) % 3 == 0 ? Key : RGBColor(10 * x, 20 * y, 100); }
TColor Backdrop(int x, int y) { return RGBColor(200, 5 * x, 5 * y); }

bool Inside(int x, int y, int left, int top, int width, int height) {
    return x >= left && y >= top && x < left + width && y < top + height;
}

}  // namespace

TEST(KeyedDrawing, KeyPixelsKeepTheDestinationOtherPixelsAreTheSources) {
    auto target = TrueColour(20, 12, Backdrop);
    TCanvas& canvas = target->Canvas();

    {
        SCOPED_TRACE("same size");
        auto source = TrueColour(12, 8, Pattern);
        KeyedDrawRect(canvas, 4, 2, 12, 8, TRect{0, 0, 12, 8}, *source, Key);
        EXPECT_TRUE(PixelsAre(*target, [](int x, int y) {
            if (!Inside(x, y, 4, 2, 12, 8) || Pattern(x - 4, y - 2) == Key)
                return Backdrop(x, y);
            return Pattern(x - 4, y - 2);
        }));
    }
    {
        SCOPED_TRACE("stretched x2");
        target = TrueColour(20, 12, Backdrop);
        auto source = TrueColour(6, 4, Pattern);
        KeyedDrawRect(target->Canvas(), 3, 2, 12, 8, TRect{0, 0, 6, 4}, *source, Key);
        EXPECT_TRUE(PixelsAre(*target, [](int x, int y) {
            if (!Inside(x, y, 3, 2, 12, 8) || Pattern((x - 3) / 2, (y - 2) / 2) == Key)
                return Backdrop(x, y);
            return Pattern((x - 3) / 2, (y - 2) / 2);
        }));
    }
    {
        SCOPED_TRACE("stretched x0.5 (2 x 2 blocks, so any pixel of a block may stand for it)");
        target = TrueColour(20, 12, Backdrop);
        auto source = TrueColour(12, 8, [](int x, int y) { return Pattern(x / 2, y / 2); });
        KeyedDrawRect(target->Canvas(), 5, 3, 6, 4, TRect{0, 0, 12, 8}, *source, Key);
        EXPECT_TRUE(PixelsAre(*target, [](int x, int y) {
            if (!Inside(x, y, 5, 3, 6, 4) || Pattern(x - 5, y - 3) == Key)
                return Backdrop(x, y);
            return Pattern(x - 5, y - 3);
        }));
    }
    {
        SCOPED_TRACE("clNone: one copy with the canvas's copy mode, key pixels included");
        target = TrueColour(20, 12, Backdrop);
        auto source = TrueColour(12, 8, Pattern);
        target->Canvas().SetCopyMode(NOTSRCCOPY);
        KeyedDrawRect(target->Canvas(), 4, 2, 12, 8, TRect{0, 0, 12, 8}, *source, clNone);
        target->Canvas().SetCopyMode(SRCCOPY);
        EXPECT_TRUE(PixelsAre(*target, [](int x, int y) {
            return Inside(x, y, 4, 2, 12, 8) ? ~Pattern(x - 4, y - 2) & 0xFFFFFF : Backdrop(x, y);
        }));
    }
    {
        SCOPED_TRACE("clDefault: the bottom-left pixel is the key, though the source rectangle leaves it out");
        constexpr TColor corner = RGBColor(0, 255, 0);
        auto withCorner = [](int x, int y) { return (x * y) % 5 == 1 || (x == 0 && y == 7) ? corner : Pattern(x, y); };
        target = TrueColour(20, 12, Backdrop);
        auto source = TrueColour(12, 8, withCorner);
        KeyedDrawRect(target->Canvas(), 4, 2, 11, 7, TRect{1, 0, 12, 7}, *source, clDefault);
        EXPECT_TRUE(PixelsAre(*target, [&](int x, int y) {
            if (!Inside(x, y, 4, 2, 11, 7) || withCorner(x - 3, y - 2) == corner)
                return Backdrop(x, y);
            return withCorner(x - 3, y - 2);
        }));
    }
    {
        SCOPED_TRACE("monochrome black and white: keyed on white whatever the key asked");
        target = TrueColour(20, 12, Backdrop);
        auto source = MakeBitmap(12, 8, 1, {clBlack, clWhite}, [](int x, int y) { return (x + 2 * y) % 3 == 0; });
        KeyedDrawRect(target->Canvas(), 4, 2, 12, 8, TRect{0, 0, 12, 8}, *source, RGBColor(255, 0, 0));
        EXPECT_TRUE(PixelsAre(*target, [](int x, int y) {
            if (!Inside(x, y, 4, 2, 12, 8) || (x - 4 + 2 * (y - 2)) % 3 == 0)
                return Backdrop(x, y);
            return clBlack;
        }));
    }
    {
        SCOPED_TRACE("monochrome black and white with a key colour of its own: keyed on that colour");
        target = TrueColour(20, 12, Backdrop);
        auto source = MakeBitmap(12, 8, 1, {clBlack, clWhite}, [](int x, int y) { return (x + 2 * y) % 3 == 0; });
        source->SetTransparentColor(clBlack);
        KeyedDrawRect(target->Canvas(), 4, 2, 12, 8, TRect{0, 0, 12, 8}, *source, clBlack);
        EXPECT_TRUE(PixelsAre(*target, [](int x, int y) {
            if (!Inside(x, y, 4, 2, 12, 8) || (x - 4 + 2 * (y - 2)) % 3 != 0)
                return Backdrop(x, y);
            return clWhite;
        }));
    }
    // The high bit alone makes a system colour: 0x8000000F is the button face as 0xFF00000F is.
    for (const TColor key : {clBtnFace, TColor(0x80000000u | COLOR_BTNFACE)}) {
        char name[16];
        snprintf(name, sizeof name, "%08X", unsigned(key));
        SCOPED_TRACE(std::string("a system colour as key is resolved to its RGB value: ") + name);
        const TColor face = GetSysColor(COLOR_BTNFACE);
        auto withFace = [&](int x, int y) { return (x + y) % 4 == 0 ? face : Pattern(x, y) == Key ? clBlack : Pattern(x, y); };
        target = TrueColour(20, 12, Backdrop);
        auto source = TrueColour(12, 8, withFace);
        KeyedDrawRect(target->Canvas(), 4, 2, 12, 8, TRect{0, 0, 12, 8}, *source, key);
        EXPECT_TRUE(PixelsAre(*target, [&](int x, int y) {
            if (!Inside(x, y, 4, 2, 12, 8) || withFace(x - 4, y - 2) == face)
                return Backdrop(x, y);
            return withFace(x - 4, y - 2);
        }));
    }
    {
        SCOPED_TRACE("afterwards: colour-on-colour stretching in the target, the target's mapping mode in the source");
        target = TrueColour(20, 12, Backdrop);
        auto source = TrueColour(12, 8, Pattern);
        TCanvasLock targetLock(target->Canvas());
        TCanvasLock sourceLock(source->Canvas());
        HDC targetDC = target->Canvas().Handle();
        SetStretchBltMode(targetDC, BLACKONWHITE);
        // Anisotropic with equal extents maps like MM_TEXT, so the drawing is unchanged.
        SetMapMode(targetDC, MM_ANISOTROPIC);
        SetWindowExtEx(targetDC, 1, 1, nullptr);
        SetViewportExtEx(targetDC, 1, 1, nullptr);
        KeyedDrawRect(target->Canvas(), 4, 2, 12, 8, TRect{0, 0, 12, 8}, *source, Key);
        EXPECT_EQ(GetStretchBltMode(targetDC), COLORONCOLOR);
        EXPECT_EQ(GetMapMode(source->Canvas().Handle()), MM_ANISOTROPIC);
        EXPECT_FALSE(source->Canvas().OnChanging == nullptr) << "the source's hook is back";
        EXPECT_EQ(source->Canvas().LockCount(), 1) << "only this test's lock is held";
        SetMapMode(targetDC, MM_TEXT);
    }
}

TEST(FrameDrawing, SplashFramesDrawnKeyedOverGreyShowTheStrip) {
    auto splash = LoadSplashAnimation();
    TJvGIFImage& image = *splash;
    ASSERT_EQ(image.FrameCount(), 12);
    constexpr TColor idle = RGBColor(175, 196, 219), trail = RGBColor(120, 152, 186), runner = RGBColor(25, 59, 101);
    for (int f = 0; f < 12; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        // Frames 0 and 1 paint every square; later ones the runner, its trail and the square left idle again.
        auto square = [f](int k) -> TColor {
            if (k == f)
                return runner;
            if (k == (f + 11) % 12)
                return trail;
            if (f < 2 || k == (f + 10) % 12)
                return idle;
            return Grey;
        };
        auto target = TrueColour(400, 50, [](int, int) { return Grey; });
        image.FrameAt(f)->DrawFrame(target->Canvas(), TRect{0, 0, 400, 50}, true);
        EXPECT_TRUE(PixelsAre(*target, [&](int x, int y) {
            const int k = (x - 47) / 26;
            if (y < 15 || y > 35 || x < 47 || k > 11 || (x - 47) % 26 > 20)
                return Grey;
            return square(k);
        }));
    }
}

// The key index on a third of the pixels, other indices elsewhere.
int Index(int x, int y, int colours, int key) {
    if ((x + y) % 3 == 0)
        return key;
    const int index = (x * 5 + y * 3) % colours;
    return index == key ? (key + 1) % colours : index;
}

TEST(FrameDrawing, FramesOfDepth1And4And8DrawOpaqueAndKeyed) {
    using gifwriter::Rgb;
    struct Case {
        const char* Name;
        int Colours;
        int KeyIndex;
        std::vector<Rgb> Table;  // empty: colours made up here
    };
    const Case cases[] = {{"depth 1 (a two-colour frame keyed on its second colour)", 2, 1, {}},
                          {"depth 4", 16, 5, {}},
                          {"depth 8", 256, 200, {}},
                          {"depth 1, black and white keyed on black", 2, 0, {{0, 0, 0}, {255, 255, 255}}}};
    constexpr int count = int(std::size(cases));
    constexpr int width = 11, height = 7;
    gifwriter::GifWriter writer;
    writer.Header().Screen(width, height);
    std::vector<std::vector<TColor>> tables;
    for (const Case& c : cases) {
        std::vector<Rgb> table = c.Table;
        for (int i = int(table.size()); i < c.Colours; ++i)
            table.push_back(Rgb{uint8_t(255 - i), uint8_t(i * 7), uint8_t(i == 0 ? 255 : i * 3)});
        std::vector<TColor> colours;
        for (const Rgb& rgb : table)
            colours.push_back(RGBColor(rgb.R, rgb.G, rgb.B));
        tables.push_back(colours);
        gifwriter::ImageSpec spec;
        spec.Width = width;
        spec.Height = height;
        spec.LocalTable = table;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                spec.Indices.push_back(uint8_t(Index(x, y, c.Colours, c.KeyIndex)));
        writer.GraphicControl(1, 10, c.KeyIndex).Image(spec);
    }
    auto loaded = LoadGif(writer.Trailer().Finish());
    TJvGIFImage& image = *loaded;
    ASSERT_EQ(image.FrameCount(), count);
    for (int i = 0; i < count; ++i) {
        const Case& c = cases[i];
        auto colour = [&](int x, int y) { return tables[i][Index(x, y, c.Colours, c.KeyIndex)]; };
        TJvGIFFrame* frame = image.FrameAt(i);
        for (bool transparent : {false, true}) {
            SCOPED_TRACE(std::string(c.Name) + (transparent ? ", keyed" : ", opaque"));
            auto target = TrueColour(width + 4, height + 2, Backdrop);
            // The frame's palette is selected into the target for the draw only.
            TCanvasLock lock(target->Canvas());
            HDC targetDC = target->Canvas().Handle();
            const HGDIOBJ palette = GetCurrentObject(targetDC, OBJ_PAL);
            frame->DrawFrame(target->Canvas(), TRect{2, 1, width + 2, height + 1}, transparent);
            EXPECT_EQ(GetCurrentObject(targetDC, OBJ_PAL), palette) << "the target's palette afterwards";
            EXPECT_TRUE(PixelsAre(*target, [&](int x, int y) {
                if (!Inside(x, y, 2, 1, width, height) || (transparent && (x - 2 + y - 1) % 3 == 0))
                    return Backdrop(x, y);
                return colour(x - 2, y - 1);
            }));
        }
    }
    // The image draws its active frame keyed, since its frames have key colours.
    image.SetActiveFrameIndex(1);
    auto target = TrueColour(width, height, Backdrop);
    target->Canvas().StretchDraw(TRect{0, 0, width, height}, &image);
    EXPECT_TRUE(PixelsAre(*target, [&](int x, int y) {
        return (x + y) % 3 == 0 ? Backdrop(x, y) : tables[1][Index(x, y, 16, 5)];
    })) << "the image's draw";
}

// A draw into a rectangle of no width or height shows nothing, keyed or not;
// a keyed one drew the whole picture at its own size instead.
TEST(FrameDrawing, NothingIsDrawnIntoAnEmptyRectangle) {
    auto bitmap = TrueColour(8, 6, Pattern);
    gifwriter::GifWriter writer;
    writer.Header().Screen(8, 6, {{255, 0, 255}, {0, 0, 255}});
    gifwriter::ImageSpec spec;
    spec.Width = 8;
    spec.Height = 6;
    for (int i = 0; i < 48; ++i)
        spec.Indices.push_back(uint8_t(i % 3 == 0 ? 0 : 1));
    writer.GraphicControl(1, 10, 0).Image(spec);
    auto image = LoadGif(writer.Trailer().Finish());
    ASSERT_NE(image->FrameAt(0)->KeyColor(), clNone);
    for (const TRect rect : {TRect{3, 2, 3, 9}, TRect{3, 2, 12, 2}, TRect{5, 5, 5, 5}}) {
        for (bool transparent : {false, true}) {
            SCOPED_TRACE(std::to_string(rect.Left) + ", " + std::to_string(rect.Top) + ", " +
                         std::to_string(rect.Right) + ", " + std::to_string(rect.Bottom) +
                         (transparent ? ", keyed" : ", opaque"));
            bitmap->SetTransparentColor(Key);
            bitmap->SetTransparent(transparent);
            image->SetTransparent(transparent);
            const std::pair<const char*, std::function<void(TCanvas&)>> draws[] = {
                {"a bitmap", [&](TCanvas& canvas) { canvas.StretchDraw(rect, bitmap.get()); }},
                {"a GIF frame", [&](TCanvas& canvas) { image->FrameAt(0)->DrawFrame(canvas, rect, transparent); }},
                {"a GIF image", [&](TCanvas& canvas) { canvas.StretchDraw(rect, image.get()); }}};
            for (const auto& [what, draw] : draws) {
                auto target = TrueColour(20, 12, Backdrop);
                draw(target->Canvas());
                EXPECT_TRUE(PixelsAre(*target, Backdrop)) << what;
            }
        }
    }
}

namespace {

// A graphic a bitmap cannot copy: it only draws itself, a bar over the left
// half of its rectangle.
class TBar : public TGraphic {
public:
    const char* ClassName() const override { return "TBar"; }
    bool Empty() override { return false; }
    int Width() override { return 8; }
    int Height() override { return 4; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
    void Draw(TCanvas& canvas, const TRect& rect) override {
        TBrush& brush = canvas.Brush();
        const TColor saved = brush.Color();
        brush.SetColor(RGBColor(0, 128, 0));
        canvas.FillRect(TRect{rect.Left, rect.Top, (rect.Left + rect.Right) / 2, rect.Bottom});
        brush.SetColor(saved);
    }
};

}  // namespace

TEST(FrameDrawing, AGraphicABitmapCannotCopyIsDrawnOverMagentaWhichBecomesTheKey) {
    TBar bar;
    bar.SetTransparent(true);
    TJvGIFImage image;
    image.AppendFrame(&bar);
    TJvGIFFrame& frame = *image.FrameAt(0);
    EXPECT_EQ(frame.KeyColor(), RGBColor(255, 0, 255)) << "the brush colour the bar was drawn over";
    auto target = TrueColour(8, 4, Backdrop);
    frame.DrawFrame(target->Canvas(), TRect{0, 0, 8, 4}, true);
    EXPECT_TRUE(PixelsAre(*target, [](int x, int y) { return x < 4 ? RGBColor(0, 128, 0) : Backdrop(x, y); }));

    // Assigned to a bitmap, the frame hands on its key as the nearest colour the bitmap can show.
    TBitmap copy;
    copy.Assign(&frame);
    EXPECT_TRUE(copy.Transparent());
    EXPECT_EQ(copy.TransparentColor(), RGBColor(255, 0, 255));
}

// An unstretched draw between true-colour bitmaps copies the opaque pixels
// through a clipping region; it must leave what the eight raster operations
// of KeyedBlit leave, wherever the target's origin and clipping put it.
TEST(KeyedDrawing, ClippedCopyLeavesWhatTheMasksLeave) {
    // Key runs of varying length, rows that repeat (bands) and rows that do not.
    const TPixelFn runs = [](int x, int y) {
        return (x * 7 + (y / 3) * 5) % 11 < 3 || (y == 9 && x % 2) ? Key : RGBColor(9 * x, 255 - 11 * y, 77);
    };
    // More runs than a region is worth: every other pixel is the key.
    const TPixelFn checker = [](int x, int y) { return (x + y) % 2 ? Key : RGBColor(3 * x, 7 * y, 200); };
    struct Case {
        const char* Name;
        TPixelFn Pixels;
        bool DeviceDependent;
        int X, Y;
        TRect Source;
        POINT Origin;
        RECT Clip;
    } cases[] = {
        {"whole source", runs, false, 5, 3, {0, 0, 37, 23}, {0, 0}, {0, 0, 0, 0}},
        {"display's format", runs, true, 5, 3, {0, 0, 37, 23}, {0, 0}, {0, 0, 0, 0}},
        {"part of the source, partly outside the target", runs, true, -7, 20, {4, 2, 30, 20}, {0, 0}, {0, 0, 0, 0}},
        {"moved origin and clipped", runs, true, 2, 1, {0, 0, 37, 23}, {9, 4}, {12, 6, 40, 20}},
        {"too many runs", checker, true, 3, 3, {0, 0, 37, 23}, {0, 0}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto source = TrueColour(37, 23, c.Pixels);
        if (c.DeviceDependent)
            source->SetHandleType(bmDDB);
        auto drawn = TrueColour(50, 30, Backdrop);
        auto masked = TrueColour(50, 30, Backdrop);
        const int width = c.Source.Right - c.Source.Left, height = c.Source.Bottom - c.Source.Top;
        for (TBitmap* target : {drawn.get(), masked.get()}) {
            TCanvas& canvas = target->Canvas();
            TCanvasLock lock(canvas);
            TScopedSaveDC saved(canvas.Handle());
            SetViewportOrgEx(canvas.Handle(), c.Origin.x, c.Origin.y, nullptr);
            if (c.Clip.right > 0)
                IntersectClipRect(canvas.Handle(), c.Clip.left, c.Clip.top, c.Clip.right, c.Clip.bottom);
            if (target == drawn.get()) {
                KeyedDrawRect(canvas, c.X, c.Y, width, height, c.Source, *source, Key);
            } else {
                TCanvasLock sourceLock(source->Canvas());
                canvas.Changing();
                KeyedBlit(canvas.Handle(), c.X, c.Y, width, height, source->Canvas().Handle(), c.Source.Left,
                          c.Source.Top, width, height, nullptr, ColorToRGB(Key));
            }
        }
        EXPECT_TRUE(PixelsAre(*drawn, [&](int x, int y) { return masked->PixelColor(x, y); }));
        EXPECT_FALSE(PixelsAre(*drawn, Backdrop)) << "something was drawn";
    }
}

// A source rectangle that reaches past the bitmap has no pixels there: they
// leave the target as it was, as the opaque draw leaves it; the masks took
// them for opaque black.
TEST(KeyedDrawing, TheSourceOutsideTheBitmapLeavesTheTarget) {
    auto source = TrueColour(8, 6, Pattern);
    for (const int scale : {1, 2}) {
        for (const TRect part : {TRect{-4, -4, 8, 6}, TRect{3, 2, 12, 9}}) {
            SCOPED_TRACE(testing::Message() << "x" << scale << " from " << part.Left << ", " << part.Top);
            const int width = (part.Right - part.Left) * scale, height = (part.Bottom - part.Top) * scale;
            auto target = TrueColour(30, 24, Backdrop);
            KeyedDrawRect(target->Canvas(), 2, 1, width, height, part, *source, Key);
            EXPECT_TRUE(PixelsAre(*target, [&](int x, int y) {
                if (!Inside(x, y, 2, 1, width, height))
                    return Backdrop(x, y);
                const int sx = (x - 2) / scale + part.Left, sy = (y - 1) / scale + part.Top;
                if (!Inside(sx, sy, 0, 0, 8, 6) || Pattern(sx, sy) == Key)
                    return Backdrop(x, y);
                return Pattern(sx, sy);
            }));
        }
    }
}

// A bitmap keeps what a keyed draw found in its pixels; every way of
// changing them must drop it, or the next draw shows the old pixels' shape.
TEST(KeyedDrawing, ADrawAfterTheSourceChangesShowsTheChange) {
    const TPixelFn striped = [](int x, int y) { return x % 5 < 2 ? Key : RGBColor(30, 8 * y, 9 * x); };
    const TPixelFn other = [](int x, int y) { return (x + 2 * y) % 7 < 3 ? Key : RGBColor(250 - 9 * x, 40, 6 * y); };
    struct Case {
        const char* Name;
        std::function<void(TBitmap&)> Change;
    } cases[] = {
        {"filled through the canvas", [](TBitmap& b) { b.Canvas().Brush().SetColor(RGBColor(1, 2, 3)); b.Canvas().FillRect(TRect{3, 2, 17, 9}); }},
        {"drawn on through the canvas", [&](TBitmap& b) { b.Canvas().Draw(0, 0, TrueColour(24, 12, other).get()); }},
        {"assigned another bitmap", [&](TBitmap& b) { b.Assign(TrueColour(24, 12, other).get()); }},
        {"resized and filled", [](TBitmap& b) { b.SetSize(24, 12); b.Canvas().Brush().SetColor(RGBColor(9, 9, 9)); b.Canvas().FillRect(TRect{0, 0, 5, 12}); }},
        {"cleared by a change of format", [](TBitmap& b) { b.SetPixelBits(32); }},
        {"switched to the display's format after a draw", [](TBitmap& b) { b.Canvas().FillRect(TRect{0, 0, 24, 3}); b.SetHandleType(bmDDB); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto source = TrueColour(24, 12, striped);
        auto first = TrueColour(30, 20, Backdrop);
        KeyedDrawRect(first->Canvas(), 2, 3, 0, 0, TRect{0, 0, 0, 0}, *source, Key);
        c.Change(*source);
        auto drawn = TrueColour(30, 20, Backdrop);
        auto masked = TrueColour(30, 20, Backdrop);
        KeyedDrawRect(drawn->Canvas(), 2, 3, 0, 0, TRect{0, 0, 0, 0}, *source, Key);
        {
            TCanvasLock lock(masked->Canvas()), sourceLock(source->Canvas());
            masked->Canvas().Changing();
            KeyedBlit(masked->Canvas().Handle(), 2, 3, source->Width(), source->Height(), source->Canvas().Handle(), 0,
                      0, source->Width(), source->Height(), nullptr, ColorToRGB(Key));
        }
        EXPECT_TRUE(PixelsAre(*drawn, [&](int x, int y) { return masked->PixelColor(x, y); }));
    }
    // The same pixels drawn with another key or from another part are found again.
    auto source = TrueColour(24, 12, striped);
    auto drawn = TrueColour(30, 20, Backdrop);
    KeyedDrawRect(drawn->Canvas(), 0, 0, 0, 0, TRect{0, 0, 0, 0}, *source, Key);
    KeyedDrawRect(drawn->Canvas(), 0, 0, 0, 0, TRect{0, 0, 0, 0}, *source, RGBColor(30, 0, 18));
    EXPECT_TRUE(PixelsAre(*drawn, [&](int x, int y) { return x < 24 && y < 12 ? striped(x, y) : Backdrop(x, y); }))
        << "keyed on a colour only one pixel has";
    KeyedDrawRect(drawn->Canvas(), 0, 14, 10, 5, TRect{10, 0, 20, 5}, *source, Key);
    EXPECT_TRUE(PixelsAre(*drawn, [&](int x, int y) {
        if (y >= 14 && y < 19 && x < 10)
            return striped(x + 10, y - 14) == Key ? Backdrop(x, y) : striped(x + 10, y - 14);
        return x < 24 && y < 12 ? striped(x, y) : Backdrop(x, y);
    })) << "a part of the source";
}

// A bitmap that has no GDI bitmap yet, of which only a part lands, is drawn
// from a copy of that part: the same pixels as from a GDI bitmap of all of
// it, which is not made.
TEST(KeyedDrawing, ABitmapWithoutItsGdiBitmapIsDrawnThroughThePartThatLands) {
    const std::vector<TColor> palette{Key, RGBColor(10, 200, 30), RGBColor(250, 250, 0), RGBColor(0, 0, 120),
                                      RGBColor(90, 90, 90)};
    auto index = [](int x, int y) { return uint32_t((x * 3 + y * 5) % 7 % 5); };
    for (const int bits : {1, 4, 8, 24}) {
        auto make = [&] {
            return MakeBitmap(40, 25, bits, palette, [&](int x, int y) {
                return bits == 24 ? palette[index(x, y)] : index(x, y) % (bits == 1 ? 2 : 5);
            });
        };
        auto fresh = make();
        auto own = make();
        own->Handle();
        // Partly left of and above the target, clipped inside it, origin moved.
        const std::pair<const char*, std::function<void(TCanvas&, TBitmap&)>> draws[] = {
            {"keyed", [](TCanvas& c, TBitmap& b) { KeyedDrawRect(c, -7, -4, 40, 25, TRect{0, 0, 40, 25}, b, Key); }},
            {"opaque", [](TCanvas& c, TBitmap& b) { c.Draw(-7, -4, &b); }},
            {"keyed, part of the source",
             [](TCanvas& c, TBitmap& b) { KeyedDrawRect(c, 3, 2, 20, 12, TRect{15, 8, 35, 20}, b, Key); }},
        };
        for (const auto& [what, draw] : draws) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + what);
            auto fromPart = TrueColour(30, 20, Backdrop);
            auto fromWhole = TrueColour(30, 20, Backdrop);
            for (auto [target, source] :
                 {std::pair{fromPart.get(), fresh.get()}, std::pair{fromWhole.get(), own.get()}}) {
                TCanvasLock lock(target->Canvas());
                TScopedSaveDC saved(target->Canvas().Handle());
                SetViewportOrgEx(target->Canvas().Handle(), 2, 1, nullptr);
                IntersectClipRect(target->Canvas().Handle(), 0, 0, 20, 14);
                draw(target->Canvas(), *source);
            }
            EXPECT_TRUE(PixelsAre(*fromPart, [&](int x, int y) { return fromWhole->PixelColor(x, y); }));
            EXPECT_FALSE(PixelsAre(*fromPart, Backdrop)) << "something was drawn";
            EXPECT_FALSE(fresh->HandleAllocated()) << "a GDI bitmap of all of it was made";
        }
    }
}

// What a draw could not have (a limit of its scratch, or GDI's refusal)
// raises an error with words and leaves the target as it was: nothing is
// drawn from a bitmap that was not made.
TEST(KeyedDrawing, ScratchPastTheLimitIsReportedAndNothingIsDrawn) {
    struct TLimit {
        uint64_t Saved = DrawScratchLimit();
        explicit TLimit(uint64_t bytes) { SetDrawScratchLimit(bytes); }
        ~TLimit() { SetDrawScratchLimit(Saved); }
    } limit(100);
    const std::pair<const char*, std::function<void(TCanvas&)>> draws[] = {
        {"stretched, the masks",
         [](TCanvas& c) { KeyedDrawRect(c, 0, 0, 40, 24, TRect{0, 0, 20, 12}, *TrueColour(20, 12, Pattern), Key); }},
        {"a copy of the part that shows",
         [](TCanvas& c) { KeyedDrawRect(c, -5, 0, 20, 12, TRect{0, 0, 20, 12}, *TrueColour(20, 12, Pattern), Key); }},
    };
    for (const auto& [what, draw] : draws) {
        SCOPED_TRACE(what);
        auto target = TrueColour(30, 20, Backdrop);
        std::string message;
        try {
            draw(target->Canvas());
        } catch (const EOutOfMemory& error) {
            message = error.Message();
        }
        EXPECT_EQ(message.rfind("Not enough memory for a draw of ", 0), 0u) << message;
        EXPECT_NE(message.find("limited to 100 bytes"), std::string::npos) << message;
        EXPECT_TRUE(PixelsAre(*target, Backdrop));
    }
}

// The buffer that reads pixels for a scan is kept between draws: after a
// large draw it holds a band of rows, not the whole bitmap.
TEST(KeyedDrawing, AfterALargeDrawTheScanBufferKeepsABand) {
    for (const auto& [width, height] : {std::pair{1600, 1200}, std::pair{70000, 3}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        auto source = std::make_unique<TBitmap>();
        source->SetPixelBits(32);
        source->SetSize(width, height);
        source->Canvas().Brush().SetColor(RGBColor(1, 2, 3));
        source->Canvas().FillRect(TRect{0, 0, width / 2, height});
        auto target = std::make_unique<TBitmap>();
        target->SetPixelBits(32);
        target->SetSize(width, height);
        KeyedDrawRect(target->Canvas(), 0, 0, width, height, TRect{0, 0, width, height}, *source, clBlack);
        EXPECT_EQ(target->PixelColor(width / 2 - 1, height - 1), RGBColor(1, 2, 3)) << "drawn";
        // A row wider than the band is read alone, and not kept.
        if (width < 65536) {
            EXPECT_GT(KeptScanBytes(), 0u) << "scanned";
        }
        EXPECT_LE(KeptScanBytes(), size_t(256) << 10);
    }
}

TEST(GdiLeaks, KeyedDrawsAndFrameBitmapsLeaveTheGdiObjectCountAsItWas) {
    auto source = TrueColour(40, 20, Pattern);
    auto target = TrueColour(60, 30, Backdrop);
    // Stock objects and the first DCs are made once; count after them.
    KeyedDrawRect(target->Canvas(), 1, 1, 50, 25, TRect{0, 0, 40, 20}, *source, Key);
    target->Canvas().StretchDraw(TRect{0, 0, 40, 20}, source.get());
    const int before = GdiObjectCount();
    ASSERT_GT(before, 0) << "the count must see the objects that exist";
    for (int i = 0; i < 10000; ++i)
        KeyedDrawRect(target->Canvas(), i % 7, 1, 50, 25, TRect{0, 0, 40, 20}, *source, i % 2 ? Key : clDefault);
    const int after = GdiObjectCount();
    EXPECT_EQ(after, before) << "after 10,000 keyed draws";
    std::printf("GDI objects: %d before and %d after 10,000 keyed draws\n", before, after);

    const gifwriter::Bytes bytes = gifwriter::GifWriter()
                                       .Header()
                                       .Screen(30, 20, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}})
                                       .GraphicControl(1, 10, 2)
                                       .Image([] {
                                           gifwriter::ImageSpec spec;
                                           spec.Width = 30;
                                           spec.Height = 20;
                                           for (int i = 0; i < 600; ++i)
                                               spec.Indices.push_back(uint8_t(i % 4));
                                           return spec;
                                       }())
                                       .Trailer()
                                       .Finish();
    // The first display DC (a frame bitmap takes the display's format) stays in the system's cache.
    int beforeFrames = 0;
    for (int i = -1; i < 1000; ++i) {
        if (i == 0)
            beforeFrames = GdiObjectCount();
        auto image = LoadGif(bytes);
        // Drawn, so that each frame bitmap makes its DC and palette too.
        image->FrameAt(0)->DrawFrame(target->Canvas(), TRect{0, 0, 30, 20}, i % 2 == 0);
    }
    const int afterFrames = GdiObjectCount();
    EXPECT_EQ(afterFrames, beforeFrames) << "after 1,000 frame bitmaps made, drawn and freed";
    std::printf("GDI objects: %d before and %d after 1,000 frame bitmaps\n", beforeFrames, afterFrames);
}
