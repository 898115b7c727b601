// demo-driver: runs Kantrel's installation sequence once, as a user would
// (default password, the start button, Yes), and takes pictures of the main
// window, the confirmation and the splash window while setup runs. The
// headless run command uses it with the setup stand-in beside kantrel.exe.
//
//   demo-driver.exe KANTREL_EXE OUTPUT_FOLDER
//
// Writes main.bmp, confirm.bmp and splash.bmp into OUTPUT_FOLDER; exits 0
// when the whole sequence went through.

#include "KantrelDriver.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return Fail("usage: demo-driver KANTREL_EXE OUTPUT_FOLDER");
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

    if (!kantrel.WaitForNoWindow(IsSplash, 60000))
        return Fail("setup did not end");
    PostMessageW(main, WM_CLOSE, 0, 0);
    if (!kantrel.WaitForExit(10000))
        return Fail("kantrel.exe did not end when its window was closed");
    return 0;
}
