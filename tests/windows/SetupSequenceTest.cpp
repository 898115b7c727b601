// End to end: the real kantrel.exe, driven from outside through its windows,
// with the setup stand-in beside it as SQLEXPR_x86_ENU.exe.

#include "SetupSequenceFixture.h"
#include "SplashStrip.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lower case of ASCII letters, as a user might type a name.
std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

POINT Centre(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// True when `upper` comes before `lower` in the z-order.
bool Above(HWND upper, HWND lower) {
    for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == lower)
            return true;
    return false;
}

// Posts WM_CLOSE to every top-level window of the process; returns how many.
int PostCloseToEveryWindow(DWORD processId) {
    struct TTarget {
        DWORD Process;
        int Posted;
    } target{processId, 0};
    struct TEnum {
        static BOOL CALLBACK Post(HWND window, LPARAM data) {
            auto* t = reinterpret_cast<TTarget*>(data);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == t->Process && PostMessageW(window, WM_CLOSE, 0, 0))
                ++t->Posted;
            return TRUE;
        }
    };
    EnumWindows(TEnum::Post, reinterpret_cast<LPARAM>(&target));
    return target.Posted;
}

}  // namespace

TEST_F(SetupSequence, MissingSetupIsReportedEvenWhenTheCurrentFolderHasIt) {
    fs::rename(ProgramDir / L"SQLEXPR_x86_ENU.exe", Temp.Path() / L"SQLEXPR_x86_ENU.exe");
    Launch();
    ClickButton(Start);
    ExpectMessage("Uwaga", "Nie znaleziono pliku instalacyjnego SQL Server: \"SQLEXPR_x86_ENU.exe\"", "missing");
    ExpectQuiet("after the warning");
    EXPECT_FALSE(fs::exists(Record)) << "nothing started";
    EXPECT_TRUE(IsWindowEnabled(Start));
}

TEST_F(SetupSequence, NoStartsNothing) {
    Launch();
    EXPECT_EQ(StartAndAnswer(IDNO), Confirmation("qwzqwz"));
    ExpectQuiet("after No");
    EXPECT_FALSE(fs::exists(Record)) << "no process";
    EXPECT_EQ(Kantrel->TotalProcesses(), 1) << "kantrel.exe alone";
    EXPECT_EQ(WindowText(Password), "qwzqwz") << "password kept";
    EXPECT_TRUE(IsWindowEnabled(Start));
}

TEST_F(SetupSequence, SetupReceivesThePasswordExactly) {
    StandinBehaviour(L"200", L"");
    Launch();
    struct Case {
        const char* name;
        bool paste;
        std::string password;
        std::string onCommandLine;
    };
    const Case cases[] = {
        {"typed ordinary", false, "Tajne123", "Tajne123"},
        {"pasted space", true, "ala ma kota", "\"ala ma kota\""},
        {"typed Polish", false, "zażółćŁĄŻ", "zażółćŁĄŻ"},
    };
    for (const Case& c : cases) {
        fs::remove(Record);
        EnterPassword(c.password, c.paste);
        ASSERT_EQ(WindowText(Password), c.password) << c.name;
        EXPECT_EQ(StartAndAnswer(IDYES), Confirmation(c.password)) << c.name;
        WaitForSetupToEnd();
        EXPECT_EQ(ReadFileBytes(Record), ExpectedRecord(c.onCommandLine)) << c.name;
        ExpectQuiet(c.name);
    }
}

TEST_F(SetupSequence, RefusedPasswordsStartNothingAndGetTheFocus) {
    Launch();
    struct Case {
        const char* name;
        std::string password;
        const char* text;
    };
    const Case cases[] = {
        {"quote", "ab\"cd", "Hasło nie może zawierać znaku cudzysłowu (\")."},
        {"empty", "", "Podaj hasło użytkownika 'sa'. SQL Server nie przyjmie pustego hasła."},
        {"129 characters", std::string(129, 'x'), "Hasło może mieć najwyżej 128 znaków."},
    };
    for (const Case& c : cases) {
        ClearText(Password);
        if (!c.password.empty())
            PasteText(Password, c.password);
        ClickButton(Start);
        ExpectMessage("Uwaga", c.text, c.name);
        ExpectQuiet(c.name);
        EXPECT_FALSE(fs::exists(Record)) << c.name << ": nothing started";
        EXPECT_EQ(WindowText(Password), c.password) << c.name << ": the password is not cut";
        EXPECT_EQ(FocusedWindow(), Password) << c.name << ": focus in the password field";
    }
}

