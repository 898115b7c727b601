// demo-driver: runs Kantrel's installation sequence once, as a user would
// (default password, the start button, Yes), and takes pictures of the main
// window, the confirmation and the splash window while setup runs, and 24
// pictures of the splash window's client area about 60 ms apart. The headless
// run command uses it with the setup stand-in beside kantrel.exe.
//
//   demo-driver.exe KANTREL_EXE OUTPUT_FOLDER [--cpu SECONDS] [--failure]
//
// Writes main.bmp, confirm.bmp, splash.bmp and splash-strip/00.bmp ... 23.bmp
// into OUTPUT_FOLDER and prints what each strip picture shows; exits 0 when
// the whole sequence went through. With --cpu it then measures the CPU time
// kantrel.exe uses over that many seconds of the wait, and over as many more
// the frame changes it shows (setup must run that long). With --failure,
// setup is to fail: it takes the picture of the error box after setup
// (failure.bmp) and copies the log the box names (kantrel.log).

#include "KantrelDriver.h"

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <vector>

#include "SplashStrip.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "demo-driver: %s\n", what);
    return 1;
}

bool Picture(HWND window, const fs::path& file) {
    // Let the window finish painting first.
    Sleep(400);
    if (!SaveWindowPicture(window, file))
        return false;
    std::printf("%s\n", WideToUtf8(file.wstring()).c_str());
    return true;
}

void SleepUntil(Clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    if (left > 0)
        Sleep(static_cast<DWORD>(left));
}

// Successive pictures of the splash window's client area, taken first and
// saved afterwards, so that writing files does not stretch the spacing.
bool StripPictures(HWND splash, const fs::path& folder) {
    constexpr int Count = 24;
    constexpr auto Spacing = std::chrono::milliseconds(60);
    std::vector<TScreenPicture> pictures;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < Count; ++i) {
        SleepUntil(start + i * Spacing);
        pictures.push_back(CaptureClientArea(splash));
    }
    fs::create_directories(folder);
    for (int i = 0; i < Count; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"%02d.bmp", i);
        if (!SaveBmp(pictures[i], folder / name))
            return false;
        std::printf("%s  %s\n", WideToUtf8((folder / name).wstring()).c_str(),
                    ReadSplashStrip(pictures[i]).Describe().c_str());
    }
    return true;
}

// kantrel.exe's CPU time over a stretch of the wait, left alone; then, over
// a second stretch as long, the frame changes the strip shows, read from
// pictures every 20 ms. Reading the screen costs kantrel.exe CPU time under
// Wine, so the first stretch gives the figure and the second the frame rate.
bool MeasureCpu(TKantrelSession& kantrel, HWND splash, int seconds) {
    const auto stretch = std::chrono::seconds(seconds);
    const long long before = kantrel.CpuTime();
    Clock::time_point start = Clock::now();
    SleepUntil(start + stretch);
    const long long after = kantrel.CpuTime();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();

    start = Clock::now();
    int changes = 0, runner = ReadSplashStrip(CaptureClientArea(splash)).Runner;
    while (Clock::now() < start + stretch) {
        Sleep(20);
        const int now = ReadSplashStrip(CaptureClientArea(splash)).Runner;
        changes += now != runner;
        runner = now;
    }
    const double rate = changes / std::chrono::duration<double>(Clock::now() - start).count();
    if (before < 0 || after < 0 || !IsWindow(splash))
        return false;
    const double cpuMs = (after - before) / 1e4;
    std::printf("kantrel.exe CPU over %.1f s of the wait: %.1f ms (%.2f %% of one core)\n", wall, cpuMs,
                cpuMs / (wall * 10));
    std::printf("frame changes over the next %d s: %d (%.1f per second)", seconds, changes, rate);
    if (changes > 0)
        std::printf("; CPU per frame change: %.3f ms", cpuMs / (rate * wall));
    std::printf("\n");
    return true;
}

}  // namespace

// The error box after setup: its picture, and a copy of the log it names on
// its last line.
bool FailurePictures(TKantrelSession& kantrel, const fs::path& output) {
    HWND box = kantrel.WaitForMessageBox("Uwaga", 60000);
    if (!box || !Picture(box, output / L"failure.bmp"))
        return false;
    const std::string text = MessageBoxText(box);
    const std::string label = "Dziennik programu Kantrel: ";
    const size_t at = text.rfind(label);
    std::error_code error;
    if (at == std::string::npos ||
        !fs::copy_file(fs::path(Utf8ToWide(text.substr(at + label.size()))), output / L"kantrel.log",
                       fs::copy_options::overwrite_existing, error))
        return false;
    ClickButton(GetDlgItem(box, IDOK));
    return kantrel.WaitForNoWindow([box](HWND w) { return w == box; });
}

int wmain(int argc, wchar_t** argv) {
    int cpuSeconds = 0;
    bool failure = false, usage = argc < 3;
    for (int i = 3; i < argc && !usage; ++i) {
        if (std::wcscmp(argv[i], L"--cpu") == 0 && i + 1 < argc)
            cpuSeconds = _wtoi(argv[++i]);
        else if (std::wcscmp(argv[i], L"--failure") == 0)
            failure = true;
        else
            usage = true;
    }
    if (usage)
        return Fail("usage: demo-driver KANTREL_EXE OUTPUT_FOLDER [--cpu SECONDS] [--failure]");
    const fs::path program = argv[1];
    const fs::path output = argv[2];
    fs::create_directories(output);

    TKantrelSession kantrel(program, program.parent_path());
    HWND main = kantrel.WaitForMainWindow();
    if (!main)
        return Fail("the main window did not appear");
    if (!Picture(main, output / L"main.bmp"))
        return Fail("cannot take the picture of the main window");

    ClickButton(FindChild(main, L"Button"));
    HWND confirm = kantrel.WaitForMessageBox("Pytanie");
    if (!confirm)
        return Fail("no confirmation");
    if (!Picture(confirm, output / L"confirm.bmp"))
        return Fail("cannot take the picture of the confirmation");
    ClickButton(GetDlgItem(confirm, IDYES));

    HWND splash = kantrel.WaitForSplash();
    if (!splash)
        return Fail("no splash window");
    if (!Picture(splash, output / L"splash.bmp"))
        return Fail("cannot take the picture of the splash window");
    if (!StripPictures(splash, output / L"splash-strip"))
        return Fail("cannot take the pictures of the splash window's strip");
    if (cpuSeconds > 0 && !MeasureCpu(kantrel, splash, cpuSeconds))
        return Fail("cannot measure the CPU time (did setup end too early?)");

    if (!kantrel.WaitForNoWindow(IsSplash, 60000))
        return Fail("setup did not end");
    if (failure && !FailurePictures(kantrel, output))
        return Fail("no error box after setup, or no log named in it");
    PostMessageW(main, WM_CLOSE, 0, 0);
    if (!kantrel.WaitForExit(10000))
        return Fail("kantrel.exe did not end when its window was closed");
    return 0;
}
