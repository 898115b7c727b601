// The animator with its ticks on the timer's worker (AsyncDrawing) and its
// teardown in every mode: each worker is driven to a known point (parked in
// the call it hands to the window thread) before the window thread acts.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "AnimatorSupport.h"
#include "FreedMemory.h"
#include "controls/JvGIFCtrl.h"
#include "rtl/Errors.h"
#include "ui/Application.h"
#include "ui/Forms.h"
#include "ui/Reader.h"
#include "ui/Synchronize.h"

namespace {

// A form whose window the test can destroy while its controls live on.
class TWindowlessForm : public TForm {
public:
    using TForm::TForm;
    using TWinControl::DestroyHandle;
};

// An asynchronous animator on a shown form, playing a three-frame
// animation at 50 ms a frame; painted by the window thread before it plays,
// as a shown form paints it, so that its worker paints from its first tick.
void PlayAsync(TJvGIFAnimator& animator, uint16_t size = 8) {
    animator.SetAsyncDrawing(true);
    Load(animator, Animation({0, 0, 0}, size));
    if (animator.Parent())
        UpdateWindow(animator.Parent()->Handle());
    animator.SetAnimate(true);
}

// Runs the call from a call handed to the window thread: it runs wherever
// the window thread next serves calls (a wait for a thread included).
class TCallFromWindowThread {
public:
    explicit TCallFromWindowThread(std::function<void()> call)
        : Thread_([call = std::move(call)] { Synchronize(call); }) {}
    ~TCallFromWindowThread() {
        PumpUntil([] { return QueuedCalls() == 0; }, 10000);
        Thread_.join();
    }

private:
    std::thread Thread_;
};

}  // namespace

// The animator is freed while the worker's first tick is parked: in the
// OnFrameChanged call it hands to the window thread, or in its paint. The
// destructor must end the worker first (serving that call, which raises
// nothing now) and only then free the image and the composed picture that
// the rest of the tick paints.
TEST(AnimatorThreads, DestroyedWhileItsTickWaitsOrPaints) {
    TApplication application;
    application.Initialize();
    for (const bool inPaint : {false, true}) {
        SCOPED_TRACE(inPaint ? "parked in its paint" : "parked in its event");
        TShownAnimator shown;
        const int threads = ThreadCount();
        auto* animator = new TParkingAnimator(&shown.Form);
        animator->SetParent(&shown.Form);
        std::atomic<int> raised{0};
        if (inPaint)
            animator->ParkNextWorkerPaint();
        else
            animator->OnFrameChanged = [&](TComponent*) { ++raised; };
        PlayAsync(*animator, 64);
        if (inPaint) {
            ASSERT_TRUE(animator->WaitParked());
            TCallFromWindowThread release([parking = animator->Parking()] { SetEvent(parking->Release.Get()); });
            ASSERT_TRUE(WaitForQueuedCalls(1));
            delete animator;
        } else {
            ASSERT_TRUE(WaitForQueuedCalls(1)) << "the tick did not reach its event";
            delete animator;
        }
        EXPECT_EQ(raised.load(), 0) << "an event of a destroyed animator";
        EXPECT_EQ(QueuedCalls(), 0) << "a call was left queued";
        EXPECT_TRUE(WaitForThreadCount(threads));
    }
}

// The form's window goes while a tick is under way (here from the tick's
// own event, served on the window thread): the worker must then skip its
// paint, not create the form's window on its own thread.
TEST(AnimatorThreads, WorkerNeverCreatesAWindow) {
    TApplication application;
    application.Initialize();
    TWindowlessForm form(nullptr);
    form.SetBounds(100, 100, 200, 100);
    auto* animator = new TJvGIFAnimator(&form);
    animator->SetParent(&form);
    form.Show();
    application.ProcessMessages();
    std::atomic<bool> destroyed{false};
    animator->OnFrameChanged = [&](TComponent*) {
        if (!destroyed.exchange(true))
            form.DestroyHandle();
    };
    PlayAsync(*animator);
    ASSERT_TRUE(PumpUntil([&] { return destroyed.load(); }, 10000));
    // The rest of that tick runs on the worker without the window thread.
    ASSERT_TRUE(WaitWithoutServing([&] { return !animator->AnimTimer().HandlerRunning(); }));
    EXPECT_FALSE(form.HandleAllocated()) << "the worker created the form's window (on thread "
                                         << GetWindowThreadProcessId(form.Handle(), nullptr) << ")";
    animator->SetAnimate(false);
}

