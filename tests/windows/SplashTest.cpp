// The splash window as built from its stored definition and shown over the
// main window.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/uFoMain.h"
#include "app/uSplash.h"
#include "ui/Application.h"
#include "ui/Graphics.h"

namespace {

void PumpFor(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        Application->ProcessMessages();
        Sleep(5);
    } while (std::chrono::steady_clock::now() < end);
}

class SplashTest : public testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        Application->SetTitle("Kantrel");
        Application->CreateForm(FoMain);
        FoMain->Show();
        PumpFor(100);
    }
    TApplication Application_;
};

}  // namespace

TEST_F(SplashTest, BuiltHiddenWithItsBandsStackedFromTheTop) {
    if (ScreenPixelsPerInch() != 96)
        GTEST_SKIP() << "the stored layout is checked at 96 pixels per inch";
    TFoSplash splash(nullptr);
    EXPECT_FALSE(IsWindowVisible(splash.Handle())) << "hidden until shown";
    EXPECT_EQ(splash.ClientWidth(), 413);
    EXPECT_EQ(splash.ClientHeight(), 129);
    RECT client;
    GetClientRect(splash.Handle(), &client);
    EXPECT_EQ(client.right, 413);
    EXPECT_EQ(client.bottom, 129);
    const LONG_PTR style = GetWindowLongPtrW(splash.Handle(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER)) << "no border, no title bar";
    wchar_t text[32] = {};
    GetWindowTextW(splash.Handle(), text, 32);
    EXPECT_STREQ(text, L"FoSplash");
    EXPECT_EQ(ColorToRGB(splash.Color()), RGB(214, 214, 214));
    EXPECT_EQ(splash.Font().Name(), "MS Sans Serif");
    EXPECT_EQ(splash.Font().Height(), -11);

    struct {
        TControl* Control;
        int Top, Height;
        const char* Text;
        int FontHeight;
    } bands[] = {
        {splash.Label2, 0, 20, "Trwa instalacja SQLServer", -16},
        {splash.Label1, 20, 29, "Proszę czekać...", -23},
        {splash.JvGIFAnimator1, 49, 50, "", 0},
        {splash.Label3, 99, 16, "Nie należy przerywać tego procesu", -13},
    };
    for (const auto& band : bands) {
        SCOPED_TRACE(band.Control->Name());
        EXPECT_EQ(band.Control->Left(), 0);
        EXPECT_EQ(band.Control->Top(), band.Top);
        EXPECT_EQ(band.Control->Width(), 413);
        EXPECT_EQ(band.Control->Height(), band.Height);
        EXPECT_EQ(band.Control->Align(), alTop);
        EXPECT_EQ(ColorToRGB(band.Control->Color()), RGB(214, 214, 214)) << "the window's background";
        if (auto* label = dynamic_cast<TLabel*>(band.Control)) {
            EXPECT_EQ(label->Text(), band.Text);
            EXPECT_EQ(label->Font().Height(), band.FontHeight);
            EXPECT_EQ(label->Font().Name(), "MS Sans Serif");
            EXPECT_EQ(label->Font().Charset(), EASTEUROPE_CHARSET) << "a font with the Polish letters";
            EXPECT_EQ(ColorToRGB(label->Font().Color()), RGB(0, 0, 0));
            EXPECT_EQ(label->Alignment(), taCenter);
            EXPECT_EQ(label->Layout(), tlCenter);
        }
    }
}

TEST_F(SplashTest, ShownCentredOverTheMainWindowOnTopAndEmptyBelowTheText) {
    // Move the main window off the screen's centre, so that centring on the
    // screen would show.
    SetWindowPos(FoMain->Handle(), nullptr, 40, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PumpFor(50);
    auto splash = std::make_unique<TFoSplash>(nullptr);
    splash->Show();
    PumpFor(150);
    ASSERT_TRUE(IsWindowVisible(splash->Handle()));
    RECT main, over;
    GetWindowRect(FoMain->Handle(), &main);
    GetWindowRect(splash->Handle(), &over);
    EXPECT_LE(std::abs((over.left + over.right) - (main.left + main.right)), 2) << "centred across the main window";
    EXPECT_LE(std::abs((over.top + over.bottom) - (main.top + main.bottom)), 2) << "centred down the main window";
    bool above = false;
    for (HWND w = GetWindow(splash->Handle(), GW_HWNDNEXT); w && !above; w = GetWindow(w, GW_HWNDNEXT))
        above = w == FoMain->Handle();
    EXPECT_TRUE(above) << "on top of the main window";
    EXPECT_TRUE(IsWindowEnabled(FoMain->Handle())) << "not modal";

    // What the window paints: the text bands leave their edges and the rows
    // below them in the background colour; the strip shows the background.
    TScopedGetDC window(splash->Handle());
    HDC dc = window.Get();
    const COLORREF grey = RGB(214, 214, 214);
    int stray = 0, ink = 0;
    for (int y = 115; y < 129; ++y)
        for (int x = 0; x < 413; x += 3)
            stray += GetPixel(dc, x, y) != grey;
    for (int y = 49; y < 99; ++y)
        for (int x = 0; x < 413; x += 3)
            stray += GetPixel(dc, x, y) != grey;
    for (int y = 20; y < 49; ++y)
        for (int x = 100; x < 313; ++x)
            ink += GetPixel(dc, x, y) == RGB(0, 0, 0);
    EXPECT_EQ(stray, 0) << "strip and bottom rows are background";
    EXPECT_GT(ink, 50) << "\"Proszę czekać...\" drawn in black";

    const HWND handle = splash->Handle();
    splash.reset();
    EXPECT_FALSE(IsWindow(handle)) << "freeing destroys the window";
}
