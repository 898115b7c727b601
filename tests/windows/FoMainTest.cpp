// The main window driven as a user would: keys typed through SendInput,
// clipboard pastes, button presses, real message boxes.

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "app/uFoMain.h"
#include "rtl/Errors.h"
#include "win/WinText.h"

namespace {

int SequenceCalls = 0;
std::string SequencePassword;

void RecordSequence(TFoMain& owner) {
    ++SequenceCalls;
    SequencePassword = owner.edPass->Text();
}

void FailingSequence(TFoMain&) { throw EReadError("Nie można odczytać danych"); }
void AbortingSequence(TFoMain&) { throw EAbort(); }

class FoMainTest : public testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        Application->SetTitle("Kantrel");
        Application->CreateForm(FoMain);
        FoMain->Show();
        SetForegroundWindow(FoMain->Handle());
        Pump(200);
        SequenceCalls = 0;
        SequencePassword = "unset";
        InstallationSequence = RecordSequence;
    }
    void TearDown() override { InstallationSequence = RunInstallationSequence; }

    HWND Edit() { return FoMain->edPass->Handle(); }
    HWND Button() { return FoMain->btnOK->Handle(); }
    void CaretToEnd() {
        FoMain->edPass->SetFocus();
        PressKey(VK_END);
    }
    void ClickButton() {
        // A press of the mouse on the button, as the system delivers it.
        RECT bounds;
        GetClientRect(Button(), &bounds);
        const LPARAM point = MAKELPARAM(bounds.right / 2, bounds.bottom / 2);
        PostMessageW(Button(), WM_LBUTTONDOWN, MK_LBUTTON, point);
        PostMessageW(Button(), WM_LBUTTONUP, 0, point);
        Pump();
    }

    TApplication Application_;
};

TEST_F(FoMainTest, OpensWithTheDefaultPasswordInClearText) {
    EXPECT_EQ(WindowText(Edit()), L"qwzqwz");
    EXPECT_EQ(FoMain->edPass->Text(), "qwzqwz");
    EXPECT_EQ(SendMessageW(Edit(), EM_GETPASSWORDCHAR, 0, 0), 0) << "the password is shown in clear";
    EXPECT_GE(SendMessageW(Edit(), EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE) << "no length limit";
    EXPECT_EQ(GetFocus(), Edit()) << "the field is first in tab order";
}

TEST_F(FoMainTest, TypedSpacesAreDiscardedOtherKeysKept) {
    CaretToEnd();
    TypeText(L"a b");
    EXPECT_EQ(WindowText(Edit()), L"qwzqwzab") << "letters typed, space discarded";
    TypeText(L"  ");
    EXPECT_EQ(WindowText(Edit()), L"qwzqwzab") << "spaces alone change nothing";
    PressKey(VK_BACK);
    EXPECT_EQ(WindowText(Edit()), L"qwzqwza") << "backspace passes the filter";
    TypeText(L"Z9!");
    EXPECT_EQ(WindowText(Edit()), L"qwzqwzaZ9!") << "capitals, digits, punctuation";
    TypeUnicode(L"ż\u3000ł");
    EXPECT_EQ(WindowText(Edit()), L"qwzqwzaZ9!ż\u3000ł") << "Polish letters; only the plain space is filtered";
    EXPECT_EQ(FoMain->edPass->Text(), "qwzqwzaZ9!ż\u3000ł");
}

TEST_F(FoMainTest, PastedSpacesAreKept) {
    CaretToEnd();
    SetClipboardText(L" a b ");
    SendMessageW(Edit(), WM_PASTE, 0, 0);
    Pump();
    EXPECT_EQ(WindowText(Edit()), L"qwzqwz a b ") << "WM_PASTE";
    PressKey('V', true);
    EXPECT_EQ(WindowText(Edit()), L"qwzqwz a b  a b ") << "Ctrl+V";
}

TEST_F(FoMainTest, ButtonRunsTheSequenceWithTheFieldsText) {
    ClickButton();
    EXPECT_EQ(SequenceCalls, 1);
    EXPECT_EQ(SequencePassword, "qwzqwz") << "default password";

    // The user empties the field: select all, then delete.
    FoMain->edPass->SetFocus();
    PressKey(VK_HOME);
    for (int i = 0; i < 6; ++i)
        PressKey(VK_DELETE);
    ASSERT_EQ(WindowText(Edit()), L"");
    ClickButton();
    EXPECT_EQ(SequenceCalls, 2);
    EXPECT_EQ(SequencePassword, "") << "an empty password is passed on";

    SetClipboardText(L"Zażółć gęślą");
    FoMain->edPass->SetFocus();
    PressKey('V', true);
    ClickButton();
    EXPECT_EQ(SequencePassword, "Zażółć gęślą") << "Polish letters and a pasted space";
}

TEST_F(FoMainTest, BorderIsSizeableWithOnlyTheCloseBox) {
    const LONG_PTR style = GetWindowLongPtrW(FoMain->Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_MINIMIZEBOX) << "no minimise box";
    EXPECT_FALSE(style & WS_MAXIMIZEBOX) << "no maximise box";
    EXPECT_TRUE(style & WS_SYSMENU) << "close box";
    EXPECT_TRUE(style & WS_THICKFRAME) << "sizeable border";
    EXPECT_EQ(WindowText(FoMain->Handle()), L"Kantrel");
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(FoMain->Handle(), WM_GETICON, ICON_BIG, 0)), Application->Icon(false))
        << "the application's icon";

    // The border answers as a sizing edge, and resizing works.
    RECT window;
    GetWindowRect(FoMain->Handle(), &window);
    const LPARAM rightEdge = MAKELPARAM(window.right - 2, (window.top + window.bottom) / 2);
    EXPECT_EQ(SendMessageW(FoMain->Handle(), WM_NCHITTEST, 0, rightEdge), HTRIGHT);
    const LPARAM corner = MAKELPARAM(window.right - 2, window.bottom - 2);
    EXPECT_EQ(SendMessageW(FoMain->Handle(), WM_NCHITTEST, 0, corner), HTBOTTOMRIGHT);
    // Along the title bar there is a close box and no other.
    bool closeBox = false;
    const int captionY = window.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int x = window.right - 1; x > window.right - 200; --x) {
        const LRESULT hit = SendMessageW(FoMain->Handle(), WM_NCHITTEST, 0, MAKELPARAM(x, captionY));
        EXPECT_NE(hit, HTMINBUTTON) << "minimise box at x=" << x;
        EXPECT_NE(hit, HTMAXBUTTON) << "maximise box at x=" << x;
        closeBox = closeBox || hit == HTCLOSE;
    }
    EXPECT_TRUE(closeBox);
    SetWindowPos(FoMain->Handle(), nullptr, 0, 0, 800, 300, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    EXPECT_EQ(FoMain->Width(), 800);
}