// OnFrameChanged handlers, raised on the window thread while the worker
// waits for them, change the control in every way the control allows; one
// change per tick. A tick that kept PictureLock or the canvas lock while it
// waited would leave each of these waiting for the worker for ever.
TEST(AnimatorThreads, FrameChangedHandlerChangesTheControl) {
    TApplication application;
    application.Initialize();
    TShownAnimator shown;
    TJvGIFAnimator& animator = *shown.Animator;
    TJvGIFImage other;
    {
        const gifwriter::Bytes gif = Animation({0, 0, 0, 0}, 16);
        TMemoryStream stream;
        stream.WriteBuffer(gif.data(), static_cast<int64_t>(gif.size()));
        stream.SetPosition(0);
        other.LoadFromStream(stream);
    }
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"Center", [&] { animator.SetCenter(!animator.Center()); }},
        {"Stretch", [&] { animator.SetStretch(!animator.Stretch()); }},
        {"Transparent", [&] { animator.SetTransparent(!animator.Transparent()); }},
        {"FrameIndex", [&] { animator.SetFrameIndex(animator.FrameIndex() == 0 ? 1 : 0); }},
        {"repaint", [&] { animator.Repaint(); }},
        {"Image", [&] { animator.SetImage(&other); }},
        {"Animate", [&] {
             animator.SetAnimate(false);
             animator.SetAnimate(true);
         }},
        {"AsyncDrawing", [&] { animator.SetAsyncDrawing(false); }},
    };
    std::atomic<size_t> done{0};
    std::atomic<bool> onWindowThread{true};
    bool changing = false;  // FrameIndex raises the event again, inside
    animator.OnFrameChanged = [&](TComponent*) {
        onWindowThread = onWindowThread && InMainThread();
        if (done < changes.size() && !changing) {
            changing = true;
            changes[done].second();
            changing = false;
            ++done;
        }
    };
    PlayAsync(animator);
    EXPECT_TRUE(PumpUntil([&] { return done == changes.size(); }, 20000))
        << "stuck after " << (done < changes.size() ? changes[done].first : "the last change");
    EXPECT_TRUE(onWindowThread.load());
    EXPECT_EQ(animator.Image().FrameCount(), 4) << "the image set by the handler";
    EXPECT_FALSE(animator.AsyncDrawing());
    EXPECT_TRUE(PumpUntil([&] { return animator.FrameIndex() == 3; }, 10000)) << "does not play on";
}

// A handler frees its own animator or its form: at the end of a pass
// (OnStop) or at a frame change, with the tick on the window thread or on
// the worker. The worker it came from waits for the handler: it must be
// released, not waited for, and must touch nothing afterwards.
TEST(AnimatorThreads, HandlerFreesItsAnimatorOrForm) {
    TApplication application;
    application.Initialize();
    for (const bool async : {false, true}) {
        for (const bool fromStop : {true, false}) {
            SCOPED_TRACE(std::string(async ? "asynchronous" : "synchronised") +
                         (fromStop ? ", OnStop frees the animator" : ", OnFrameChanged frees the form"));
            auto* shown = new TShownAnimator;
            const int threads = ThreadCount();
            TJvGIFAnimator* animator = shown->Animator;
            animator->SetAsyncDrawing(async);
            Load(*animator, Animation({0, 0}));
            std::atomic<int> calls{0};
            if (fromStop) {
                animator->SetLoop(false);
                animator->OnStop = [&, animator](TComponent*) {
                    ++calls;
                    delete animator;
                };
            } else {
                animator->OnFrameChanged = [&, shown](TComponent*) {
                    ++calls;
                    delete shown;
                };
            }
            animator->SetAnimate(true);
            ASSERT_TRUE(PumpUntil([&] { return calls > 0; }, 10000)) << "the handler never ran";
            EXPECT_TRUE(WaitForThreadCount(threads)) << "the worker did not end";
            EXPECT_EQ(calls.load(), 1);
            if (fromStop)
                delete shown;
        }
    }
}

