// The least CPU the launcher's wait costs under this system, as the peer of
// the demo's measure (KANTREL_DEMO_CPU_SECONDS): a worker thread in 10 ms
// sleeps, as an animation timer's worker waits, beside a window thread that
// waits 50 ms at a time on a handle and then empties its message queue, as
// the launcher waits for setup; then the same with one GetDC, BitBlt of a
// prepared 413 x 50 picture and ReleaseDC after every wait, the least a
// frame can cost to show. Nothing of Kantrel runs. Not a test: run under
// Wine by hand, with the number of seconds per measure (default 30):
//   wine build/win32/bench/windows/waitbench.exe [SECONDS]

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "ProcessCpu.h"
#include "win/ScopedWin.h"

namespace {

std::atomic<bool> Stopping{false};

DWORD WINAPI SleepingWorker(LPVOID) {
    while (!Stopping.load())
        SleepEx(10, FALSE);
    return 0;
}

// Waits as the launcher does for seconds; after each wait, draw (if any)
// shows a frame. Prints the process's CPU use and the frames a second.
template <class Draw>
void Measure(const char* what, int seconds, HANDLE neverSet, Draw draw) {
    Stopping.store(false);
    TScopedHandle worker(CreateThread(nullptr, 0, SleepingWorker, nullptr, 0, nullptr));
    const double cpuStart = ProcessCpuSeconds();
    const DWORD start = GetTickCount();
    int frames = 0;
    while (GetTickCount() - start < DWORD(seconds) * 1000) {
        WaitForSingleObject(neverSet, 50);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        frames += draw();
    }
    const double cpu = ProcessCpuSeconds() - cpuStart;
    Stopping.store(true);
    WaitForSingleObject(worker.Get(), INFINITE);
    std::printf("%-44s %6.3f s CPU over %d s = %.2f %% of one core, %.1f frames a second\n", what, cpu, seconds,
                cpu / seconds * 100.0, frames / double(seconds));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    constexpr int width = 413, height = 50;
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 100, 100, width, height, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    {
        // Two pictures in the screen's format, shown in turn.
        TScopedMemoryDC pictures[2];
        TScopedBitmap bitmaps[2];
        {
            TScopedGetDC screen(window);
            for (int i = 0; i < 2; ++i) {
                pictures[i] = TScopedMemoryDC(screen.Get());
                bitmaps[i].Reset(CreateCompatibleBitmap(screen.Get(), width, height));
            }
        }
        TScopedSelect selected0(pictures[0].Get(), bitmaps[0].Get());
        TScopedSelect selected1(pictures[1].Get(), bitmaps[1].Get());
        const RECT all{0, 0, width, height};
        for (int i = 0; i < 2; ++i) {
            TScopedGdiObject<HBRUSH> brush(CreateSolidBrush(i ? RGB(25, 59, 101) : RGB(175, 196, 219)));
            FillRect(pictures[i].Get(), &all, brush.Get());
        }
        TScopedHandle neverSet(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        Sleep(500);

        Measure("the wait alone", seconds, neverSet.Get(), [] { return 0; });
        int shown = 0;
        Measure("the wait, one BitBlt to the window per wait", seconds, neverSet.Get(), [&] {
            TScopedGetDC dc(window);
            BitBlt(dc.Get(), 0, 0, width, height, pictures[shown % 2].Get(), 0, 0, SRCCOPY);
            ++shown;
            return 1;
        });
    }
    DestroyWindow(window);
    return 0;
}
