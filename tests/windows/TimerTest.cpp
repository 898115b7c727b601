// TJvTimer in both modes, driven by a real message loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AnimatorSupport.h"
#include "controls/JvTimer.h"
#include "rtl/Errors.h"
#include "ui/Application.h"
#include "ui/Synchronize.h"
#include "win/ScopedWin.h"

TEST(JvTimer, StartsWhenHandlerIsSetFirstTickFollowsEventTimeIntervalZeroFrees) {
    TApplication application;
    application.Initialize();
    for (TJvTimerEventTime eventTime : {tetPre, tetPost}) {
        SCOPED_TRACE(eventTime == tetPre ? "tetPre" : "tetPost");
        TJvTimer timer(nullptr);
        // Long enough that a busy machine's delays cannot blur the two.
        timer.SetInterval(1000);
        timer.SetEventTime(eventTime);
        EXPECT_FALSE(timer.WorkerThread()) << "a timer without a handler must not start";
        std::atomic<int> ticks{0};
        bool onWindowThread = false;
        const DWORD start = GetTickCount();
        DWORD firstTick = 0;
        timer.SetOnTimer([&](TComponent* sender) {
            if (ticks++ == 0)
                firstTick = GetTickCount() - start;
            onWindowThread = InMainThread() && sender == &timer;
        });
        ASSERT_TRUE(timer.WorkerThread());
        ASSERT_TRUE(PumpUntil([&] { return ticks > 0; }, 3000));
        EXPECT_TRUE(onWindowThread);
        if (eventTime == tetPre)
            EXPECT_LT(firstTick, 500u) << "tetPre fires as the worker starts";
        else
            EXPECT_GE(firstTick, 900u) << "tetPost fires after one wait";
        timer.SetInterval(0);
        EXPECT_FALSE(timer.WorkerThread()) << "an inactive timer outside its handler frees the worker";
    }
}

// A handler that stops its own timer holds it (the tick source is kept,
// never freed from inside its own tick); enabling it again resumes ticking.
// The handler cannot change Threaded.
TEST(JvTimer, HandlerStopsTimerHoldsItAndCannotChangeThreaded) {
    TApplication application;
    application.Initialize();
    for (bool threaded : {true, false}) {
        SCOPED_TRACE(threaded ? "threaded" : "window timer");
        TJvTimer timer(nullptr);
        timer.SetThreaded(threaded);
        timer.SetInterval(30);
        int ticks = 0;
        std::string refusal;
        timer.SetOnTimer([&](TComponent*) {
            ++ticks;
            try {
                timer.SetThreaded(!threaded);
            } catch (const Exception& error) {
                refusal = error.Message();
            }
            timer.SetEnabled(false);
        });
        ASSERT_TRUE(PumpUntil([&] { return ticks > 0; }, 3000));
        EXPECT_EQ(refusal, "Cannot change TJvTimer.Threaded in the timer event");
        EXPECT_EQ(timer.Threaded(), threaded);
        if (threaded) {
            ASSERT_TRUE(timer.WorkerThread()) << "the worker must be kept, paused";
            EXPECT_TRUE(timer.WorkerThread()->Paused());
        } else {
            ASSERT_TRUE(timer.WindowTimer()) << "the window timer must be kept, disabled";
            EXPECT_FALSE(timer.WindowTimer()->Enabled());
        }
        Pump(200);
        EXPECT_EQ(ticks, 1) << "a held timer ticked";
        timer.SetEnabled(true);
        EXPECT_TRUE(PumpUntil([&] { return ticks > 1; }, 3000)) << "re-enabled timer does not tick";
    }
}

// Errors: an unsynchronised handler's error is kept and the worker goes on
// (the silent abort is not shown); a synchronised handler's error ends the
// worker.
TEST(JvTimer, HandlerErrorsOnWorkerAndThroughSynchronisation) {
    TApplication application;
    application.Initialize();
    {
        SCOPED_TRACE("unsynchronised");
        TJvTimer timer(nullptr);
        timer.SetSyncEvent(false);
        timer.SetInterval(10);
        std::atomic<int> ticks{0};
        std::atomic<bool> onWorker{true};
        timer.SetOnTimer([&](TComponent*) {
            ++ticks;
            if (InMainThread())
                onWorker = false;
            throw EAbort();
        });
        EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000)) << "the worker stopped after an error";
        EXPECT_TRUE(onWorker.load());
        ASSERT_TRUE(timer.WorkerThread()->LastError());
        EXPECT_THROW(std::rethrow_exception(timer.WorkerThread()->LastError()), EAbort);
    }
    {
        SCOPED_TRACE("synchronised");
        TJvTimer timer(nullptr);
        timer.SetInterval(10);
        int ticks = 0;
        timer.SetOnTimer([&](TComponent*) {
            ++ticks;
            throw EInvalidGraphicOperation("tick failed");
        });
        ASSERT_TRUE(PumpUntil([&] { return timer.WorkerThread()->Finished(); }, 3000));
        Pump(100);
        EXPECT_EQ(ticks, 1);
        EXPECT_THROW(std::rethrow_exception(timer.WorkerThread()->FatalException()), EInvalidGraphicOperation);
    }
}