// Two animators' ticks wait in the same batch of calls; the first handler
// served frees the other animator, whose worker waits for its call further
// down that batch. Freeing must serve that call (calls are taken one at a
// time) and the batch must not run it again afterwards.
TEST(AnimatorThreads, HandlerFreesAnotherAnimatorWhoseCallWaitsInTheSameBatch) {
    TApplication application;
    application.Initialize();
    TShownAnimator shown;
    const int threads = ThreadCount();
    auto* first = shown.Animator;
    auto* second = new TJvGIFAnimator(&shown.Form);
    second->SetParent(&shown.Form);
    second->SetBounds(100, 0, 8, 8);
    TJvGIFAnimator* freed = nullptr;
    int freedEvents = 0;
    auto handler = [&](TJvGIFAnimator* self, TJvGIFAnimator* other) {
        return [&, self, other](TComponent*) {
            if (self == freed)
                ++freedEvents;
            if (!freed) {
                freed = other;
                delete other;
            }
        };
    };
    first->OnFrameChanged = handler(first, second);
    second->OnFrameChanged = handler(second, first);
    PlayAsync(*first);
    PlayAsync(*second);
    ASSERT_TRUE(WaitForQueuedCalls(2)) << "both ticks must wait for the window thread";
    CheckSynchronize();
    ASSERT_TRUE(freed);
    EXPECT_EQ(freedEvents, 0) << "the freed animator's event ran";
    EXPECT_EQ(QueuedCalls(), 0);
    TJvGIFAnimator* survivor = freed == first ? second : first;
    EXPECT_TRUE(PumpUntil([&] { return survivor->FrameIndex() == 0; }, 10000)) << "the other one stopped playing";
    delete survivor;
    EXPECT_TRUE(WaitForThreadCount(threads));
}

// Calls the window thread makes while a tick waits on the worker are not
// made inside that tick: changing Threaded is allowed (the worker is ended,
// its call served) and switching the animation off ends the worker instead
// of leaving it paused.
TEST(AnimatorThreads, WindowThreadCallsDuringAnAsyncTickAreNotInsideIt) {
    TApplication application;
    application.Initialize();
    for (const bool switchOff : {false, true}) {
        SCOPED_TRACE(switchOff ? "Animate off" : "Threaded off");
        TShownAnimator shown;
        TJvGIFAnimator& animator = *shown.Animator;
        std::atomic<int> events{0};
        animator.OnFrameChanged = [&](TComponent*) { ++events; };
        PlayAsync(animator);
        ASSERT_TRUE(WaitForQueuedCalls(1));
        ASSERT_TRUE(animator.AnimTimer().HandlerRunning());
        if (switchOff) {
            animator.SetAnimate(false);
            EXPECT_FALSE(animator.AnimTimer().WorkerThread()) << "a worker stopped mid-tick was kept";
        } else {
            EXPECT_NO_THROW(animator.SetThreaded(false));
            EXPECT_FALSE(animator.Threaded());
            EXPECT_FALSE(animator.AnimTimer().WorkerThread());
            EXPECT_TRUE(animator.AnimTimer().WindowTimer());
        }
        EXPECT_EQ(events.load(), 1) << "the parked tick's event was not served on the window thread";
    }
}