TEST_F(FoMainTest, OuterSizeAndScreenCentre) {
    if (ScreenPixelsPerInch() != 96)
        GTEST_SKIP() << "the stored layout is checked at 96 pixels per inch";
    RECT window;
    GetWindowRect(FoMain->Handle(), &window);
    EXPECT_EQ(window.right - window.left, 687);
    EXPECT_EQ(window.bottom - window.top, 274);
    EXPECT_EQ(window.left, (GetSystemMetrics(SM_CXSCREEN) - 687) / 2) << "centred across";
    EXPECT_EQ(window.top, (GetSystemMetrics(SM_CYSCREEN) - 274) / 2) << "centred down";
}

TEST_F(FoMainTest, ComponentsFollowTheStoredLayout) {
    struct {
        TControl* Control;
        int Left, Top;
        const char* Text;
    } expected[] = {
        {FoMain->Label1, 16, 16, "Podaj hasło użytkownika 'sa'"},
        {FoMain->Label2, 16, 64, "Uwaga!"},
        {FoMain->Label3, 16, 80,
         "Jeśli serwer SQL nie został poprawnie zainstalowany przez instalator ARVELO to najprawdopodobniej "
         "przyczyną była zbyt mała złożoność naszego domyślnego hasła dla użytkonika 'sa'.\r\nProsimy więc o "
         "podanie hasła zgodnego z polityką haseł w domenie i podanie go potem w oknie konfiguracji połączenia w "
         "aplikacji ARVELO."},
        {FoMain->edPass, 16, 32, "qwzqwz"},
        {FoMain->btnOK, 528, 192, "Rozpocznij instalację"},
    };
    for (const auto& item : expected) {
        SCOPED_TRACE(item.Control->Name());
        EXPECT_EQ(item.Control->Left(), item.Left);
        EXPECT_EQ(item.Control->Top(), item.Top);
        EXPECT_EQ(item.Control->Text(), item.Text);
    }
    EXPECT_EQ(FoMain->edPass->Width(), 137);
    EXPECT_EQ(FoMain->edPass->Height(), 21);
    EXPECT_EQ(FoMain->btnOK->Width(), 131);
    EXPECT_EQ(FoMain->btnOK->Height(), 25);
    EXPECT_EQ(WindowText(Button()), L"Rozpocznij instalację");
    EXPECT_TRUE(FoMain->Label3->WordWrap());
    EXPECT_EQ(FoMain->Label3->Width(), 623);
    // The height follows the text: as many lines as the font wraps it into.
    const RECT wrapped = MeasureWrappedText(FoMain->Label3->Font().Handle(), FoMain->Label3->Text(), 623);
    EXPECT_GE(FoMain->Label3->Height(), wrapped.bottom) << "room for the wrapped text";
    EXPECT_LE(wrapped.right, 623);
    EXPECT_EQ(FoMain->Label1->Font().Style(), 0u);
    EXPECT_EQ(FoMain->Label2->Font().Style(), static_cast<unsigned>(fsBold));
    EXPECT_EQ(FoMain->Font().Name(), "MS Sans Serif");
    EXPECT_EQ(FoMain->Font().Height(), -11);
    EXPECT_EQ(ColorToRGB(FoMain->Color()), GetSysColor(COLOR_BTNFACE));
}