TEST_F(SetupSequence, SplashCentredOnTopAndButtonDisabledDuringTheWait) {
    StandinBehaviour(L"1500", L"");
    Launch();
    EXPECT_TRUE(IsWindowEnabled(Start));
    StartAndAnswer(IDYES);
    HWND splash = Kantrel->WaitForSplash();
    ASSERT_NE(splash, nullptr);
    RECT client;
    GetClientRect(splash, &client);
    EXPECT_EQ(client.right, 413);
    EXPECT_EQ(client.bottom, 129);
    RECT outer;
    GetWindowRect(splash, &outer);
    EXPECT_EQ(outer.right - outer.left, 413) << "no border";
    const POINT splashCentre = Centre(splash), mainCentre = Centre(Main);
    EXPECT_LE(std::abs(splashCentre.x - mainCentre.x), 1);
    EXPECT_LE(std::abs(splashCentre.y - mainCentre.y), 1);
    EXPECT_TRUE(Above(splash, Main)) << "splash on top of the main window";
    EXPECT_FALSE(IsWindowEnabled(Start)) << "btnOK disabled while setup runs";
    // The main window keeps answering during the wait.
    EXPECT_EQ(WindowText(Password), "qwzqwz");
    ASSERT_TRUE(Kantrel->WaitForNoWindow(IsSplash, 20000));
    EXPECT_TRUE(fs::exists(Record));
    EXPECT_TRUE(WaitUntil([this] { return IsWindowEnabled(Start) != FALSE; })) << "btnOK enabled again";
    ExpectQuiet("exit code 0");
}