// The window thread reads a new image into the animator through its stored
// "Image.Data" while the worker paints: the read must wait for the paint
// (the image has one lock), not change the frames under it. The worker is
// let go a little after the read has begun: a read that did not wait would
// have changed the image by then, and one that waits is right however long.
TEST(AnimatorThreads, ImageDataReadWhileTheWorkerPaints) {
    TApplication application;
    application.Initialize();
    RegisterAnimatedImageControls();
    TShownAnimator shown;
    auto* animator = new TParkingAnimator(&shown.Form);
    animator->SetParent(&shown.Form);
    animator->ParkNextWorkerPaint();
    PlayAsync(*animator, 32);
    ASSERT_TRUE(animator->WaitParked());
    const int paints = animator->WorkerPaints;
    TScopedHandle reading(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread releaser([&] {
        WaitForSingleObject(reading.Get(), 10000);
        Sleep(200);
        animator->Release();
    });
    const gifwriter::Bytes data = gifwriter::LengthPrefixed(Animation({0, 0, 0, 0, 0, 0}, 48));
    SetEvent(reading.Get());
    TReader::ReadRoot(*animator, {"TJvGIFAnimator", "", {{"Image.Data", TStoredBytes(data.begin(), data.end())}}, {}});
    releaser.join();
    EXPECT_GT(animator->WorkerPaints.load(), paints) << "the read did not wait for the paint";
    EXPECT_EQ(animator->ChangedUnderPaint.load(), 0);
    EXPECT_EQ(animator->Image().FrameCount(), 6);
    EXPECT_TRUE(PumpUntil([&] { return animator->FrameIndex() == 5; }, 10000)) << "does not play the new image";
}

// A handler served inside a wait of the window thread frees its animator:
// switching the animation off, making it unthreaded and giving it an image
// of one frame each end the worker, serving the OnFrameChanged call it
// waits in, whose handler frees the animator (and so its timer). The code
// that waited must touch nothing of either afterwards.
TEST(AnimatorThreads, HandlerServedInAWaitForTheWorkerFreesTheAnimator) {
    TApplication application;
    application.Initialize();
    TJvGIFImage single;
    {
        const gifwriter::Bytes gif = Animation({0}, 8);
        TMemoryStream stream;
        stream.WriteBuffer(gif.data(), static_cast<int64_t>(gif.size()));
        stream.SetPosition(0);
        single.LoadFromStream(stream);
    }
    const std::vector<std::pair<const char*, std::function<void(TJvGIFAnimator&)>>> waits = {
        {"Animate off", [](TJvGIFAnimator& animator) { animator.SetAnimate(false); }},
        {"Threaded off", [](TJvGIFAnimator& animator) { animator.SetThreaded(false); }},
        {"an image of one frame", [&](TJvGIFAnimator& animator) { animator.SetImage(&single); }},
    };
    for (const auto& [name, wait] : waits) {
        SCOPED_TRACE(name);
        TShownAnimator shown;
        const int threads = ThreadCount();
        TJvGIFAnimator* animator = shown.Animator;
        std::atomic<int> calls{0};
        animator->OnFrameChanged = [&, animator](TComponent*) {
            ++calls;
            delete animator;
        };
        PlayAsync(*animator);
        ASSERT_TRUE(WaitForQueuedCalls(1)) << "the tick must wait in its event";
        {
            const TFreedMemoryWatch freed;
            const TDeadlockWatch watch("a wait went on with the freed animator", 20000);
            wait(*animator);
            EXPECT_GT(freed.Blocks(), 0u);
            EXPECT_TRUE(freed.Untouched()) << "the freed animator or timer was written to";
        }
        EXPECT_EQ(calls.load(), 1);
        EXPECT_TRUE(WaitForThreadCount(threads)) << "the worker did not end";
    }
}

// The end of a pass (Loop off) waits for the window thread while the
// animation is switched off there: the stop is made once, so OnStop is
// raised once.
TEST(AnimatorThreads, SwitchedOffWhileTheEndOfAPassWaitsRaisesOnStopOnce) {
    TApplication application;
    application.Initialize();
    TShownAnimator shown;
    TJvGIFAnimator& animator = *shown.Animator;
    animator.SetLoop(false);
    std::atomic<int> stops{0};
    animator.OnStop = [&](TComponent*) { ++stops; };
    animator.SetAsyncDrawing(true);
    Load(animator, Animation({0, 0}));
    animator.SetAnimate(true);
    ASSERT_TRUE(WaitForQueuedCalls(1)) << "the end of the pass must wait for the window thread";
    ASSERT_EQ(animator.FrameIndex(), 0);
    animator.SetAnimate(false);
    EXPECT_EQ(stops.load(), 1);
    EXPECT_FALSE(animator.Animate());
    EXPECT_EQ(QueuedCalls(), 0);
}

// With Loop off, the handler of the frame that ends the pass turns
// AsyncDrawing off while the tick runs on the worker: the end of the pass
// still runs on the window thread, so OnStop does, and the quit message it
// asks for reaches the message loop.
TEST(AnimatorThreads, EndOfAPassAfterAsyncDrawingWasTurnedOffStopsOnTheWindowThread) {
    TApplication application;
    application.Initialize();
    TShownAnimator shown;
    TJvGIFAnimator& animator = *shown.Animator;
    animator.SetLoop(false);
    animator.OnFrameChanged = [&](TComponent*) {
        if (animator.FrameIndex() == 0)
            animator.SetAsyncDrawing(false);
    };
    std::atomic<DWORD> stopThread{0};
    animator.OnStop = [&](TComponent*) {
        stopThread = GetCurrentThreadId();
        Application->Terminate();
    };
    animator.SetAsyncDrawing(true);
    Load(animator, Animation({0, 0}));
    animator.SetAnimate(true);
    EXPECT_TRUE(PumpUntil([&] { return application.Terminated(); }, 10000)) << "the quit message was lost";
    EXPECT_EQ(stopThread.load(), MainThreadId()) << "OnStop ran on another thread";
}

namespace {

// Fails in its image paint on a worker while Failing is set.
class TFailingAnimator : public TJvGIFAnimator {
public:
    using TJvGIFAnimator::TJvGIFAnimator;
    std::atomic<bool> Failing{true};
    std::atomic<int> Failures{0};

protected:
    void RenderImage() override {
        if (!InMainThread() && Failing) {
            ++Failures;
            throw Exception("Drugi animator: obraz nie powstał");
        }
        TJvGIFAnimator::RenderImage();
    }
};

struct TBoxSeen {
    DWORD Thread;
    bool FormEnabled;
    std::wstring Text;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM data) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (process == GetCurrentProcessId() && std::wstring(name) == L"#32770" && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

std::vector<HWND> OpenBoxes() {
    std::vector<HWND> boxes;
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

}  // namespace

// Two animators fail in their ticks on their workers, one in its
// OnFrameChanged handler, one in its paint. Each error is shown on the
// window thread, with the form disabled, and one box at a time: the second
// error waits until the first box is closed.
TEST(AnimatorThreads, ErrorsOfAsyncTicksAreShownOnTheWindowThreadOneBoxAtATime) {
    TApplication application;
    application.Initialize();
    TShownAnimator shown;
    TJvGIFAnimator& first = *shown.Animator;
    std::atomic<bool> firstFailing{true};
    std::atomic<int> firstFailures{0};
    first.OnFrameChanged = [&](TComponent*) {
        if (firstFailing) {
            ++firstFailures;
            throw Exception("Pierwszy animator: zdarzenie zawiodło");
        }
    };
    auto* second = new TFailingAnimator(&shown.Form);
    second->SetParent(&shown.Form);
    second->SetBounds(100, 0, 8, 8);
    std::vector<TBoxSeen> seen;
    size_t mostOpen = 0;
    std::atomic<bool> bothShown{false}, finished{false};
    std::thread watcher([&] {
        const HWND form = shown.Form.Handle();
        bool firstShown = false, secondShown = false;
        while (!finished) {
            const std::vector<HWND> boxes = OpenBoxes();
            mostOpen = std::max(mostOpen, boxes.size());
            if (boxes.empty()) {
                Sleep(5);
                continue;
            }
            // Both animators fail before the box goes: a box of its own
            // for the second would open meanwhile.
            WaitWithoutServing([&] { return (firstFailures > 0 && second->Failures > 0) || finished; });
            for (int i = 0; i < 20; ++i, Sleep(5))
                mostOpen = std::max(mostOpen, OpenBoxes().size());
            for (HWND box : boxes) {
                const std::wstring text = WindowText(GetDlgItem(box, 0xFFFF));
                seen.push_back({GetWindowThreadProcessId(box, nullptr), IsWindowEnabled(form) != FALSE, text});
                firstShown = firstShown || text.find(L"Pierwszy") != std::wstring::npos;
                secondShown = secondShown || text.find(L"Drugi") != std::wstring::npos;
                if (firstShown && secondShown) {
                    firstFailing = false;
                    second->Failing = false;
                    bothShown = true;
                }
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            WaitWithoutServing([&] { return !IsWindow(boxes.front()) || finished; });
        }
    });
    PlayAsync(first);
    PlayAsync(*second);
    EXPECT_TRUE(PumpUntil([&] { return bothShown.load(); }, 30000)) << "both errors must be shown";
    first.SetAnimate(false);
    second->SetAnimate(false);
    finished = true;
    watcher.join();
    ASSERT_FALSE(seen.empty());
    for (const TBoxSeen& box : seen) {
        EXPECT_EQ(box.Thread, MainThreadId()) << "a box of another thread";
        EXPECT_FALSE(box.FormEnabled) << "the form stayed enabled under a box";
    }
    EXPECT_EQ(mostOpen, 1u) << "boxes open at once";
}

// Many animators created, played and destroyed at varying points of their
// first ticks, with and without an event handed to the window thread:
// nothing hangs, and threads and handles come back to their counts.
TEST(AnimatorThreadsStress, ThousandAsyncCreatePlayDestroyCycles) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    form.SetBounds(100, 100, 200, 100);
    form.Show();
    const gifwriter::Bytes gif = Animation({0, 0}, 16);
    auto cycle = [&](int i) {
        auto* animator = new TJvGIFAnimator(&form);
        animator->SetParent(&form);
        animator->SetAsyncDrawing(true);
        Load(*animator, gif);
        if (i % 2)
            animator->OnFrameChanged = [](TComponent*) {};
        animator->SetAnimate(true);
        switch (i % 4) {
        case 0:
            break;  // the worker may not have started
        case 1:
            if (i % 2)
                WaitForQueuedCalls(1);  // parked in its event
            break;
        case 2:
            Sleep(static_cast<DWORD>(i % 3));  // somewhere in the paint
            break;
        default:
            Application->ProcessMessages();
            break;
        }
        delete animator;
    };
    cycle(1);  // creates what lives for the whole process
    Application->ProcessMessages();
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    for (int i = 0; i < 1000; ++i)
        cycle(i);
    Application->ProcessMessages();
    EXPECT_TRUE(WaitForThreadCount(threads));
    EXPECT_EQ(HandleCount(), handles);
}
