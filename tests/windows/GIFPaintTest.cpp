// What the GIF animator paints: its composed frame placed in the client area
// over what lies behind it, and which of its parent's pictures it copies.

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
#include "HugeGifs.h"
#include "TestSupport.h"
#include "controls/JvGIFCtrl.h"
#include "graphics/DrawSource.h"
#include "ui/StdCtrls.h"

namespace {

constexpr COLORREF Grey = RGB(214, 214, 214);

// Paints only the control, as its parent would: origin at its corner,
// clipped to its bounds.
void PaintAlone(TControl& control, TCapture& capture) {
    HDC dc = capture.DC();
    TScopedSaveDC saved(dc);
    IntersectClipRect(dc, control.Left(), control.Top(), control.Left() + control.Width(),
                      control.Top() + control.Height());
    SetWindowOrgEx(dc, -control.Left(), -control.Top(), nullptr);
    control.Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
}

// The first pixel of the control's area that differs, or "" when none does.
std::string FirstDifference(const TCapture& capture, const TControl& control,
                            const std::function<COLORREF(int x, int y)>& expected) {
    for (int y = 0; y < control.Height(); ++y)
        for (int x = 0; x < control.Width(); ++x) {
            const COLORREF got = capture.At(control.Left() + x, control.Top() + y), want = expected(x, y);
            if (got != want) {
                char text[96];
                snprintf(text, sizeof text, "(%d, %d) is %06lX, expected %06lX", x, y, got, want);
                return text;
            }
        }
    return "";
}

// A form of one colour with an animator that does not size itself.
struct TAnimatorForm {
    TApplication Application;
    std::unique_ptr<TForm> Form;
    TJvGIFAnimator* Animator;

    TAnimatorForm(COLORREF colour, int left, int top, int width, int height) {
        Application.Initialize();
        Form = std::make_unique<TForm>(nullptr);
        Form->SetColor(colour);
        Form->SetClientSize(200, 120);
        Animator = new TJvGIFAnimator(Form.get());
        Animator->SetAutoSize(false);
        Animator->SetParent(Form.get());
        Animator->SetBounds(left, top, width, height);
        Form->HandleNeeded();
    }
};

// A windowless patch of one colour that counts its paints.
class TPatch : public TGraphicControl {
public:
    TPatch(TForm& form, int left, int top, int width, int height, COLORREF colour)
        : TGraphicControl(&form), Colour_(colour) {
        SetParent(&form);
        SetBounds(left, top, width, height);
    }
    void Paint(HDC dc) override {
        ++Paints;
        TScopedBrush brush(CreateSolidBrush(Colour_));
        RECT all{0, 0, Width(), Height()};
        FillRect(dc, &all, brush.Get());
    }
    int Paints = 0;

private:
    COLORREF Colour_;
};

}  // namespace

TEST(GIFAnimatorPaint, SplashStripAt413x50IsDrawnAt6AndAccumulatesUntilTheWrap) {
    TAnimatorForm f(Grey, 0, 0, 413, 50);
    TJvGIFAnimator& animator = *f.Animator;
    animator.SetCenter(true);
    auto splash = LoadSplashAnimation();
    animator.SetImage(splash.get());
    ASSERT_EQ(animator.Image().FrameCount(), 12);
    constexpr COLORREF idle = RGB(175, 196, 219), trail = RGB(120, 152, 186), runner = RGB(25, 59, 101);
    const int frames[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 1};
    for (size_t step = 0; step < std::size(frames); ++step) {
        const int n = frames[step];
        animator.SetFrameIndex(n);
        TCapture capture(413, 50, RGB(255, 0, 0));
        PaintAlone(animator, capture);
        // Every square is painted by frame 0; later frames move the runner and its trail.
        EXPECT_EQ(FirstDifference(capture, animator,
                                  [n](int x, int y) {
                                      const int px = x - 6, k = (px - 47) / 26;
                                      if (y < 15 || y > 35 || px < 47 || k > 11 || (px - 47) % 26 > 20)
                                          return Grey;
                                      return k == n ? runner : k == (n + 11) % 12 ? trail : idle;
                                  }),
                  "")
            << "step " << step << ", frame " << n;
    }
}

