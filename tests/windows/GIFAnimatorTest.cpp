// TJvGIFAnimator's control side: frame timing, stepping, stopping, the
// threads its events arrive on, reading from a stored definition.

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "AnimatorSupport.h"
#include "GifWriter.h"
#include "controls/JvGIFCtrl.h"
#include "rtl/Streams.h"
#include "ui/Application.h"
#include "ui/Forms.h"
#include "ui/Reader.h"
#include "ui/Synchronize.h"

TEST(JvGIFAnimator, FrameIntervalsClampedTo50MsAnd10Seconds) {
    TApplication application;
    application.Initialize();
    TJvGIFAnimator animator(nullptr);
    EXPECT_EQ(animator.CurrentFrameInterval(), 0u) << "empty image";
    Load(animator, Animation({0, 1, 4, 5, 7, 1000, 6553}));
    const unsigned expected[] = {50, 50, 50, 50, 70, 10000, 10000};
    for (int i = 0; i < 7; ++i) {
        animator.SetFrameIndex(i);
        EXPECT_EQ(animator.CurrentFrameInterval(), expected[i]) << "frame " << i;
        EXPECT_EQ(animator.AnimTimer().Interval(), expected[i]) << "timer interval at frame " << i;
    }
    animator.SetFrameIndex(99);
    EXPECT_EQ(animator.FrameIndex(), 6) << "out of range is ignored";
    Load(animator, Animation({3}));
    EXPECT_EQ(animator.CurrentFrameInterval(), 0u) << "a single frame never ticks";
}

// Loop off: plays to the end, wraps to frame 0, stops there with one
// OnStop; OnFrameChanged and OnStop arrive on the window thread in every
// mode, while the tick itself runs on the worker with AsyncDrawing.
TEST(JvGIFAnimator, LoopOffStopsOnFirstFrameEventsOnWindowThreadInEachMode) {
    TApplication application;
    application.Initialize();
    struct TMode {
        const char* Name;
        bool Threaded;
        bool Async;
    };
    for (const TMode mode : {TMode{"synchronised", true, false}, TMode{"asynchronous", true, true},
                             TMode{"window timer", false, true}}) {
        SCOPED_TRACE(mode.Name);
        TShownAnimator shown;
        TJvGIFAnimator& animator = *shown.Animator;
        animator.SetThreaded(mode.Threaded);
        animator.SetAsyncDrawing(mode.Async);
        Load(animator, Animation({0, 0, 0}));
        animator.SetLoop(false);
        std::atomic<int> stops{0}, frames{0}, offThread{0};
        animator.OnStop = [&](TComponent*) {
            ++stops;
            offThread += InMainThread() ? 0 : 1;
        };
        animator.OnFrameChanged = [&](TComponent*) {
            ++frames;
            offThread += InMainThread() ? 0 : 1;
        };
        animator.SetAnimate(true);
        ASSERT_TRUE(PumpUntil([&] { return stops > 0; }, 5000));
        Pump(200);
        EXPECT_EQ(stops.load(), 1);
        EXPECT_EQ(frames.load(), 3) << "frames 1, 2 and the wrap to 0";
        EXPECT_EQ(animator.FrameIndex(), 0);
        EXPECT_FALSE(animator.Animate());
        EXPECT_EQ(offThread.load(), 0) << "an event arrived off the window thread";
    }
}

// A hidden animator keeps its frame; destroying a playing one whose tick is
// pending raises no OnStop and does not hang.
TEST(JvGIFAnimator, HiddenKeepsFrameDestroyWithPendingTick) {
    TApplication application;
    application.Initialize();
    {
        TShownAnimator shown;
        TJvGIFAnimator& animator = *shown.Animator;
        Load(animator, Animation({0, 0, 0, 0}));
        animator.SetVisible(false);
        animator.SetAnimate(true);
        Pump(300);
        EXPECT_EQ(animator.FrameIndex(), 0) << "hidden, yet advanced";
        animator.SetVisible(true);
        EXPECT_TRUE(PumpUntil([&] { return animator.FrameIndex() != 0; }, 3000)) << "shown again, does not play";
    }
    for (int i = 0; i < 20; ++i) {
        TShownAnimator shown;
        Load(*shown.Animator, Animation({0, 0}));
        int stops = 0;
        shown.Animator->OnStop = [&](TComponent*) { ++stops; };
        shown.Animator->SetAnimate(true);
        for (int i = 0; i < 1000 && QueuedCalls() == 0; ++i)
            Sleep(1);
        delete shown.Animator;
        EXPECT_EQ(stops, 0) << "cycle " << i;
    }
}

// Stored values apply in stored order: a FrameIndex stored before the image
// data meets an empty image and is dropped; the legacy JvxAnimate starts.
TEST(JvGIFAnimator, StoredFrameIndexBeforeImageDataStartsAtFrameZero) {
    TApplication application;
    application.Initialize();
    RegisterAnimatedImageControls();
    const gifwriter::Bytes stored = gifwriter::LengthPrefixed(Animation({1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    class TProbeForm : public TForm {
    public:
        explicit TProbeForm(const TStoredComponent& definition) : TForm(nullptr) { ReadDefinition(definition); }
    };
    const TStoredComponent definition{
        "TProbeForm",
        "ProbeForm",
        {},
        {{"TJvGIFAnimator",
          "Animator",
          {{"Left", 0},
           {"Top", 0},
           {"JvxAnimate", Ident("True")},
           {"Center", Ident("True")},
           {"FrameIndex", 8},
           {"Align", Ident("alTop")},
           {"Image.Data", TStoredBytes(stored.begin(), stored.end())}},
          {}}}};
    TProbeForm form(definition);
    auto& animator = form.Component<TJvGIFAnimator>("Animator");
    EXPECT_EQ(animator.FrameIndex(), 0);
    EXPECT_TRUE(animator.Animate());
    EXPECT_TRUE(animator.Center());
    EXPECT_EQ(animator.AnimTimer().Interval(), 50u);
    EXPECT_EQ(animator.Height(), 8) << "top-aligned: the image's height";
    animator.SetFrameIndex(8);
    EXPECT_EQ(animator.FrameIndex(), 8) << "in code, after the image, the index is taken";
}
