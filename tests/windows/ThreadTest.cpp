// Threads and calls handed to the window thread.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Errors.h"
#include "ui/Application.h"
#include "ui/Synchronize.h"
#include "ui/Thread.h"

namespace {

struct TCall {
    int Worker;
    int Sequence;
    bool OnWindowThread;
};

constexpr int Workers = 3;
constexpr int CallsEach = 40;

// Starts the workers; each hands CallsEach numbered calls to the window
// thread, then one that counts it finished.
std::vector<std::unique_ptr<TAnonymousThread>> StartWorkers(std::vector<TCall>& calls, std::atomic<int>& finished) {
    std::vector<std::unique_ptr<TAnonymousThread>> workers;
    for (int w = 0; w < Workers; ++w) {
        workers.push_back(std::make_unique<TAnonymousThread>([w, &calls, &finished] {
            for (int i = 0; i < CallsEach; ++i)
                Synchronize([&calls, w, i] { calls.push_back({w, i, InMainThread()}); });
            // Counted on the window thread: counted here, the count could
            // come after the window thread's last look and leave it asleep
            // in an idle wait that no further call wakes.
            Synchronize([&finished] { ++finished; });
        }));
        workers.back()->Resume();
    }
    return workers;
}

void ExpectServedInOrder(const std::vector<TCall>& calls) {
    ASSERT_EQ(calls.size(), static_cast<size_t>(Workers * CallsEach));
    std::vector<int> next(Workers, 0);
    for (const TCall& call : calls) {
        EXPECT_TRUE(call.OnWindowThread) << "worker " << call.Worker << " call " << call.Sequence;
        EXPECT_EQ(call.Sequence, next[call.Worker]) << "worker " << call.Worker << " out of order";
        next[call.Worker] = call.Sequence + 1;
    }
}

}  // namespace

// The window thread serves the queue in each of the places it can be: the
// "process all pending messages" step, an idle wait for a message, and a
// wait for a thread to end (which would otherwise deadlock).
TEST(Synchronize, CallsFromSeveralThreadsRunInOrderOnWindowThreadWhereverItWaits) {
    TApplication application;
    application.Initialize();
    // How the window thread spends its time until the workers are done.
    using TServe = std::function<void(std::vector<std::unique_ptr<TAnonymousThread>>&, std::atomic<int>&)>;
    const std::pair<const char*, TServe> ways[] = {
        {"pumping",
         [&](auto&, std::atomic<int>& finished) {
             for (const DWORD start = GetTickCount(); finished < Workers && GetTickCount() - start < 10000; Sleep(1))
                 application.ProcessMessages();
         }},
        // HandleMessage sleeps until a message comes: only the wake-up
        // message of a queued call can end each wait here.
        {"idle",
         [&](auto&, std::atomic<int>& finished) {
             for (const DWORD start = GetTickCount(); finished < Workers && GetTickCount() - start < 10000;)
                 application.HandleMessage();
         }},
        {"waiting for the threads",
         [](auto& workers, std::atomic<int>&) {
             for (auto& worker : workers)
                 worker->WaitFor();
         }},
    };
    for (const auto& [name, serve] : ways) {
        SCOPED_TRACE(name);
        std::vector<TCall> calls;
        std::atomic<int> finished{0};
        auto workers = StartWorkers(calls, finished);
        serve(workers, finished);
        EXPECT_EQ(finished.load(), Workers) << "calls not served";
        ExpectServedInOrder(calls);
    }
}

TEST(Synchronize, ErrorReachesCallerAndWindowThreadCallRunsAtOnce) {
    TApplication application;
    application.Initialize();

    bool ranAtOnce = false;
    Synchronize([&] { ranAtOnce = InMainThread(); });
    EXPECT_TRUE(ranAtOnce) << "a call from the window thread must run directly";

    std::string caught;
    TAnonymousThread worker([&caught] {
        try {
            Synchronize([] { throw EInvalidGraphicOperation("raised on the window thread"); });
        } catch (const EInvalidGraphicOperation& error) {
            caught = error.Message();
        }
        // An error that leaves the body is kept as the thread's fatal error.
        Synchronize([] { throw EAbort(); });
    });
    worker.Resume();
    worker.WaitFor();
    EXPECT_EQ(caught, "raised on the window thread");
    ASSERT_TRUE(worker.FatalException());
    EXPECT_THROW(std::rethrow_exception(worker.FatalException()), EAbort);
}