TEST_F(FoMainTest, TabMovesBetweenFieldAndButton) {
    FoMain->edPass->SetFocus();
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), Button()) << "tab order 1";
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), Edit()) << "back to tab order 0";
    FoMain->btnOK->SetTabOrder(0);
    FoMain->edPass->SetFocus();
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), Button()) << "after reordering, still alternating";
    EXPECT_EQ(FoMain->edPass->TabOrder(), 1);
}

TEST_F(FoMainTest, ErrorInAHandlerIsReportedAndTheLoopCarriesOn) {
    InstallationSequence = FailingSequence;
    TMessageBoxWatcher watcher({FoMain->Handle()});
    ClickButton();
    const auto seen = watcher.Result();
    ASSERT_TRUE(seen.Seen) << "a message box was shown";
    EXPECT_EQ(seen.Caption, L"Kantrel");
    EXPECT_EQ(seen.Text, L"Nie można odczytać danych.") << "full stop appended";
    EXPECT_EQ(seen.Icon, LoadIconW(nullptr, IDI_HAND)) << "the error icon of style 0x10";
    EXPECT_EQ(seen.Owner, Application->Handle()) << "owned by the hidden main window";
    ASSERT_EQ(seen.EnabledWhileOpen.size(), 1u);
    EXPECT_FALSE(seen.EnabledWhileOpen[0]) << "main window disabled while the box is open";

    // The program goes on: the window is usable again.
    EXPECT_FALSE(Application->Terminated());
    EXPECT_TRUE(IsWindowEnabled(FoMain->Handle()));
    InstallationSequence = RecordSequence;
    ClickButton();
    EXPECT_EQ(SequenceCalls, 1);
}

TEST_F(FoMainTest, SilentAbortShowsNothing) {
    InstallationSequence = AbortingSequence;
    TMessageBoxWatcher watcher({}, 1500);
    ClickButton();
    EXPECT_FALSE(watcher.Result().Seen);
    EXPECT_FALSE(Application->Terminated());
}

TEST_F(FoMainTest, MessageBoxDisablesTheProgramThenRestoresFocus) {
    // A second, borderless window without owner, as the splash window is.
    TForm other(nullptr);
    other.SetBorderStyle(bsNone);
    other.SetBounds(0, 0, 200, 100);
    other.Show();
    SetForegroundWindow(FoMain->Handle());
    Pump();
    FoMain->edPass->SetFocus();
    Pump();
    ASSERT_EQ(GetFocus(), Edit());

    TMessageBoxWatcher watcher({FoMain->Handle(), other.Handle()});
    const int answer = Application->MessageBox("Treść", "Tytuł", MB_OK | MB_ICONWARNING);
    const auto seen = watcher.Result();
    EXPECT_EQ(answer, IDOK);
    ASSERT_TRUE(seen.Seen);
    EXPECT_EQ(seen.Caption, L"Tytuł");
    EXPECT_EQ(seen.Text, L"Treść");
    ASSERT_EQ(seen.EnabledWhileOpen.size(), 2u);
    EXPECT_FALSE(seen.EnabledWhileOpen[0]) << "main window disabled";
    EXPECT_FALSE(seen.EnabledWhileOpen[1]) << "other window disabled";
    Pump();
    EXPECT_TRUE(IsWindowEnabled(FoMain->Handle()));
    EXPECT_TRUE(IsWindowEnabled(other.Handle()));
    EXPECT_EQ(GetActiveWindow(), FoMain->Handle()) << "active window back";
    EXPECT_EQ(GetFocus(), Edit()) << "focused control back";
}

TEST_F(FoMainTest, ClosingTheMainWindowEndsTheLoop) {
    EXPECT_FALSE(Application->Terminated());
    PostMessageW(FoMain->Handle(), WM_CLOSE, 0, 0);
    Pump();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_TRUE(IsWindowVisible(FoMain->Handle())) << "the request does not hide the window";
}

TEST_F(FoMainTest, CloseRequestToTheApplicationWindowClosesTheMainFormAndKeepsTheWindow) {
    // A polite end of the process (taskkill without /F) asks every top-level
    // window to close, the hidden one that owns the message boxes included.
    HWND app = Application->Handle();
    PostMessageW(app, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_TRUE(IsWindow(app)) << "the owner of the message boxes stays";
    EXPECT_TRUE(Application->Terminated()) << "a request to end, as the main window's close box makes";
    EXPECT_TRUE(IsWindowVisible(FoMain->Handle()));

    TMessageBoxWatcher watcher({FoMain->Handle()}, 2000);
    EXPECT_EQ(Application->MessageBox("Treść", "Tytuł", MB_OK), IDOK);
    const auto seen = watcher.Result();
    EXPECT_TRUE(seen.Seen) << "a message box can still be shown";
    EXPECT_EQ(seen.Owner, app);
}

}  // namespace