TEST_F(SetupSequence, SetupThatCannotStartIsReported) {
    WriteFileBytes(ProgramDir / L"SQLEXPR_x86_ENU.exe", "Not a program, only text.\r\n");
    Launch();
    StartAndAnswer(IDYES);
    HWND box = Kantrel->WaitForMessageBox("Błąd");
    ASSERT_NE(box, nullptr);
    const std::string head = "Nie można uruchomić instalatora SQL Server: \"" + LaunchPath() + "\"\r\n";
    const std::string text = MessageBoxText(box);
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_GT(text.size(), head.size()) << "the system's reason follows";
    EXPECT_EQ(Kantrel->FindSplash(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(Start)) << "btnOK enabled again before the message";
    ClickButton(GetDlgItem(box, IDOK));
    EXPECT_TRUE(Kantrel->WaitForNoWindow([box](HWND w) { return w == box; }));
    ExpectQuiet("after the error");
}

TEST_F(SetupSequence, ExitCodesAreReported) {
    struct Case {
        const wchar_t* code;
        const char* caption;
        const char* head;
    };
    const Case cases[] = {
        {L"3010", "Informacja",
         "Instalacja SQL Server została zakończona. Aby ją dokończyć, uruchom ponownie komputer.\r\n\r\n"},
        {L"1", "Uwaga",
         "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).\r\n\r\n"
         "Nie znaleziono dziennika instalatora z tego uruchomienia."},
        {L"-2068578304", "Uwaga",
         "Instalator SQL Server zakończył pracę z kodem błędu -2068578304 (0x84B40000).\r\n\r\n"
         "Nie znaleziono dziennika instalatora z tego uruchomienia."},
    };
    for (const Case& c : cases) {
        StandinBehaviour(L"0", c.code);
        Launch();
        StartAndAnswer(IDYES);
        ExpectExitMessage(c.caption, c.head, WideToUtf8(c.code));
        Kantrel.reset();
    }
}

TEST_F(SetupSequence, CloseInTheLastMomentOfTheWaitKeepsTheExitMessage) {
    // The stand-in posts WM_CLOSE to the main window just before it ends, so
    // the close is still queued when the wait sees setup end.
    StandinBehaviour(L"300", L"1");
    SetTestEnvironment(L"KANTREL_STANDIN_CLOSE_STARTER", L"1");
    Launch();
    StartAndAnswer(IDYES);
    ExpectExitMessage("Uwaga", "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).",
                      "closed at the end");
    EXPECT_TRUE(Kantrel->WaitForExit(10000)) << "the close is carried out after the message";
}

TEST_F(SetupSequence, ClosingDuringTheWaitEndsAfterSetup) {
    StandinBehaviour(L"2000", L"");
    Launch();
    StartAndAnswer(IDYES);
    ASSERT_NE(Kantrel->WaitForSplash(), nullptr);
    // The splash comes just before setup starts.
    // Setup's console host, when the system runs one as a process, counts too.
    EXPECT_TRUE(WaitUntil([this] { return Kantrel->ActiveProcesses() >= 2; }, 5000)) << "kantrel.exe and setup";
    PostMessageW(Main, WM_CLOSE, 0, 0);
    Sleep(500);
    EXPECT_TRUE(Kantrel->Running()) << "still waiting for setup";
    EXPECT_GE(Kantrel->ActiveProcesses(), 2) << "setup still running";
    EXPECT_NE(Kantrel->FindSplash(), nullptr) << "splash stays while setup runs";
    EXPECT_TRUE(Kantrel->WaitForExit(20000)) << "ends once setup has ended";
    EXPECT_TRUE(WaitUntil([this] { return Kantrel->ActiveProcesses() == 0; }, 2000))
        << "setup ended before kantrel.exe";
    EXPECT_TRUE(fs::exists(Record));
}

TEST_F(SetupSequence, PoliteEndDuringTheWaitStillReportsTheExitCode) {
    StandinBehaviour(L"1500", L"1");
    Launch();
    StartAndAnswer(IDYES);
    ASSERT_NE(Kantrel->WaitForSplash(), nullptr);
    // What taskkill without /F does: WM_CLOSE to every top-level window of
    // the process, hidden ones included.
    EXPECT_GE(PostCloseToEveryWindow(Kantrel->ProcessId()), 3)
        << "the hidden application window, the main window and the splash";
    ExpectExitMessage("Uwaga", "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).",
                      "ended politely during the wait");
    EXPECT_TRUE(Kantrel->WaitForExit(10000)) << "the request to end is carried out after the message";
}

TEST_F(SetupSequence, SplashStripPlaysWhileSetupRunsAndEndsWithIt) {
    StandinBehaviour(L"4000", L"");
    Launch();
    ClickButton(Start);
    HWND box = Kantrel->WaitForMessageBox("Pytanie");
    ASSERT_NE(box, nullptr);
    const int threadsBefore = Kantrel->ThreadCount();
    ASSERT_GT(threadsBefore, 0);
    ClickButton(GetDlgItem(box, IDYES));
    HWND splash = Kantrel->WaitForSplash();
    ASSERT_NE(splash, nullptr);
    EXPECT_GT(Kantrel->ThreadCount(), threadsBefore) << "the animation's timer runs its own thread";

    // Until the strip is first painted, whatever lies beneath shows; from
    // then on every picture must show the animation, until the window goes.
    // Wine's screen changes from one frame to the next in parts, so a
    // picture may catch the change halfway (more often on a busy machine):
    // such a picture must agree with the frames before and after it.
    std::vector<int> runners;
    std::array<bool, SplashSquareCount> visited{};
    int wraps = 0, pictures = 0;
    TStripReading last;
    std::vector<std::pair<int, TStripReading>> halfway;
    ULONGLONG lastStart = 0;
    for (;;) {
        const ULONGLONG start = GetTickCount64();
        const TScreenPicture picture = CaptureClientArea(splash);
        if (!IsWindow(splash) || !IsWindowVisible(splash))
            break;
        const TStripReading reading = ReadSplashStrip(picture);
        if (runners.empty() && !reading.Playing())
            continue;
        ++pictures;
        if (!reading.Playing()) {
            halfway.emplace_back(pictures, reading);
            continue;
        }
        for (const auto& [number, caught] : halfway)
            ASSERT_TRUE(caught.CaughtBetween(last, reading))
                << "picture " << number << ": " << caught.Describe() << " between " << last.Describe() << " and "
                << reading.Describe();
        halfway.clear();
        if (!runners.empty() && reading.Runner != runners.back()) {
            // A frame stays at least one 50 ms tick, so since the last whole
            // frame's picture began the runner has moved at most one square
            // per tick, and one more: on Wine's screen a frame is now and then
            // replaced before any picture catches it. On a busy machine the
            // pictures come further apart, and so may the runner's squares.
            const int step = (reading.Runner - runners.back() + SplashSquareCount) % SplashSquareCount;
            const ULONGLONG between = GetTickCount64() - lastStart;
            EXPECT_LE(step, static_cast<int>(between / 50) + 2)
                << "from square " << runners.back() << " to " << reading.Runner << " in " << between << " ms";
            wraps += reading.Runner < runners.back();
        }
        if (runners.empty() || reading.Runner != runners.back())
            runners.push_back(reading.Runner);
        visited[reading.Runner] = true;
        last = reading;
        lastStart = start;
    }
    // Pictures caught halfway just before the window went have no frame after
    // them to agree with.
    ASSERT_FALSE(runners.empty()) << "the strip never showed the animation";
    EXPECT_TRUE(runners.front() == 0 || runners.front() == 1)
        << "starts on the first square, at most one frame on: " << runners.front();
    EXPECT_GE(wraps, 1) << "jumps back to the first square after the last";
    for (int k = 0; k < SplashSquareCount; ++k)
        EXPECT_TRUE(visited[k]) << "the runner on square " << k;

    WaitForSetupToEnd();
    EXPECT_TRUE(WaitUntil([&] { return Kantrel->ThreadCount() == threadsBefore; }, 5000))
        << "the timer's thread ends with the splash window: " << Kantrel->ThreadCount() << " threads, "
        << threadsBefore << " before";
}

TEST_F(SetupSequence, SplashStripStandsStillWhileTheWindowThreadDoesNotPump) {
    StandinBehaviour(L"3000", L"");
    Launch();
    StartAndAnswer(IDYES);
    HWND splash = Kantrel->WaitForSplash();
    ASSERT_NE(splash, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ReadSplashStrip(CaptureClientArea(splash)).Playing(); }, 2000));
    TScopedHandle windowThread(
        OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(splash, nullptr)));
    ASSERT_NE(windowThread.Get(), nullptr);
    ASSERT_NE(SuspendThread(windowThread.Get()), static_cast<DWORD>(-1));
    // A paint under way when the thread stopped reaches the screen in a while
    // (longer on a busy machine): the strip counts as held once two pictures
    // 100 ms apart agree.
    TScreenPicture held = CaptureClientArea(splash);
    const bool settled = WaitUntil(
        [&] {
            Sleep(100);
            TScreenPicture now = CaptureClientArea(splash);
            const bool same = now == held;
            held = std::move(now);
            return same;
        },
        3000);
    if (!settled)
        ResumeThread(windowThread.Get());
    ASSERT_TRUE(settled) << "the strip kept changing while the window thread stood still";
    int changed = 0;
    for (int i = 0; i < 8; ++i) {
        Sleep(50);
        changed += !(CaptureClientArea(splash) == held);
    }
    ResumeThread(windowThread.Get());
    EXPECT_EQ(changed, 0) << "pictures that differ while the window thread stood still";
    EXPECT_TRUE(WaitUntil([&] { return !(CaptureClientArea(splash) == held); }, 2000))
        << "moves on once the window thread pumps again";
}

