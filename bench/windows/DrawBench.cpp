// Drawing benchmark (Windows, run under Wine by scripts/drawbench.sh): one
// splash frame (400 x 50) drawn onto a 413 x 50 canvas, keyed and plain,
// against GDI's own colour-key blit (TransparentBlt) as the peer. Prints the
// median time per draw of several runs and the ratios. Not a test.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/SplashAnimation.h"
#include "gif/JvGIF.h"
#include "graphics/Canvas.h"
#include "graphics/KeyedDraw.h"
#include "rtl/Streams.h"

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
    return 0;
}
