// Drawing benchmark (Windows, run under Wine by scripts/drawbench.sh). Not a
// test. Prints medians of several runs:
// - one splash frame (400 x 50) drawn onto a 413 x 50 canvas, keyed and
//   plain, against GDI's own colour-key blit (TransparentBlt) as the peer;
// - composing a frame and drawing the picture into the client area, when the
//   cached picture is extended by one frame and when it is rebuilt, for the
//   splash animation and for a long 800 x 600 one (frames 2 and 200);
// - the same through an animator on a shown form: one tick (advance, compose,
//   paint to the screen) that extends the picture, and a repaint that
//   rebuilds it.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "GifWriter.h"
#include "app/SplashAnimation.h"
#include "controls/JvGIFCompose.h"
#include "controls/JvGIFCtrl.h"
#include "gif/JvGIF.h"
#include "graphics/Canvas.h"
#include "graphics/KeyedDraw.h"
#include "rtl/Streams.h"
#include "ui/Application.h"
#include "ui/Forms.h"

namespace {

// Median over runs of the time per call, in microseconds.
double MedianMicroseconds(const std::function<void()>& draw, int runs, int calls) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i)
            draw();
        GdiFlush();
        const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count() / calls);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Median over runs of one timed step after an untimed preparation, in microseconds.
double MedianStep(const std::function<void()>& prepare, const std::function<void()>& step, int runs) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        step();
        GdiFlush();
        const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// 201 frames on an 800 x 600 screen: a full-screen keyed first frame, then
// 100 x 100 patches that stay (disposal 1), so a rebuild draws every frame
// up to its target while an extension draws one.
std::unique_ptr<TJvGIFImage> LongAnimation() {
    std::vector<gifwriter::Rgb> table;
    for (int i = 0; i < 16; ++i)
        table.push_back(gifwriter::Rgb{uint8_t(16 * i), uint8_t(255 - 16 * i), uint8_t(8 * i)});
    gifwriter::GifWriter writer;
    writer.Header().Screen(800, 600, table, 0);
    for (int f = 0; f <= 200; ++f) {
        gifwriter::ImageSpec spec;
        const bool first = f == 0;
        spec.Left = uint16_t(first ? 0 : 37 * f % 700);
        spec.Top = uint16_t(first ? 0 : 23 * f % 500);
        spec.Width = uint16_t(first ? 800 : 100);
        spec.Height = uint16_t(first ? 600 : 100);
        for (int i = 0; i < spec.Width * spec.Height; ++i)
            spec.Indices.push_back(uint8_t(first ? (i / 800 % 7 == 0 ? 1 + i % 15 : 0) : (i + f) % 16));
        writer.GraphicControl(1, 5, 0).Image(spec);
    }
    auto image = std::make_unique<TJvGIFImage>();
    const gifwriter::Bytes bytes = writer.Trailer().Finish();
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    image->LoadFromStream(stream);
    return image;
}

// Compose frame `index` and draw the picture centred into the client area.
struct TTick {
    TJvGIFImage& Image;
    TBitmap Client;
    TGIFComposition Composition{[] { return std::make_unique<TBitmap>(); }};

    TTick(TJvGIFImage& image, int width, int height) : Image(image) {
        Client.SetSize(width, height);
        for (int i = 0; i < image.FrameCount(); ++i)
            image.FrameAt(i)->FrameBitmap();  // decoded once, as during play
    }
    void Show(int index) {
        TColor transparent = clNone;
        TBitmap* picture = Composition.ComposeFrame(Image, index, transparent, true);
        const TRect rect =
            PictureRect(Client.Width(), Client.Height(), picture->Width(), picture->Height(), true, false);
        DrawComposedPicture(Client.Canvas(), rect, *picture, transparent, true);
    }
    double Extending(int index, int runs) {
        return MedianStep([&] { Show(index - 1); }, [&] { Show(index); }, runs);
    }
    double Rebuilding(int index, int runs) {
        return MedianStep([&] { Composition.Discard(); }, [&] { Show(index); }, runs);
    }
};

// An animator covering a shown borderless form.
struct TAnimatorTick {
    TForm Form{nullptr};
    TJvGIFAnimator* Animator;

