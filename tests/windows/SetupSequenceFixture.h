#pragma once
// The end-to-end tests' fixture: the real kantrel.exe in a program folder of
// its own, with the setup stand-in beside it as SQLEXPR_x86_ENU.exe, driven
// from outside through its windows.

#include "KantrelDriver.h"
#include "TestFiles.h"
#include "TestInstance.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline const std::string ParamsHead =
    "/ACTION=Install /INSTANCENAME=SQLVORNA /FEATURES=SQLENGINE /SkipRules=RebootRequiredCheck "
    "/IAcceptSQLServerLicenseTerms /SQLSVCSTARTUPTYPE=Automatic /BROWSERSVCSTARTUPTYPE=Automatic "
    "/ADDCURRENTUSERASSQLADMIN=true /TCPENABLED=1 /SECURITYMODE=SQL /SAPWD=";
inline const std::string ParamsTail =
    " /IACCEPTSQLSERVERLICENSETERMS /QS /HIDECONSOLE /AGTSVCACCOUNT=\"NT AUTHORITY\\NETWORK SERVICE\" "
    "/ASSYSADMINACCOUNTS=BUILTIN\\Administrators /SQLSVCACCOUNT=\"NT AUTHORITY\\NETWORK SERVICE\" "
    "/SQLSYSADMINACCOUNTS=BUILTIN\\Administrators";

inline std::string Confirmation(const std::string& password) {
    return "Wprowadzone hasło dla uzytkownika \"sa\" to: " + password +
           "\r\nProszę podać je w oknie konfiguracji połączenia aplikacji ARVELO.\r\n"
           "Czy kontynuować instalację SQL Server?";
}

inline bool SameButtons(std::vector<int> got, std::vector<int> expected) {
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    return got == expected;
}

class SetupSequence : public ::testing::Test {
protected:
    // Names that need the Unicode API and a quoted command line.
    TTempFolder Temp{L"Próba ąę"};
    fs::path ProgramDir = Temp.Path() / L"Zestaw ł";
    fs::path Record = Temp.Path() / L"setup-record.txt";
    std::unique_ptr<TKantrelSession> Kantrel;
    HWND Main = nullptr;
    HWND Password = nullptr;
    HWND Start = nullptr;

    // kantrel.exe's temporary folder, where its log goes.
    fs::path Tmp = Temp.Path() / L"tmp";
    std::wstring SavedTemp, SavedTmp;