// Over 2 s at 50 ms the count falls in a wide band; a shorter interval set
// while the worker waits restarts the wait; after the quit message no tick
// fires.
TEST(JvTimer, TicksOverTwoSecondsIntervalChangeAndQuitMessage) {
    TApplication application;
    application.Initialize();
    TJvTimer timer(nullptr);
    timer.SetInterval(50);
    int ticks = 0;
    timer.SetOnTimer([&](TComponent*) { ++ticks; });
    Pump(2000);
    EXPECT_GE(ticks, 15);
    EXPECT_LE(ticks, 45);

    timer.SetInterval(5000);
    ticks = 0;
    Pump(100);
    timer.SetInterval(40);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 1500)) << "the 5 s wait was not cut short";

    timer.SetSyncEvent(false);  // the worker fires by itself: no pumping needed
    std::atomic<int> workerTicks{0};
    timer.SetOnTimer([&](TComponent*) { ++workerTicks; });
    PostQuitMessage(0);
    application.ProcessMessages();
    ASSERT_TRUE(application.Terminated());
    Sleep(100);  // a tick under way may finish
    const int before = workerTicks.load();
    Sleep(300);
    EXPECT_EQ(workerTicks.load(), before) << "ticks after the quit message";
}

// A handler on the worker (SyncEvent off) frees its own timer: the worker
// cannot be waited for from itself; it must end by itself afterwards,
// touching nothing of the freed timer.
TEST(JvTimer, DestroyedFromItsOwnWorker) {
    TApplication application;
    application.Initialize();
    const int threads = ThreadCount();
    for (int cycle = 0; cycle < 20; ++cycle) {
        auto* timer = new TJvTimer(nullptr);
        timer->SetSyncEvent(false);
        timer->SetInterval(10);
        std::atomic<int> ticks{0};
        timer->SetOnTimer([&ticks, timer](TComponent*) {
            if (ticks++ == 0)
                delete timer;
        });
        ASSERT_TRUE(WaitWithoutServing([&] { return ticks > 0; }));
        ASSERT_TRUE(WaitForThreadCount(threads)) << "cycle " << cycle << ": the worker did not end";
        EXPECT_EQ(ticks.load(), 1) << "cycle " << cycle;
    }
}

// A worker's handler hands a call to the window thread after the timer's
// destruction has taken its worker away: the call runs on the window thread
// or not at all, never on the worker itself.
TEST(JvTimer, CallsDuringDestructionNeverRunOnTheWorker) {
    TApplication application;
    application.Initialize();
    auto* timer = new TJvTimer(nullptr);
    timer->SetSyncEvent(false);
    timer->SetInterval(10);
    std::atomic<bool> inHandler{false};
    std::atomic<int> calls{0}, onWorker{0};
    timer->SetOnTimer([&, timer](TComponent*) {
        if (inHandler.exchange(true))
            return;
        WaitWithoutServing([timer] { return !timer->WorkerThread(); });
        timer->CallSynchronized([&] {
            ++calls;
            onWorker += InMainThread() ? 0 : 1;
        });
    });
    ASSERT_TRUE(WaitWithoutServing([&] { return inHandler.load(); }));
    delete timer;
    EXPECT_EQ(onWorker.load(), 0) << "of " << calls.load() << " calls";
}

namespace {

BOOL CALLBACK CollectMessageBoxes(HWND window, LPARAM data) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32770" && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

}  // namespace

// A window-mode handler that fails at every tick: the error box's modal
// loop dispatches further timer messages, which must wait for that box
// instead of opening one box over the other.
TEST(JvTimer, WindowModeErrorsShowOneBoxAtATime) {
    TApplication application;
    application.Initialize();
    TJvTimer timer(nullptr);
    timer.SetThreaded(false);
    timer.SetInterval(10);
    std::atomic<bool> failing{true};
    std::atomic<int> failures{0};
    timer.SetOnTimer([&](TComponent*) {
        if (failing) {
            ++failures;
            throw EInvalidGraphicOperation("tick failed");
        }
    });
    const DWORD windowThread = GetCurrentThreadId();
    std::atomic<int> mostOpen{0};
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        auto boxes = [windowThread] {
            std::vector<HWND> found;
            EnumThreadWindows(windowThread, CollectMessageBoxes, reinterpret_cast<LPARAM>(&found));
            return found;
        };
        for (const DWORD start = GetTickCount(); boxes().empty() && GetTickCount() - start < 10000;)
            Sleep(10);
        // Dozens of ticks come meanwhile; a box for each would pile up.
        for (int i = 0; i < 30; ++i) {
            mostOpen = std::max(mostOpen.load(), static_cast<int>(boxes().size()));
            Sleep(10);
        }
        failing = false;
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000;) {
            const std::vector<HWND> open = boxes();
            if (open.empty())
                break;
            for (HWND box : open)
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Sleep(20);
        }
        finished = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return finished.load(); }, 30000));
    watcher.join();
    EXPECT_EQ(mostOpen.load(), 1);
    EXPECT_EQ(failures.load(), 1) << "the handler ran while its error was shown";
}

// Destroying a timer whose worker is blocked in a synchronised tick must
// serve that tick while it waits; nothing may leak over many cycles.
TEST(JvTimerStress, ThousandCyclesDestroyWithPendingSynchronisedTick) {
    TApplication application;
    application.Initialize();
    auto cycle = [](int& ticks) {
        TJvTimer timer(nullptr);
        timer.SetInterval(1);
        timer.SetOnTimer([&ticks](TComponent*) { ++ticks; });
        // tetPre: the worker queues its first tick at once; wait until it has.
        for (int i = 0; i < 1000 && QueuedCalls() == 0; ++i)
            Sleep(1);
    };
    int ticks = 0;
    cycle(ticks);  // creates what lives for the whole process
    Sleep(50);
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    for (int i = 0; i < 1000; ++i)
        cycle(ticks);
    EXPECT_EQ(ticks, 0) << "a tick served during destruction must not call the handler";
    Sleep(50);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(HandleCount(), handles);
}
