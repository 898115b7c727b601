// Measures, under the real message loop:
// - the latency of one call handed from a worker to a pumping window thread
//   (median and 99th percentile of 10,000), beside SendMessage from the same
//   worker to a window of the same thread, the system's own cross-thread call;
// - the CPU time the process uses in 10 s while a threaded 50 ms timer ticks
//   an empty handler.
// Not a test: timings on a shared machine are noisy. Run under Wine:
//   wine build/win32/bench/windows/timerbench.exe

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

#include "ProcessCpu.h"
#include "controls/JvTimer.h"
#include "ui/Application.h"
#include "ui/Synchronize.h"
#include "ui/Thread.h"

namespace {

constexpr int Calls = 10000;

double Microseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

struct TLatency {
    double Median;
    double P99;
};

// Times each call the worker makes while the window thread handles messages.
TLatency TimeCalls(const std::function<void()>& call) {
    std::vector<LONGLONG> times(Calls);
    std::atomic<bool> done{false};
    TAnonymousThread worker([&] {
        for (int i = 0; i < Calls; ++i) {
            const LONGLONG start = Now();
            call();
            times[i] = Now() - start;
        }
        done = true;
        PostMessageW(Application->Handle(), WM_NULL, 0, 0);
    });
    worker.Resume();
    while (!done)
        Application->HandleMessage();
    worker.WaitFor();
    std::sort(times.begin(), times.end());
    return {Microseconds(times[Calls / 2]), Microseconds(times[Calls * 99 / 100])};
}

}  // namespace

int main() {
    TApplication application;
    application.Initialize();

    const TLatency ours = TimeCalls([] { Synchronize([] {}); });
    const TLatency peer = TimeCalls([] { SendMessageW(Application->Handle(), WM_USER, 0, 0); });
    std::printf("synchronised call, %d calls: median %.1f us, 99th percentile %.1f us\n", Calls, ours.Median,
                ours.P99);
    std::printf("SendMessage peer:             median %.1f us, 99th percentile %.1f us\n", peer.Median, peer.P99);
    std::printf("ratio SendMessage / ours: median %.2f, 99th percentile %.2f\n", peer.Median / ours.Median,
                peer.P99 / ours.P99);

    int ticks = 0;
    {
        TJvTimer timer(nullptr);
        timer.SetInterval(50);
        timer.SetOnTimer([&ticks](TComponent*) { ++ticks; });
        const double cpuStart = ProcessCpuSeconds();
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 10000)
            application.HandleMessage();
        const double cpu = ProcessCpuSeconds() - cpuStart;
        std::printf("threaded 50 ms timer, 10 s: %d ticks, CPU %.3f s = %.2f %% of one core\n", ticks, cpu,
                    cpu / 10.0 * 100.0);
    }
    return 0;
}