    void SetUp() override {
        // Every sequence looks for the instance and for setup's logs: none is
        // there unless a test puts it.
        ForgetRecordedInstance();
        ForgetSetupLogs();
        fs::create_directories(Tmp);
        SavedTemp = EnvironmentValue(L"TEMP");
        SavedTmp = EnvironmentValue(L"TMP");
        SetTestEnvironment(L"TEMP", Tmp.wstring());
        SetTestEnvironment(L"TMP", Tmp.wstring());
        fs::create_directories(ProgramDir);
        fs::copy_file(BuildFile(KANTREL_EXE), ProgramDir / L"kantrel.exe");
        fs::copy_file(BuildFile(KANTREL_STANDIN_EXE), ProgramDir / L"SQLEXPR_x86_ENU.exe");
        SetTestEnvironment(L"KANTREL_STANDIN_RECORD", Record.wstring());
        StandinBehaviour(L"300", L"");
    }
    void TearDown() override {
        // Ends kantrel.exe and the stand-in even when an assertion stopped the test.
        Kantrel.reset();
        StandinBehaviour(L"", L"");
        SetTestEnvironment(L"KANTREL_STANDIN_RECORD", L"");
        SetTestEnvironment(L"KANTREL_STANDIN_CLOSE_STARTER", L"");
        SetTestEnvironment(L"KANTREL_STANDIN_SUMMARY", L"");
        SetTestEnvironment(L"TEMP", SavedTemp);
        SetTestEnvironment(L"TMP", SavedTmp);
        ForgetSetupLogs();
    }
    static std::wstring EnvironmentValue(const wchar_t* name) {
        wchar_t value[32768];
        const DWORD n = GetEnvironmentVariableW(name, value, 32768);
        return std::wstring(value, n < 32768 ? n : 0);
    }
    // Read by the stand-in from kantrel.exe's environment: set before Launch.
    static void StandinBehaviour(const std::wstring& waitMs, const std::wstring& exitCode) {
        SetTestEnvironment(L"KANTREL_STANDIN_WAIT_MS", waitMs);
        SetTestEnvironment(L"KANTREL_STANDIN_EXIT_CODE", exitCode);
    }
    // Started from the temporary folder, not from its own, so that the
    // current directory is not the program folder.
    void Launch() {
        Kantrel = std::make_unique<TKantrelSession>(ProgramDir / L"kantrel.exe", Temp.Path());
        Main = Kantrel->WaitForMainWindow();
        ASSERT_NE(Main, nullptr) << "main window; kantrel.exe's exit code: " << std::hex << Kantrel->ExitCode()
                                 << " (" << STILL_ACTIVE << " while it runs)";
        Password = FindChild(Main, L"Edit");
        Start = FindChild(Main, L"Button");
        ASSERT_NE(Password, nullptr);
        ASSERT_NE(Start, nullptr);
    }
    std::string LaunchPath() const { return WideToUtf8(ProgramDir.wstring()) + "/SQLEXPR_x86_ENU.exe"; }
    std::string ExpectedRecord(const std::string& passwordArgument) const {
        std::string record = "\"";
        record += LaunchPath() + "\" " + ParamsHead + passwordArgument + ParamsTail + "\n";
        record += WideToUtf8(Temp.Path().wstring()) + "\\\n";
        // Show mode 1, a console of its own, normal priority.
        record += "startup-flags=0x00000001 show=1 console=own priority=0x00000020\n";
        return record;
    }
    // Replaces the password as a user would: typed, or pasted (which keeps spaces).
    void EnterPassword(const std::string& password, bool paste) {
        ClearText(Password);
        if (paste)
            PasteText(Password, password);
        else
            TypeText(Password, password);
    }
    // Presses the start button and answers the confirmation; returns the
    // confirmation's text.
    std::string StartAndAnswer(int answer) {
        ClickButton(Start);
        return AnswerConfirmation(answer);
    }
    std::string AnswerConfirmation(int answer) {
        HWND box = Kantrel->WaitForMessageBox("Pytanie");
        if (!box)
            return "(no confirmation)";
        EXPECT_TRUE(SameButtons(MessageBoxButtons(box), {IDYES, IDNO})) << "Yes and No";
        const std::string text = MessageBoxText(box);
        ClickButton(GetDlgItem(box, answer));
        EXPECT_TRUE(Kantrel->WaitForNoWindow([box](HWND w) { return w == box; })) << "confirmation closed";
        return text;
    }
    // Answers a question asked before the confirmation ("Uwaga", Yes and No,
    // No the default) and waits until it is gone.
    void AnswerWarningQuestion(const std::string& text, int answer, const std::string& what) {
        HWND box = Kantrel->WaitForMessageBox("Uwaga");
        ASSERT_NE(box, nullptr) << what << ": no question";
        EXPECT_EQ(MessageBoxText(box), text) << what;
        EXPECT_TRUE(SameButtons(MessageBoxButtons(box), {IDYES, IDNO})) << what << ": Yes and No";
        const auto isDefault = [box](int id) {
            return (GetWindowLongW(GetDlgItem(box, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        };
        EXPECT_TRUE(isDefault(IDNO) && !isDefault(IDYES)) << what << ": No is the default";
        ClickButton(GetDlgItem(box, answer));
        EXPECT_TRUE(Kantrel->WaitForNoWindow([box](HWND w) { return w == box; })) << what;
    }
    // Waits until setup has run and ended and the splash window is gone
    // (without having to catch the splash of a short run on screen).
    void WaitForSetupToEnd() {
        ASSERT_TRUE(WaitUntil([this] { return fs::exists(Record); })) << "setup started";
        ASSERT_TRUE(WaitUntil([this] { return Kantrel->ActiveProcesses() == 1; }, 20000)) << "setup ended";
        ASSERT_TRUE(Kantrel->WaitForNoWindow(IsSplash, 20000)) << "splash freed";
    }
    // Expects one message box with this caption and buttons, closes it and
    // returns its text.
    std::string CloseMessage(const std::string& caption, const std::string& what) {
        HWND box = Kantrel->WaitForMessageBox(caption);
        EXPECT_NE(box, nullptr) << what << ": no \"" << caption << "\" box";
        if (!box)
            return {};
        const std::string text = MessageBoxText(box);
        EXPECT_TRUE(SameButtons(MessageBoxButtons(box), {IDOK})) << what << ": OK only";
        EXPECT_EQ(Kantrel->FindSplash(), nullptr) << what << ": the splash is gone before the message";
        ClickButton(GetDlgItem(box, IDOK));
        EXPECT_TRUE(Kantrel->WaitForNoWindow([box](HWND w) { return w == box; })) << what;
        return text;
    }
    void ExpectMessage(const std::string& caption, const std::string& text, const std::string& what) {
        EXPECT_EQ(CloseMessage(caption, what), text) << what;
    }
    // The message after setup: it begins with `head` and ends naming
    // Kantrel's log, which exists in kantrel.exe's temporary folder. Returns
    // the message's text.
    std::string ExpectExitMessage(const std::string& caption, const std::string& head, const std::string& what) {
        const std::string text = CloseMessage(caption, what);
        EXPECT_EQ(text.substr(0, head.size()), head) << what;
        const std::string log = LogPathIn(text);
        EXPECT_EQ(log.find('\n'), std::string::npos) << what << ": the log's line comes last";
        EXPECT_EQ(fs::path(Utf8ToWide(log)).parent_path(), Tmp / L"Kantrel") << what << ": " << log;
        EXPECT_TRUE(fs::exists(fs::path(Utf8ToWide(log)))) << what << ": " << log;
        return text;
    }
    // The path of Kantrel's log that a message names on its last line.
    static std::string LogPathIn(const std::string& text) {
        const std::string label = "\r\n\r\nDziennik programu Kantrel: ";
        const size_t at = text.rfind(label);
        return at == std::string::npos ? std::string() : text.substr(at + label.size());
    }
    // The window with the keyboard focus in kantrel.exe.
    HWND FocusedWindow() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        return GetGUIThreadInfo(GetWindowThreadProcessId(Main, nullptr), &info) ? info.hwndFocus : nullptr;
    }
    // Nothing of the sequence shows up for a while.
    void ExpectQuiet(const std::string& what) {
        const bool gone = !Kantrel->WaitForWindow([](HWND w) { return IsSplash(w) || IsMessageBox(w); }, 600);
        EXPECT_TRUE(gone) << what << ": no splash or message expected";
    }
};


