// One animator tick (advance, compose, paint to the window) under Wine: the
// splash animation in its 413 x 50 place, and a long 800 x 600 animation
// whose frames after the first are small and kept, so that a rebuild of frame
// N draws N + 1 frames while the step from N - 1 draws one. Peer: one BitBlt
// of a picture of the client's size to the window, the least a paint costs.
// Ticks and copies come back to back, with caches warm, and also one per
// 50 ms wait with the messages pumped after it, as the program's wait runs
// them: there the code and data a tick touches have gone cold.
// Prints medians; not a test.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "GifWriter.h"
#include "app/SplashAnimation.h"
#include "controls/JvGIFCtrl.h"
#include "rtl/Streams.h"
#include "ui/Application.h"
#include "ui/Forms.h"
#include "win/ScopedWin.h"

namespace {

using Clock = std::chrono::steady_clock;

// Median of the timed part over calls; prepare runs untimed before each.
double MedianMicroseconds(const std::function<void()>& prepare, const std::function<void()>& timed, int calls) {
    std::vector<double> times;
    for (int i = 0; i < calls; ++i) {
        prepare();
        const auto start = Clock::now();
        timed();
        GdiFlush();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// 800 x 600: a full-screen opaque frame, then 120 x 90 frames with a key
// colour at moving places, each kept.
gifwriter::Bytes LongAnimation(int frames) {
    std::vector<gifwriter::Rgb> table;
    for (int i = 0; i < 256; ++i)
        table.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)});
    gifwriter::GifWriter gif;
    gif.Header().Screen(800, 600, table);
    for (int f = 0; f < frames; ++f) {
        gifwriter::ImageSpec spec;
        spec.Width = f == 0 ? 800 : 120;
        spec.Height = f == 0 ? 600 : 90;
        spec.Left = static_cast<uint16_t>(f == 0 ? 0 : (f * 37) % 680);
        spec.Top = static_cast<uint16_t>(f == 0 ? 0 : (f * 53) % 510);
        spec.Indices.resize(static_cast<size_t>(spec.Width) * spec.Height);
        for (size_t i = 0; i < spec.Indices.size(); ++i)
            spec.Indices[i] = static_cast<uint8_t>((i / 8 + static_cast<size_t>(f) * 3) % 255);
        gif.GraphicControl(1, 2, f == 0 ? -1 : 255);
        gif.Image(spec);
    }
    return gif.Trailer().Finish();
}

struct TBench {
    TForm Form{nullptr};
    TJvGIFAnimator* Animator;

    TBench(const uint8_t* data, size_t size, bool lengthPrefixed, int clientWidth, int clientHeight) {
        Form.SetBorderStyle(bsNone);
        Form.SetBounds(0, 0, clientWidth, clientHeight);
        Form.SetClientSize(clientWidth, clientHeight);
        Form.SetColor(0xD6D6D6);
        Animator = new TJvGIFAnimator(&Form);
        Animator->SetAutoSize(false);
        Animator->SetParent(&Form);
        Animator->SetBounds(0, 0, clientWidth, clientHeight);
        Animator->SetCenter(true);
        TMemoryStream stream;
        stream.WriteBuffer(data, static_cast<int64_t>(size));
        stream.SetPosition(0);
        if (lengthPrefixed)
            Animator->Image().ReadData(stream);
        else
            Animator->Image().LoadFromStream(stream);
        Form.Show();
        Application->ProcessMessages();
        // Decode every frame once, so that ticks only compose and paint.
        for (int i = 0; i < Animator->Image().FrameCount(); ++i)
            Animator->Image().FrameAt(i)->FrameBitmap();
    }

    // Shows frame n, so that the next tick extends the picture.
    void ShowFrame(int n) {
        Animator->SetFrameIndex(n);
        UpdateWindow(Form.Handle());
    }
    void Tick() { Animator->AdvanceFrame(Animator); }

    // A tick from frame n - 1 to n that extends the composed picture of n - 1.
    double Extending(int n, int calls) {
        return MedianMicroseconds([&] { ShowFrame(n - 1); }, [&] { Tick(); }, calls);
    }
    // A tick to frame n while the picture holds another frame: a rebuild.
    double Rebuilding(int n, int calls) {
        const int count = Animator->Image().FrameCount();
        return MedianMicroseconds(
            [&] {
                ShowFrame((n + 2) % count);
                Animator->SetFrameIndex((n - 1 + count) % count);  // not painted
            },
            [&] { Tick(); }, calls);
    }
    // Successive ticks, as the animation plays: every frame in turn, the
    // wrap's rebuild among them.
    double Playing(int calls) {
        return MedianMicroseconds([] {}, [&] { Tick(); }, calls);
    }
    // As the program plays it: each tick after a 50 ms wait and a pump.
    double PlayingPaced(int calls) { return MedianMicroseconds(PacedWait, [&] { Tick(); }, calls); }
    static void PacedWait() {
        Sleep(50);
        Application->ProcessMessages();
    }
    // The peer: one copy of a client-sized picture to the window, back to
    // back or paced as the program's ticks are.
    double Blit(int calls, bool paced = false) {
        // The size is read before timing: asking a form for it is not the copy.
        const int width = Form.ClientWidth(), height = Form.ClientHeight();
        TScopedGetDC window(Form.Handle());
        TScopedMemoryDC memory(window.Get());
        TScopedBitmap bitmap(CreateCompatibleBitmap(window.Get(), width, height));
        TScopedSelect selected(memory.Get(), bitmap.Get());
        const std::function<void()> prepare = paced ? std::function<void()>(PacedWait) : [] {};
        return MedianMicroseconds(
            prepare, [&] { BitBlt(window.Get(), 0, 0, width, height, memory.Get(), 0, 0, SRCCOPY); }, calls);
    }
};

void Row(const char* what, double us, double peer) { std::printf("%-44s %10.1f %10.1f\n", what, us, us / peer); }

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 101;
    TApplication application;
    application.Initialize();
    std::printf("median of %d ticks; us per tick and its ratio to the peer (one BitBlt of the client area)\n", calls);
    std::printf("%-44s %10s %10s\n", "tick", "us", "x peer");
    {
        TBench splash(SplashAnimationData, SplashAnimationSize, true, 413, 50);
        const double peer = splash.Blit(calls);
        Row("splash 413 x 50: BitBlt (peer)", peer, peer);
        Row("splash: extending, frame 5 to 6", splash.Extending(6, calls), peer);
        Row("splash: rebuilding, frame 6", splash.Rebuilding(6, calls), peer);
        Row("splash: rebuilding, the wrap to frame 0", splash.Rebuilding(0, calls), peer);
        Row("splash: playing, successive ticks", splash.Playing(calls), peer);
        const double pacedPeer = splash.Blit(calls, true);
        Row("splash: BitBlt, one per 50 ms wait (peer)", pacedPeer, pacedPeer);
        Row("splash: playing, one tick per 50 ms wait", splash.PlayingPaced(calls), pacedPeer);
    }
    {
        const auto gif = LongAnimation(250);
        TBench large(gif.data(), gif.size(), false, 800, 600);
        const double peer = large.Blit(calls);
        Row("800 x 600, 250 frames: BitBlt (peer)", peer, peer);
        Row("800 x 600: extending, frame 1 to 2", large.Extending(2, calls), peer);
        Row("800 x 600: extending, frame 199 to 200", large.Extending(200, calls), peer);
        Row("800 x 600: rebuilding, frame 2 (3 draws)", large.Rebuilding(2, calls), peer);
        Row("800 x 600: rebuilding, frame 200 (201 draws)", large.Rebuilding(200, calls), peer);
    }
    return 0;
}