    TAnimatorTick(TJvGIFImage& image, int width, int height) {
        Form.SetBorderStyle(bsNone);
        Form.SetClientSize(width, height);
        Animator = new TJvGIFAnimator(&Form);
        Animator->SetAutoSize(false);
        Animator->SetParent(&Form);
        Animator->SetBounds(0, 0, width, height);
        Animator->SetCenter(true);
        Animator->SetImage(&image);
        for (int i = 0; i < Animator->Image().FrameCount(); ++i)
            Animator->Image().FrameAt(i)->FrameBitmap();
        Form.Show();
        Application->ProcessMessages();
    }
    // A tick from index - 1 to index.
    double Extending(int index, int runs) {
        return MedianStep(
            [&] {
                Animator->SetFrameIndex(index - 1);
                Animator->Repaint();
            },
            [&] { Animator->AdvanceFrame(nullptr); }, runs);
    }
    // Painting the frame that is composed already rebuilds it, as a jump does.
    double Rebuilding(int index, int runs) {
        return MedianStep(
            [&] {
                Animator->SetFrameIndex(index);
                Animator->Repaint();
            },
            [&] { Animator->Repaint(); }, runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    const int calls = argc > 2 ? std::max(1, atoi(argv[2])) : 300;
    TJvGIFImage image;
    TMemoryStream data;
    data.WriteBuffer(SplashAnimationData, int64_t(SplashAnimationSize));
    data.SetPosition(0);
    image.ReadData(data);
    TJvGIFFrame* frame = image.FrameAt(0);
    TBitmap* bitmap = frame->FrameBitmap();

    TBitmap target;
    target.SetSize(413, 50);
    TCanvas& canvas = target.Canvas();
    canvas.Brush().SetColor(RGBColor(214, 214, 214));
    canvas.FillRect(TRect{0, 0, 413, 50});
    const TRect place{6, 0, 406, 50};

    const double keyed = MedianMicroseconds([&] { frame->DrawFrame(canvas, place, true); }, runs, calls);
    const double plain = MedianMicroseconds([&] { frame->DrawFrame(canvas, place, false); }, runs, calls);
    const double peer = MedianMicroseconds(
        [&] {
            TCanvasLock source(bitmap->Canvas());
            TransparentBlt(canvas.Handle(), 6, 0, 400, 50, bitmap->Canvas().Handle(), 0, 0, 400, 50,
                           ColorToRGB(frame->KeyColor()));
        },
        runs, calls);

    std::printf("one 400 x 50 splash frame onto a 413 x 50 canvas, median of %d runs of %d draws\n", runs, calls);
    std::printf("%-34s %10s %14s\n", "draw", "us/draw", "ratio to ours");
    std::printf("%-34s %10.1f %14s\n", "keyed (KeyedDrawRect, ours)", keyed, "1.00");
    std::printf("%-34s %10.1f %14.2f\n", "plain (StretchBlt)", plain, plain / keyed);
    std::printf("%-34s %10.1f %14.2f\n", "GDI TransparentBlt (peer)", peer, peer / keyed);

    std::printf("\ncompose a frame and draw the picture centred, median of %d runs, us\n", runs * 5);
    std::printf("%-44s %12s %12s %8s\n", "animation, frame", "extending", "rebuilding", "ratio");
    auto row = [&](const char* name, TTick& tick, int index) {
        const double extending = tick.Extending(index, runs * 5);
        const double rebuilding = tick.Rebuilding(index, runs * 5);
        std::printf("%-44s %12.1f %12.1f %8.2f\n", name, extending, rebuilding, rebuilding / extending);
    };
    TTick splashTick(image, 413, 50);
    row("splash 400 x 50, frame 5", splashTick, 5);
    auto long800 = LongAnimation();
    TTick longTick(*long800, 800, 600);
    row("800 x 600, 201 frames, frame 2", longTick, 2);
    row("800 x 600, 201 frames, frame 200", longTick, 200);

    TApplication application;
    application.Initialize();
    std::printf("\nanimator on a shown form: a tick that extends, a repaint that rebuilds, median of %d runs, us\n",
                runs * 5);
    std::printf("%-44s %12s %12s %8s\n", "animation, frame", "tick", "rebuilding", "ratio");
    auto animatorRow = [&](const char* name, TJvGIFImage& animation, int width, int height, std::vector<int> frames) {
        TAnimatorTick tick(animation, width, height);
        for (int index : frames) {
            const double extending = tick.Extending(index, runs * 5);
            const double rebuilding = tick.Rebuilding(index, runs * 5);
            std::printf("%-38s %5d %12.1f %12.1f %8.2f\n", name, index, extending, rebuilding,
                        rebuilding / extending);
        }
    };
    animatorRow("splash 413 x 50, frame", image, 413, 50, {5});
    animatorRow("800 x 600, 201 frames, frame", *long800, 800, 600, {2, 200});
    return 0;
}