TEST(GIFAnimatorPaint, CentredStretchedOrAtTheCornerAndCutWhenTheControlIsSmaller) {
    // An opaque 4 x 5 picture of 20 colours.
    std::vector<gifwriter::Rgb> table;
    for (int i = 0; i < 32; ++i)
        table.push_back(gifwriter::Rgb{uint8_t(8 * i), uint8_t(250 - 7 * i), uint8_t(100 + 3 * i)});
    gifwriter::ImageSpec spec;
    spec.Width = 4;
    spec.Height = 5;
    for (int i = 0; i < 20; ++i)
        spec.Indices.push_back(uint8_t(i));
    auto image = LoadGif(gifwriter::GifWriter().Header().Screen(4, 5, table).Image(spec).Trailer().Finish());
    auto pixel = [&](int x, int y) -> COLORREF {
        if (x < 0 || y < 0 || x >= 4 || y >= 5)
            return Grey;
        const gifwriter::Rgb& c = table[size_t(y * 4 + x)];
        return RGB(c.R, c.G, c.B);
    };
    struct Case {
        const char* Name;
        int Width, Height;
        bool Center, Stretch;
        std::function<COLORREF(int, int)> Expected;
    } cases[] = {
        {"centred, odd excess on the right and bottom", 11, 10, true, false,
         [&](int x, int y) { return pixel(x - 3, y - 2); }},
        {"stretched twice over", 8, 10, false, true, [&](int x, int y) { return pixel(x / 2, y / 2); }},
        {"at the corner, control smaller", 3, 3, false, false, [&](int x, int y) { return pixel(x, y); }},
        {"centred, control smaller: cut equally, the odd pixel on the right", 3, 3, true, false,
         [&](int x, int y) { return pixel(x, y + 1); }},
    };
    for (const Case& c : cases) {
        TAnimatorForm f(Grey, 10, 10, c.Width, c.Height);
        f.Animator->SetCenter(c.Center);
        f.Animator->SetStretch(c.Stretch);
        f.Animator->SetImage(image.get());
        TCapture capture(40, 40, RGB(255, 0, 0));
        PaintAlone(*f.Animator, capture);
        EXPECT_EQ(FirstDifference(capture, *f.Animator, c.Expected), "") << c.Name;
    }
}

// What a paint keeps for the next one (the off-screen buffer) must not
// outlive what it was made for: after a resize, a new image, a new palette
// for the same pixels, or a new colour beneath, the next paint is all new.
TEST(GIFAnimatorPaint, AfterAResizeANewImageOrPaletteOrBackgroundTheNextPictureIsRight) {
    struct TPicture {
        int Width, Height;
        std::vector<gifwriter::Rgb> Table;  // entry 0 is transparent
        std::function<uint8_t(int, int)> Index;
    };
    auto load = [](const TPicture& p) {
        gifwriter::ImageSpec spec;
        spec.Width = uint16_t(p.Width);
        spec.Height = uint16_t(p.Height);
        for (int y = 0; y < p.Height; ++y)
            for (int x = 0; x < p.Width; ++x)
                spec.Indices.push_back(p.Index(x, y));
        return LoadGif(gifwriter::GifWriter()
                           .Header()
                           .Screen(uint16_t(p.Width), uint16_t(p.Height), p.Table)
                           .GraphicControl(1, 10, 0)
                           .Image(spec)
                           .Trailer()
                           .Finish());
    };
    const auto stripes = [](int x, int y) { return uint8_t((x + 2 * y) % 4); };
    const TPicture first{6, 4, {{1, 2, 3}, {200, 0, 0}, {0, 200, 0}, {0, 0, 200}}, stripes};
    const TPicture repainted{6, 4, {{1, 2, 3}, {90, 90, 0}, {0, 90, 90}, {90, 0, 90}}, stripes};
    const TPicture other{8, 3, {{1, 2, 3}, {250, 250, 250}}, [](int x, int y) { return uint8_t(x > y); }};
    constexpr COLORREF blue = RGB(0, 0, 255);
    TAnimatorForm f(Grey, 10, 10, 20, 10);
    TJvGIFAnimator& animator = *f.Animator;
    animator.SetCenter(true);
    auto check = [&](const char* what, const TPicture& p, COLORREF beneath) {
        TCapture capture(60, 40, RGB(255, 0, 0));
        PaintAlone(animator, capture);
        const int left = (animator.Width() - p.Width) / 2, top = (animator.Height() - p.Height) / 2;
        EXPECT_EQ(FirstDifference(capture, animator,
                                  [&](int x, int y) {
                                      const int px = x - left, py = y - top;
                                      if (px < 0 || py < 0 || px >= p.Width || py >= p.Height || !p.Index(px, py))
                                          return beneath;
                                      const gifwriter::Rgb& c = p.Table[p.Index(px, py)];
                                      return RGB(c.R, c.G, c.B);
                                  }),
                  "")
            << what;
    };
    animator.SetImage(load(first).get());
    check("first paint", first, Grey);
    check("the same again", first, Grey);
    animator.SetBounds(10, 10, 9, 7);
    check("control resized", first, Grey);
    animator.SetImage(load(repainted).get());
    check("same pixels, another palette", repainted, Grey);
    f.Form->SetColor(blue);
    check("another colour beneath", repainted, blue);
    animator.SetImage(load(other).get());
    check("another image of another size", other, blue);
}