TEST_F(SetupSequence, InstalledInstanceIsNamedBeforeTheConfirmation) {
    const std::string text =
        "Na tym komputerze jest już zainstalowana instancja SQL Server o nazwie SQLVORNA. Instalator SQL Server "
        "najpewniej odmówi zainstalowania jej ponownie.\r\nJeśli ta instancja nie działa poprawnie, odinstaluj ją "
        "(Panel sterowania > Programy i funkcje) i uruchom Kantrel ponownie.\r\nCzy mimo to uruchomić instalator SQL "
        "Server?";
    Launch();
    {
        const TRecordedInstance recorded(KEY_WOW64_64KEY);
        ClickButton(Start);
        AnswerWarningQuestion(text, IDNO, "64-bit view, No");
        ExpectQuiet("after No");
        EXPECT_FALSE(fs::exists(Record)) << "nothing started";
        EXPECT_EQ(Kantrel->TotalProcesses(), 1) << "kantrel.exe alone";
        EXPECT_EQ(WindowText(Password), "qwzqwz") << "password kept";
        EXPECT_EQ(FocusedWindow(), Password) << "focus in the password field";
        EXPECT_TRUE(IsWindowEnabled(Start));
    }
    {
        const TRecordedInstance recorded(KEY_WOW64_32KEY);
        ClickButton(Start);
        AnswerWarningQuestion(text, IDYES, "32-bit view, Yes");
        EXPECT_EQ(AnswerConfirmation(IDYES), Confirmation("qwzqwz")) << "Yes goes on to the confirmation";
        WaitForSetupToEnd();
        EXPECT_EQ(ReadFileBytes(Record), ExpectedRecord("qwzqwz"));
        ExpectQuiet("after setup");
    }
}

