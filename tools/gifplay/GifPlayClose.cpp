// gifplay-close: starts a viewer again and again, closes its window with
// Alt+F4 at a random moment, and checks that each run ends soon after the
// close with exit status 0 (a viewer that hangs or crashes while it tears
// down its animation fails).
//
//   gifplay-close [--runs N] [--from MS] [--to MS] [--limit MS] [--seed S]
//                 VIEWER.exe [viewer arguments...]
//
// Each close comes between --from and --to ms after the viewer's window
// appeared (defaults 1500 and 3500); the viewer must end within --limit ms
// of it (default 5000). Prints one line per run; exit status 0 when every
// run passed, 1 when one did not, 2 on a usage error.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "KantrelDriver.h"

namespace {

struct TOptions {
    int Runs = 20;
    unsigned From = 1500, To = 3500, Limit = 5000;
    unsigned Seed = 0;
    std::wstring Viewer;
    std::wstring Arguments;
};

std::wstring Quoted(const std::wstring& argument) {
    return argument.find_first_of(L" \t\"") == std::wstring::npos ? argument : L"\"" + argument + L"\"";
}

bool ParseArguments(TOptions& options) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> list(args + 1, args + count);
    LocalFree(args);
    options.Seed = GetTickCount();
    size_t i = 0;
    // Whole decimal numbers only: a misspelt one read as 0 would make
    // "--runs" run nothing and pass.
    auto number = [&](unsigned& value) {
        if (i + 1 >= list.size())
            return false;
        const std::wstring& text = list[++i];
        if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
            return false;
        value = static_cast<unsigned>(std::wcstoul(text.c_str(), nullptr, 10));
        return true;
    };
    for (; i < list.size() && list[i].rfind(L"--", 0) == 0; ++i) {
        unsigned runs = 0;
        if (list[i] == L"--runs" && number(runs) && runs > 0)
            options.Runs = static_cast<int>(runs);
        else if (!((list[i] == L"--from" && number(options.From)) || (list[i] == L"--to" && number(options.To)) ||
                   (list[i] == L"--limit" && number(options.Limit)) || (list[i] == L"--seed" && number(options.Seed))))
            return false;
    }
    if (i >= list.size() || options.From > options.To)
        return false;
    options.Viewer = list[i++];
    for (; i < list.size(); ++i)
        options.Arguments += (options.Arguments.empty() ? L"" : L" ") + Quoted(list[i]);
    return true;
}

// Alt+F4 as a user types it, to the window brought to the front first (the
// Windows tests run one at a time: no other test's input meets it).
void PressAltF4(HWND window) {
    SetForegroundWindow(window);
    INPUT keys[4]{};
    const WORD codes[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
    for (int k = 0; k < 4; ++k) {
        keys[k].type = INPUT_KEYBOARD;
        keys[k].ki.wVk = codes[k];
        keys[k].ki.dwFlags = k >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    SendInput(4, keys, sizeof(INPUT));
}

// One run; prints its line and says whether it passed.
bool Run(const TOptions& options, int run, std::mt19937& random) {
    const unsigned wait = std::uniform_int_distribution<unsigned>(options.From, options.To)(random);
    TKantrelSession viewer(options.Viewer, L".", options.Arguments);
    HWND window = viewer.WaitForWindow([](HWND) { return true; });
    if (!window) {
        std::printf("run %d: no window (exit %lu)\n", run, viewer.ExitCode());
        return false;
    }
    Sleep(wait);
    if (!viewer.Running()) {
        std::printf("run %d: ended before the close (exit %lu)\n", run, viewer.ExitCode());
        return false;
    }
    const ULONGLONG closed = GetTickCount64();
    PressAltF4(window);
    const bool ended = viewer.WaitForExit(options.Limit);
    const ULONGLONG took = GetTickCount64() - closed;
    if (!ended) {
        std::printf("run %d: closed %u ms after its window appeared, still running %u ms later\n", run, wait,
                    options.Limit);
        return false;
    }
    const DWORD code = viewer.ExitCode();
    std::printf("run %d: closed %u ms after its window appeared, ended %llu ms later, exit %lu\n", run, wait, took,
                code);
    return code == 0;
}

}  // namespace

int wmain() {
    TOptions options;
    if (!ParseArguments(options)) {
        std::fprintf(stderr,
                     "usage: gifplay-close [--runs N] [--from MS] [--to MS] [--limit MS] [--seed S] VIEWER.exe "
                     "[viewer arguments...]\n");
        return 2;
    }
    std::printf("seed %u\n", options.Seed);
    std::mt19937 random(options.Seed);
    int failed = 0;
    for (int run = 1; run <= options.Runs; ++run) {
        failed += Run(options, run, random) ? 0 : 1;
        std::fflush(stdout);
    }
    std::printf("%d of %d runs passed\n", options.Runs - failed, options.Runs);
    return failed == 0 ? 0 : 1;
}