// Thousands of ticks keep no GDI object beyond what the animator holds, and
// destroying it gives back everything.
TEST(GIFAnimatorPaint, GdiObjectsAfterThousandsOfTicksAndDestructionAreAsBefore) {
    auto play = [](int ticks) {
        TAnimatorForm f(Grey, 0, 0, 413, 50);
        f.Animator->SetCenter(true);
        f.Animator->SetImage(LoadSplashAnimation().get());
        for (int i = 0; i < ticks; ++i)
            f.Animator->AdvanceFrame(nullptr);
        return f.Animator->FrameIndex();
    };
    // Stock objects and the system's first DCs are made once; count after them.
    play(30);
    const int before = GdiObjectCount();
    ASSERT_GT(before, 0) << "the count must see the objects that exist";
    EXPECT_EQ(play(3000), 3000 % 12) << "every tick moved the animation on";
    const int after = GdiObjectCount();
    EXPECT_EQ(after, before) << "after 3,000 ticks and the animator's destruction";
    std::printf("GDI objects: %d before and %d after 3,000 ticks\n", before, after);
}

TEST(GIFAnimatorPaint, CopiesTheParentAndTheWindowlessSiblingsBeneathOnly) {
    constexpr COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), green = RGB(0, 160, 0), yellow = RGB(255, 255, 0);
    TAnimatorForm f(red, 0, 0, 1, 1);
    TForm& form = *f.Form;
    // Created in this order: beneath the animator, then the animator, then above it.
    auto* below = new TPatch(form, 40, 40, 20, 20, blue);
    auto* touching = new TPatch(form, 100, 50, 10, 10, yellow);  // its left edge is the animator's right edge
    auto* windowed = new TButton(&form);
    windowed->SetParent(&form);
    windowed->SetBounds(50, 70, 20, 20);
    TJvGIFAnimator& animator = *f.Animator;
    animator.SetParent(nullptr);
    animator.SetParent(&form);
    animator.SetBounds(50, 50, 50, 40);
    auto* above = new TPatch(form, 80, 60, 30, 10, green);
    // An empty image: the control shows what lies behind it.
    TCapture capture(200, 120, RGB(0, 0, 0));
    PaintAlone(animator, capture);
    EXPECT_EQ(FirstDifference(capture, animator,
                              [](int x, int y) { return x < 10 && y < 10 ? blue : red; }),
              "")
        << "the parent's colour and the patch beneath; nothing of the patch above or of the button";
    EXPECT_EQ(below->Paints, 1);
    EXPECT_EQ(above->Paints, 0) << "above the animator";
    EXPECT_EQ(touching->Paints, 0) << "touches the edge only";
}