TEST_F(SetupSequence, PasswordsSqlServerRefusesAreQuestionedBeforeTheConfirmation) {
    const std::string word =
        "Hasło to jedno ze słów, których SQL Server nie przyjmuje jako hasła użytkownika 'sa' (password, admin, "
        "administrator, sa, sysadmin), więc instalacja najpewniej się nie powiedzie.\r\nCzy mimo to kontynuować?";
    const std::string computer =
        "Hasło jest takie samo jak nazwa tego komputera. SQL Server nie przyjmuje takiego hasła dla użytkownika 'sa', "
        "więc instalacja najpewniej się nie powiedzie.\r\nCzy mimo to kontynuować?";
    // The names as this machine reports them, the same for kantrel.exe.
    auto computerName = [](COMPUTER_NAME_FORMAT format) {
        wchar_t name[256];
        DWORD size = 256;
        return GetComputerNameExW(format, name, &size) ? WideToUtf8(std::wstring(name, size)) : std::string();
    };
    const std::string netbios = computerName(ComputerNameNetBIOS);
    const std::string dnsHost = computerName(ComputerNameDnsHostname);
    ASSERT_FALSE(netbios.empty());
    ASSERT_FALSE(dnsHost.empty());
    Launch();
    struct Case {
        std::string password;
        const std::string* question;  // null: straight to the confirmation
        int answer;
    };
    const Case cases[] = {
        {"Administrator", &word, IDNO},
        {"sYsAdMiN", &word, IDYES},
        {netbios, &computer, IDNO},
        {Lowered(dnsHost), &computer, IDYES},
        {"Admin2026!x", nullptr, IDYES},
    };
    for (const Case& c : cases) {
        fs::remove(Record);
        ClearText(Password);
        TypeText(Password, c.password);
        ClickButton(Start);
        if (c.question) {
            AnswerWarningQuestion(*c.question, c.answer, c.password);
            if (c.answer == IDNO) {
                ExpectQuiet(c.password + ", No");
                EXPECT_FALSE(fs::exists(Record)) << c.password << ": nothing started";
                EXPECT_EQ(WindowText(Password), c.password) << "password kept";
                EXPECT_EQ(FocusedWindow(), Password) << "focus in the password field";
                continue;
            }
        }
        EXPECT_EQ(AnswerConfirmation(IDYES), Confirmation(c.password)) << c.password;
        WaitForSetupToEnd();
        EXPECT_EQ(ReadFileBytes(Record), ExpectedRecord(c.password)) << c.password;
        ExpectQuiet(c.password + ", after setup");
    }
}
