// TJvTimer in both modes, driven by a real message loop.

#include <gtest/gtest.h>

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "TestSupport.h"
#include "controls/JvTimer.h"
#include "rtl/Errors.h"
#include "ui/Application.h"
#include "ui/Synchronize.h"
#include "win/ScopedWin.h"

namespace {

int ThreadCount() {
    TScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    return count;
}

// The system's count where it reports one; else (Wine reports 0) the
// handle values that name an open handle, tried one by one.
DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    DWORD flags;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    return count;
}

}  // namespace

TEST(JvTimer, StartsWhenHandlerIsSetFirstTickFollowsEventTimeIntervalZeroFrees) {
    TApplication application;
    application.Initialize();
    for (TJvTimerEventTime eventTime : {tetPre, tetPost}) {
        SCOPED_TRACE(eventTime == tetPre ? "tetPre" : "tetPost");
        TJvTimer timer(nullptr);
        timer.SetInterval(400);
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
            EXPECT_LT(firstTick, 200u) << "tetPre fires as the worker starts";
        else
            EXPECT_GE(firstTick, 300u) << "tetPost fires after one wait";
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
        WaitForSingleObject(SynchronizeEvent(), 1000);
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