// A picture too large for memory (a logical screen or a client area past the
// limit) is not made: the first paint says so, later ones draw no picture.
TEST(GIFAnimatorPaint, PicturesPastTheLimitAreReportedOnceAndNotDrawn) {
    TAnimatorForm form(Grey, 10, 10, 40, 30);
    TJvGIFAnimator& animator = *form.Animator;
    // The error of a paint, or "" when there was none; background marks what the paint drew.
    auto paint = [&](const char* what, bool background) {
        TCapture capture(200, 120, RGB(1, 2, 3));
        std::string error;
        try {
            PaintAlone(animator, capture);
        } catch (const EOutOfMemory& e) {
            error = e.Message();
        }
        if (background) {
            EXPECT_EQ(FirstDifference(capture, animator, [](int, int) { return Grey; }), "") << what;
        }
        return error;
    };
    const auto message = [](int width, int height) {
        return "Not enough memory for a picture of " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels: an animated image's pictures are limited to 128 MiB";
    };
    animator.SetImage(LoadGif(gifwriter::HugeScreen()).get());
    EXPECT_EQ(paint("logical screen, first paint", true), message(18900, 18900));
    EXPECT_EQ(paint("logical screen, second paint", true), "");

    animator.SetBounds(10, 10, 20000, 20000);
    EXPECT_EQ(paint("client area, first paint", false), message(20000, 20000));
    EXPECT_EQ(paint("client area, second paint", false), "");
}

// A draw whose memory cannot be had (here its scratch, past a limit set
// low) is reported by the first paint, not by the next ones, and no picture
// is drawn from what was not made: what lies behind shows.
TEST(GIFAnimatorPaint, AFailedDrawIsReportedOnceAndNothingIsDrawn) {
    TAnimatorForm form(Grey, 10, 10, 40, 30);
    TJvGIFAnimator& animator = *form.Animator;
    // Stretched, the picture is drawn through masks of its size.
    animator.SetStretch(true);
    animator.SetImage(LoadSplashAnimation().get());
    auto paint = [&](std::string& error) {
        TCapture capture(200, 120, RGB(1, 2, 3));
        try {
            PaintAlone(animator, capture);
        } catch (const EOutOfMemory& e) {
            error = e.Message();
        }
        return FirstDifference(capture, animator, [](int, int) { return Grey; });
    };
    {
        struct TLimit {
            uint64_t Saved = DrawScratchLimit();
            ~TLimit() { SetDrawScratchLimit(Saved); }
        } restore;
        SetDrawScratchLimit(100);
        std::string first, second;
        EXPECT_EQ(paint(first), "") << "only what lies behind, first paint";
        EXPECT_EQ(first.rfind("Not enough memory for a draw of 40 x 30 pixels", 0), 0u) << first;
        EXPECT_EQ(paint(second), "") << "only what lies behind, second paint";
        EXPECT_EQ(second, "");
    }
    std::string error;
    EXPECT_NE(paint(error), "") << "the strip, once the memory is there";
    EXPECT_EQ(error, "");
}

// A load that fails after its first frames keeps them with no active frame
// and raises no change, so an animator emptied before holds index -1 over
// frames: it paints frame 0, as the image reports, instead of failing.
TEST(GIFAnimatorPaint, FramesKeptByAFailedLoadAfterAnEmptyImageArePaintedFromTheFirst) {
    constexpr COLORREF red = RGB(255, 0, 0);
    TAnimatorForm f(Grey, 0, 0, 8, 8);
    TJvGIFAnimator& animator = *f.Animator;
    animator.SetImage(nullptr);
    ASSERT_EQ(animator.FrameIndex(), -1);
    gifwriter::GifWriter gif;
    gif.Header().Screen(8, 8, {{255, 0, 0}, {0, 0, 255}});
    for (uint8_t colour : {0, 1}) {
        gifwriter::ImageSpec frame;
        frame.Width = 8;
        frame.Height = 8;
        frame.Indices.assign(64, colour);
        gif.Image(frame);
    }
    // An extension label that no GIF defines ends the load with an error.
    gif.Extension(0x77, {}, {});
    const gifwriter::Bytes bytes = gif.Trailer().Finish();
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    EXPECT_THROW(animator.Image().LoadFromStream(stream), EInvalidGraphicOperation);
    ASSERT_EQ(animator.Image().FrameCount(), 2);
    ASSERT_FALSE(animator.Image().Empty());
    TCapture capture(200, 120, RGB(1, 2, 3));
    EXPECT_NO_THROW(PaintAlone(animator, capture));
    EXPECT_EQ(FirstDifference(capture, animator, [](int, int) { return red; }), "") << "frame 0";
}
