#include "FakeLauncherFiles.h"
#include "app/KantrelLog.h"
#include "app/SetupLauncher.h"
#include "app/SetupOutcome.h"
#include "rtl/Errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const std::string Params1 =
    "/ACTION=Install /INSTANCENAME=SQLVORNA /FEATURES=SQLENGINE /SkipRules=RebootRequiredCheck "
    "/IAcceptSQLServerLicenseTerms /SQLSVCSTARTUPTYPE=Automatic /BROWSERSVCSTARTUPTYPE=Automatic "
    "/ADDCURRENTUSERASSQLADMIN=true /TCPENABLED=1 /SECURITYMODE=SQL /SAPWD=";
const std::string ParamsRest =
    " /IACCEPTSQLSERVERLICENSETERMS /QS /HIDECONSOLE /AGTSVCACCOUNT=\"NT AUTHORITY\\NETWORK SERVICE\" "
    "/ASSYSADMINACCOUNTS=BUILTIN\\Administrators /SQLSVCACCOUNT=\"NT AUTHORITY\\NETWORK SERVICE\" "
    "/SQLSYSADMINACCOUNTS=BUILTIN\\Administrators";

// Records every platform call in order; the test decides the answers. Its
// log is open from the start unless the test says otherwise.
class TFakePlatform : public TLauncherPlatform {
public:
    explicit TFakePlatform(bool logOpen = true) {
        if (logOpen)
            OpenKantrelLog(*this);
        Calls.clear();
    }
    std::vector<std::string> Calls;
    TFakeFiles FakeFiles;
    TKantrelLog KantrelLog{FakeFiles};
    // Runs when the process ends, as setup writes its summary last.
    std::function<void()> OnProcessEnd;
    std::string Program = "C:\\Kit\\Setup\\kantrel.exe";
    std::string Password = "qwzqwz";
    bool SetupPresent = true;
    int Answer = MsgResultYes;
    TPasswordPolicyCheck Policy = pcUnknown;
    int PolicyAnswer = MsgResultYes;
    TPresence Registry64 = prAbsent;
    TPresence Registry32 = prAbsent;
    TPresence Service = prAbsent;
    int InstanceAnswer = MsgResultYes;
    std::vector<std::string> Names = {"BIURO-KSIĘGOWOŚĆ", "kadry-01"};
    int SqlPasswordAnswer = MsgResultYes;
    bool StartFails = false;
    std::string StartError = "The system cannot find the file specified.";
    int TimeoutsBeforeEnd = 2;
    uint32_t Exit = 0;
    bool SplashFails = false;
    // A close of the main window queued while the last wait slice ran: a
    // message box shown before it is handled ends at once, unseen.
    bool CloseInLastSlice = false;
    bool ClosePending = false;
    std::function<void()> OnProcessMessages;

    // State seen by the wait.
    bool StartEnabled = true;
    int SplashesAlive = 0;
    int ProcessesOpen = 0;
    std::string CommandLine;
    std::string WorkingDirectory;
    uint32_t Flags = 0;
    uint16_t ShowMode = 0;

    std::string ProgramPath() override {
        Calls.push_back("ProgramPath");
        return Program;
    }
    bool FileExists(const std::string& path) override {
        Calls.push_back("FileExists " + path);
        return SetupPresent;
    }
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        if (ClosePending) {
            Calls.push_back("MessageBox swallowed by the close");
            return 0;
        }
        Calls.push_back("MessageBox " + caption + " " + std::to_string(style) + " splashes=" +
                      std::to_string(SplashesAlive) + " enabled=" + std::to_string(StartEnabled));
        Texts.push_back(text);
        if (caption == SCaptionQuestion)
            return Answer;
        if (text == SSqlPasswordWord || text == SSqlPasswordComputerName)
            return SqlPasswordAnswer;
        if (style == (MsgYesNo | MsgIconWarning | MsgDefaultButton2))
            return InstanceAnswer;
        return style == (MsgYesNo | MsgIconWarning) ? PolicyAnswer : 1;
    }
    std::unique_ptr<TLauncherProcess> StartProcess(const std::string& commandLine, uint32_t creationFlags,
                                                   const std::string& workingDirectory, uint16_t showMode,
                                                   std::string& errorText) override {
        Calls.push_back("StartProcess");
        CommandLine = commandLine;
        WorkingDirectory = workingDirectory;
        Flags = creationFlags;
        ShowMode = showMode;
        if (StartFails) {
            errorText = StartError;
            return nullptr;
        }
        return std::make_unique<TFakeProcess>(*this);
    }
    void ProcessMessages() override {
        Calls.push_back("ProcessMessages splashes=" + std::to_string(SplashesAlive) +
                      " enabled=" + std::to_string(StartEnabled));
        ClosePending = false;
        if (OnProcessMessages)
            OnProcessMessages();
    }
    std::unique_ptr<TLauncherSplash> CreateSplash() override {
        Calls.push_back("CreateSplash");
        if (SplashFails)
            throw EReadError("GIF encoded data is corrupt");
        return std::make_unique<TFakeSplash>(*this);
    }
    void SetStartEnabled(bool enabled) override {
        Calls.push_back(enabled ? "Enable" : "Disable");
        StartEnabled = enabled;
    }
    std::string PasswordText() override {
        Calls.push_back("PasswordText");
        return Password;
    }
    void FocusPassword() override { Calls.push_back("FocusPassword"); }
    TPasswordPolicyCheck CheckPasswordPolicy(const std::string& password) override {
        Calls.push_back("CheckPasswordPolicy " + password);
        return Policy;
    }
    std::vector<std::string> ComputerNames() override {
        Calls.push_back("ComputerNames");
        return Names;
    }
    TPresence FindRegistryValue(TRegistryView view, const std::string& keyPath,
                                const std::string& valueName) override {
        Calls.push_back(std::string(view == rv64Bit ? "Registry64 " : "Registry32 ") + keyPath + " " + valueName);
        return view == rv64Bit ? Registry64 : Registry32;
    }
    TPresence FindService(const std::string& name) override {
        Calls.push_back("Service " + name);
        return Service;
    }
    std::string CurrentFolder() override { return "C:\\Users\\Ola\\Pobrane"; }
    std::string WindowsVersion() override { return "10.0.19045, system 64-bitowy"; }
    TLauncherFiles& Files() override { return FakeFiles; }
    TKantrelLog& Log() override { return KantrelLog; }
    std::string LogText() const { return FakeFiles.Text(KantrelLog.Path()); }

    std::vector<std::string> Texts;

private:
    class TFakeProcess : public TLauncherProcess {
    public:
        explicit TFakeProcess(TFakePlatform& owner) : Owner_(owner) { ++Owner_.ProcessesOpen; }
        ~TFakeProcess() override {
            --Owner_.ProcessesOpen;
            Owner_.Calls.push_back("CloseProcess");
        }
        bool WaitFor(unsigned timeoutMs) override {
            Owner_.Calls.push_back("WaitFor " + std::to_string(timeoutMs));
            Owner_.FakeFiles.Clock += timeoutMs * (FileTimeSecond / 1000);
            const bool ended = Waits_++ >= Owner_.TimeoutsBeforeEnd;
            Owner_.ClosePending = ended && Owner_.CloseInLastSlice;
            if (ended && Owner_.OnProcessEnd)
                Owner_.OnProcessEnd();
            return ended;
        }
        uint32_t ExitCode() override {
            Owner_.Calls.push_back("ExitCode");
            return Owner_.Exit;
        }

    private:
        TFakePlatform& Owner_;
        int Waits_ = 0;
    };
    class TFakeSplash : public TLauncherSplash {
    public:
        explicit TFakeSplash(TFakePlatform& owner) : Owner_(owner) { ++Owner_.SplashesAlive; }
        ~TFakeSplash() override {
            --Owner_.SplashesAlive;
            Owner_.Calls.push_back("FreeSplash");
        }
        void Show() override { Owner_.Calls.push_back("ShowSplash"); }

    private:
        TFakePlatform& Owner_;
    };
};

const std::string Registry64 = "Registry64 SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL SQLVORNA";
const std::string Registry32 = "Registry32 SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL SQLVORNA";

std::string Joined(const std::vector<std::string>& log) {
    std::string all;
    for (const std::string& line : log)
        all += line + "\n";
    return all;
}

// A sequence that asked one question, logged at `at`, before the confirmation:
// Yes goes on as the sequence without it, anything else stops in the password
// field with nothing started.
void ExpectQuestionThenOnOrBack(const TFakePlatform& p, const TFakePlatform& plain, size_t at,
                                const std::string& logged, const std::string& text, int answer,
                                const std::string& name) {
    ASSERT_GT(p.Calls.size(), at) << name;
    EXPECT_EQ(p.Calls[at], logged) << name;
    ASSERT_FALSE(p.Texts.empty()) << name;
    EXPECT_EQ(p.Texts[0], text) << name;
    if (answer == MsgResultYes) {
        const std::vector<std::string> rest(p.Calls.begin() + static_cast<long>(at) + 1, p.Calls.end());
        const std::vector<std::string> plainRest(plain.Calls.begin() + static_cast<long>(at), plain.Calls.end());
        EXPECT_EQ(Joined(rest), Joined(plainRest)) << name << ": Yes goes on";
        EXPECT_EQ(p.CommandLine, plain.CommandLine) << name;
    } else {
        EXPECT_EQ(p.Calls.size(), at + 2) << name << ": No stops";
        EXPECT_EQ(p.Calls.back(), "FocusPassword") << name;
        EXPECT_EQ(p.CommandLine, "") << name << ": nothing started";
    }
}

}  // namespace

TEST(SetupLauncher, ParameterStringAndItsPieces) {
    EXPECT_EQ(std::string(SetupParamsHead).size(), 252u);
    EXPECT_EQ(std::string(SetupParamsLicence).size(), 48u);
    EXPECT_EQ(std::string(SetupParamsAgent).size(), 46u);
    EXPECT_EQ(std::string(SetupParamsAccounts).size(), 132u);
    EXPECT_EQ(SetupParameters("qwzqwz"), Params1 + "qwzqwz" + ParamsRest);
    EXPECT_EQ(SetupParameters("qwzqwz").size(), 478u + 6u);
    EXPECT_EQ(SetupParameters("").size(), 478u);
    EXPECT_NE(std::string(SetupParamsHead).find(std::string(" /INSTANCENAME=") + SetupInstanceName + " "),
              std::string::npos)
        << "the instance looked for before setup is the one setup installs";
}

TEST(SetupLauncher, CommandLineForEachKindOfPassword) {
    const std::string exe = "C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe";
    const std::string head = "\"C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe\" " + Params1;
    struct Case {
        const char* name;
        std::string password;
        std::string onCommandLine;
    };
    const Case cases[] = {
        {"ordinary", "qwzqwz", "qwzqwz"},
        {"empty", "", ""},
        {"pasted space", "ala ma", "\"ala ma\""},
        {"tab", "a\tb", "\"a\tb\""},
        {"space, ends in backslashes", "a b\\\\", "\"a b\\\\\\\\\""},
        {"space, inner backslash kept", "a\\ b", "\"a\\ b\""},
        {"backslash end, no space: verbatim", "abc\\", "abc\\"},
        {"Polish letters", "zażółć-gęślą", "zażółć-gęślą"},
        {"Polish with space", "łódź ą", "\"łódź ą\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SetupCommandLine(exe, SetupParameters(c.password)), head + c.onCommandLine + ParamsRest) << c.name;
}

TEST(SetupLauncher, ProgramFolderLaunchPathAndWorkingDirectory) {
    struct Case {
        const char* program;
        const char* folder;
        const char* launch;
        const char* workDir;
    };
    const Case cases[] = {
        {"C:\\Kit\\Setup\\prog.exe", "C:\\Kit\\Setup", "C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe", "C:\\Kit\\"},
        {"C:\\prog.exe", "C:\\", "C:\\/SQLEXPR_x86_ENU.exe", "C:\\"},
        {"\\\\server\\share\\kit\\prog.exe", "\\\\server\\share\\kit", "\\\\server\\share\\kit/SQLEXPR_x86_ENU.exe",
         "\\\\server\\share\\"},
        // A share's root is the working directory beside a program in it, as a drive's root is.
        {"\\\\server\\share\\prog.exe", "\\\\server\\share", "\\\\server\\share/SQLEXPR_x86_ENU.exe",
         "\\\\server\\share\\"},
        {"\\\\?\\UNC\\server\\share\\prog.exe", "\\\\?\\UNC\\server\\share",
         "\\\\?\\UNC\\server\\share/SQLEXPR_x86_ENU.exe", "\\\\?\\UNC\\server\\share\\"},
        {"\\\\?\\C:\\prog.exe", "\\\\?\\C:\\", "\\\\?\\C:\\/SQLEXPR_x86_ENU.exe", "\\\\?\\C:\\"},
        {"C:prog.exe", "C:", "C:/SQLEXPR_x86_ENU.exe", "C:"},
        {"C:\\a\\\\prog.exe", "C:\\a\\\\", "C:\\a\\\\/SQLEXPR_x86_ENU.exe", "C:\\a\\\\"},
        {"prog.exe", "", "/SQLEXPR_x86_ENU.exe", ""},
        {"C:\\Kit/Setup\\prog.exe", "C:\\Kit/Setup", "C:\\Kit/Setup/SQLEXPR_x86_ENU.exe", "C:\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgramFolder(c.program), c.folder) << c.program;
        EXPECT_EQ(LaunchPath(ProgramFolder(c.program)), c.launch) << c.program;
        EXPECT_EQ(SetupWorkingDirectory(LaunchPath(ProgramFolder(c.program))), c.workDir) << c.program;
    }
}

TEST(SetupLauncher, MessageTextsCaptionsAndStyles) {
    struct Case {
        const char* name;
        TLauncherMessage got;
        TLauncherMessage expected;
    };
    const Case cases[] = {
        {"missing", SetupMissingMessage(),
         {"Uwaga", "Nie znaleziono pliku instalacyjnego SQL Server: \"SQLEXPR_x86_ENU.exe\"", 0x30}},
        {"confirm", ConfirmationMessage("qwzqwz"),
         {"Pytanie",
          "Wprowadzone has\xC5\x82o dla uzytkownika \"sa\" to: qwzqwz\r\n"
          "Prosz\xC4\x99 poda\xC4\x87 je w oknie konfiguracji po\xC5\x82\xC4\x85" "czenia aplikacji ARVELO.\r\n"
          "Czy kontynuowa\xC4\x87 instalacj\xC4\x99 SQL Server?",
          0x44}},
        {"confirm empty", ConfirmationMessage(""),
         {"Pytanie",
          "Wprowadzone hasło dla uzytkownika \"sa\" to: \r\nProszę podać je w oknie konfiguracji połączenia "
          "aplikacji ARVELO.\r\nCzy kontynuować instalację SQL Server?",
          0x44}},
        {"quote", PasswordRefusal("a\"b"), {"Uwaga", "Has\xC5\x82o nie mo\xC5\xBC" "e zawiera\xC4\x87 znaku cudzys\xC5\x82owu (\").", 0x30}},
        {"too long", PasswordRefusal(std::string(129, 'a')), {"Uwaga", "Has\xC5\x82o mo\xC5\xBC" "e mie\xC4\x87 najwy\xC5\xBC" "ej 128 znak\xC3\xB3w.", 0x30}},
        {"accepted", PasswordRefusal("a b\\"), {"", "", 0}},
        {"empty", PasswordRefusal(""),
         {"Uwaga", "Podaj hasło użytkownika 'sa'. SQL Server nie przyjmie pustego hasła.", 0x30}},
        {"policy: too short", PolicyWarningMessage(pcTooShort),
         {"Uwaga",
          "Hasło nie spełnia zasad haseł obowiązujących na tym komputerze: jest za krótkie.\r\n"
          "SQL Server najpewniej odrzuci to hasło i instalacja się nie powiedzie.\r\nCzy mimo to kontynuować?",
          0x34}},
        {"instance installed", InstalledInstanceMessage(prPresent),
         {"Uwaga",
          "Na tym komputerze jest już zainstalowana instancja SQL Server o nazwie SQLVORNA. Instalator SQL Server "
          "najpewniej odmówi zainstalowania jej ponownie.\r\nJeśli ta instancja nie działa poprawnie, odinstaluj ją "
          "(Panel sterowania > Programy i funkcje) i uruchom Kantrel ponownie.\r\nCzy mimo to uruchomić instalator "
          "SQL Server?",
          0x134}},
        {"instance absent", InstalledInstanceMessage(prAbsent), {"", "", 0}},
        {"instance unknown", InstalledInstanceMessage(prUnknown), {"", "", 0}},
        {"policy: passes", PolicyWarningMessage(pcPasses), {"", "", 0}},
        {"policy: unknown", PolicyWarningMessage(pcUnknown), {"", "", 0}},
        {"not started", SetupNotStartedMessage("C:\\Kit/SQLEXPR_x86_ENU.exe", "Access denied."),
         {"B\xC5\x82\xC4\x85" "d", "Nie mo\xC5\xBCna uruchomi\xC4\x87 instalatora SQL Server: \"C:\\Kit/SQLEXPR_x86_ENU.exe\"\r\nAccess denied.",
          0x10}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.got.Caption, c.expected.Caption) << c.name;
        EXPECT_EQ(c.got.Text, c.expected.Text) << c.name;
        EXPECT_EQ(c.got.Style, c.expected.Style) << c.name;
    }
}

TEST(SetupLauncher, SequenceOnYesRunsSetupBetweenSplashAndButton) {
    TFakePlatform p;
    RunInstallationSequence(p);
    const std::vector<std::string> expected = {
        "ProgramPath",
        "PasswordText",
        "FileExists C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe",
        Registry64,
        Registry32,
        "Service MSSQL$SQLVORNA",
        "CheckPasswordPolicy qwzqwz",
        "ComputerNames",
        "PasswordText",
        "MessageBox Pytanie 68 splashes=0 enabled=1",
        "Disable",
        "CreateSplash",
        "ShowSplash",
        "StartProcess",
        "WaitFor 50",
        "ProcessMessages splashes=1 enabled=0",
        "WaitFor 50",
        "ProcessMessages splashes=1 enabled=0",
        "WaitFor 50",
        "ExitCode",
        "CloseProcess",
        "FreeSplash",
        "Enable",
    };
    EXPECT_EQ(Joined(p.Calls), Joined(expected));
    EXPECT_EQ(p.CommandLine, "\"C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe\" " + Params1 + "qwzqwz" + ParamsRest);
    EXPECT_EQ(p.WorkingDirectory, "C:\\Kit\\");
    EXPECT_EQ(p.Flags, 0x30u);
    EXPECT_EQ(p.ShowMode, 1);
    ASSERT_EQ(p.Texts.size(), 1u);
    EXPECT_EQ(p.Texts[0], ConfirmationMessage("qwzqwz").Text);
}

TEST(SetupLauncher, SequenceStopsOnNoOrMissingSetup) {
    {
        TFakePlatform p;
        p.Answer = 7;  // No
        RunInstallationSequence(p);
        EXPECT_EQ(p.Calls.back(), "MessageBox Pytanie 68 splashes=0 enabled=1") << "No";
        EXPECT_EQ(p.CommandLine, "") << "No: nothing started";
        EXPECT_TRUE(p.StartEnabled) << "No";
    }
    {
        TFakePlatform p;
        p.Answer = 2;  // closed by Escape
        RunInstallationSequence(p);
        EXPECT_EQ(p.CommandLine, "") << "Cancel";
    }
    {
        TFakePlatform p;
        p.SetupPresent = false;
        RunInstallationSequence(p);
        const std::vector<std::string> expected = {"ProgramPath", "PasswordText",
                                                   "FileExists C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe",
                                                   "MessageBox Uwaga 48 splashes=0 enabled=1"};
        EXPECT_EQ(Joined(p.Calls), Joined(expected)) << "missing setup";
        ASSERT_EQ(p.Texts.size(), 1u);
        EXPECT_EQ(p.Texts[0], SetupMissingMessage().Text);
    }
}

TEST(SetupLauncher, StartFailureShowsSplashThenReportsError) {
    TFakePlatform p;
    p.Program = "C:\\prog.exe";
    p.StartFails = true;
    p.StartError = "Nie można odnaleźć pliku.";
    RunInstallationSequence(p);
    const std::vector<std::string> expected = {
        "ProgramPath", "PasswordText", "FileExists C:\\/SQLEXPR_x86_ENU.exe", Registry64, Registry32,
        "Service MSSQL$SQLVORNA", "CheckPasswordPolicy qwzqwz", "ComputerNames", "PasswordText",
        "MessageBox Pytanie 68 splashes=0 enabled=1", "Disable", "CreateSplash", "ShowSplash", "StartProcess",
        "FreeSplash", "Enable", "MessageBox Błąd 16 splashes=0 enabled=1",
    };
    EXPECT_EQ(Joined(p.Calls), Joined(expected));
    EXPECT_EQ(p.WorkingDirectory, "C:\\");
    ASSERT_EQ(p.Texts.size(), 2u);
    EXPECT_EQ(p.Texts[1], "Nie można uruchomić instalatora SQL Server: \"C:\\/SQLEXPR_x86_ENU.exe\"\r\n"
                          "Nie można odnaleźć pliku.\r\n\r\n"
                          "Dziennik programu Kantrel: C:\\Temp\\Kantrel\\Kantrel_20240506_120000.log");
}

TEST(SetupLauncher, ExitCodeReportedAfterSplashIsFreedEvenWhenClosedInTheLastSlice) {
    struct Case {
        uint32_t exit;
        const char* message;
        const char* head;
    };
    const Case cases[] = {
        {0, nullptr, nullptr},
        {3010, "MessageBox Informacja 64 splashes=0 enabled=1", SSetupRebootRequired},
        {1, "MessageBox Uwaga 48 splashes=0 enabled=1",
         "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).\r\n"},
        {0xC0000005u, "MessageBox Uwaga 48 splashes=0 enabled=1",
         "Instalator SQL Server zakończył pracę z kodem błędu -1073741819 (0xC0000005).\r\n"},
    };
    for (const bool lateClose : {false, true}) {
        for (const Case& c : cases) {
            const std::string name = std::to_string(c.exit) + (lateClose ? ", closed in the last slice" : "");
            TFakePlatform p;
            p.Exit = c.exit;
            p.TimeoutsBeforeEnd = 0;
            p.CloseInLastSlice = lateClose;
            RunInstallationSequence(p);
            std::vector<std::string> tail = {"WaitFor 50", "ExitCode", "CloseProcess", "FreeSplash", "Enable"};
            if (c.message) {
                // The close is handled before the message, as in any other slice.
                tail.insert(tail.begin() + 3, "ProcessMessages splashes=1 enabled=0");
                tail.push_back(c.message);
            }
            ASSERT_GE(p.Calls.size(), tail.size()) << name;
            EXPECT_EQ(Joined({p.Calls.end() - static_cast<long>(tail.size()), p.Calls.end()}), Joined(tail)) << name;
            if (c.message) {
                ASSERT_EQ(p.Texts.size(), 2u) << name;
                const std::string logLine = "\r\n\r\nDziennik programu Kantrel: " + p.KantrelLog.Path();
                EXPECT_EQ(p.Texts[1].substr(0, std::string(c.head).size()), c.head) << name;
                ASSERT_GT(p.Texts[1].size(), logLine.size()) << name;
                EXPECT_EQ(p.Texts[1].substr(p.Texts[1].size() - logLine.size()), logLine) << name << ": names the log";
            } else {
                EXPECT_EQ(p.Texts.size(), 1u) << name << ": exit 0 says nothing";
            }
        }
    }
}

TEST(SetupLauncher, RefusedPasswordsStopFirstAndLongOnesAreNeverCut) {
    std::string longest;
    for (int i = 0; i < 128; ++i)
        longest += "\xC4\x85";  // one character, two bytes
    TFakePlatform accepted;
    accepted.Password = longest;
    RunInstallationSequence(accepted);
    EXPECT_EQ(accepted.CommandLine, "\"C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe\" " + Params1 + longest + ParamsRest)
        << "128 characters reach setup intact";

    std::string astral;  // 65 characters of two UTF-16 units each, as SQL Server counts
    for (int i = 0; i < 65; ++i)
        astral += "\xF0\x9F\x98\x80";
    const std::pair<std::string, const char*> cases[] = {
        {"ab\"cd", SPasswordQuote},         {"", SPasswordEmpty},
        {longest + "a", SPasswordTooLong},  {std::string(129, 'x'), SPasswordTooLong},
        {astral, SPasswordTooLong},
    };
    for (const auto& [password, text] : cases) {
        TFakePlatform p;
        p.Password = password;
        RunInstallationSequence(p);
        const std::vector<std::string> expected = {"ProgramPath", "PasswordText",
                                                   "MessageBox Uwaga 48 splashes=0 enabled=1", "FocusPassword"};
        EXPECT_EQ(Joined(p.Calls), Joined(expected)) << text << " (" << password.size() << " bytes)";
        ASSERT_EQ(p.Texts.size(), 1u);
        EXPECT_EQ(p.Texts[0], text);
    }
}

TEST(SetupLauncher, ErrorInsideWaitFreesSplashAndEnablesButton) {
    TFakePlatform p;
    p.TimeoutsBeforeEnd = 100;
    int pumps = 0;
    p.OnProcessMessages = [&] {
        if (++pumps == 3)
            throw EInvalidGraphicOperation("GIF encoded data is corrupt");
    };
    EXPECT_THROW(RunInstallationSequence(p), EInvalidGraphicOperation);
    EXPECT_EQ(pumps, 3);
    EXPECT_EQ(p.SplashesAlive, 0);
    EXPECT_EQ(p.ProcessesOpen, 0) << "process handle closed";
    EXPECT_TRUE(p.StartEnabled);
    const std::vector<std::string> tail = {"CloseProcess", "FreeSplash", "Enable"};
    ASSERT_GE(p.Calls.size(), 3u);
    EXPECT_EQ(Joined({p.Calls.end() - 3, p.Calls.end()}), Joined(tail)) << "no message after the error";
}

TEST(SetupLauncher, ErrorBuildingTheSplashStartsNothing) {
    TFakePlatform p;
    p.SplashFails = true;
    EXPECT_THROW(RunInstallationSequence(p), EReadError);
    EXPECT_EQ(p.CommandLine, "") << "no process";
    EXPECT_TRUE(p.StartEnabled) << "btnOK enabled again";
    EXPECT_EQ(p.Calls.back(), "Enable");
}

TEST(SetupLauncher, WaitHasNoOtherExitThanTheProcessEnding) {
    TFakePlatform p;
    p.TimeoutsBeforeEnd = 40;
    const TSetupRunResult result = RunSetupProcess(p, "C:\\Kit/SQLEXPR_x86_ENU.exe", "/X", 1);
    EXPECT_TRUE(result.Started);
    EXPECT_EQ(result.ExitCode, 0u);
    int waits = 0, pumps = 0;
    for (const std::string& line : p.Calls) {
        waits += line == "WaitFor 50";
        pumps += line.rfind("ProcessMessages", 0) == 0;
    }
    EXPECT_EQ(waits, 41);
    EXPECT_EQ(pumps, 40);
    EXPECT_EQ(p.CommandLine, "\"C:\\Kit/SQLEXPR_x86_ENU.exe\" /X");
    EXPECT_EQ(p.WorkingDirectory, "C:\\");

    TFakePlatform failing;
    failing.StartFails = true;
    const TSetupRunResult notStarted = RunSetupProcess(failing, "C:\\Kit/SQLEXPR_x86_ENU.exe", "/X", 1);
    EXPECT_FALSE(notStarted.Started);
    EXPECT_EQ(notStarted.ErrorText, failing.StartError);
    EXPECT_EQ(failing.Calls.back(), "StartProcess") << "no wait when not started";
}

TEST(SetupLauncher, PolicyQuestionOnlyWhenThePolicyRefuses) {
    struct Case {
        TPasswordPolicyCheck check;
        const char* reason;  // null: nothing is asked
    };
    const Case cases[] = {
        {pcPasses, nullptr},
        {pcUnknown, nullptr},
        {pcTooShort, "jest za krótkie"},
        {pcTooLong, "jest za długie"},
        {pcNotComplex, "nie spełnia wymagań złożoności"},
        {pcOtherwiseRefused, "nie spełnia wymagań"},
    };
    TFakePlatform plain;
    RunInstallationSequence(plain);
    for (const Case& c : cases) {
        for (const int answer : {MsgResultYes, MsgResultNo}) {
            const std::string name = std::to_string(c.check) + (answer == MsgResultYes ? " Yes" : " No");
            TFakePlatform p;
            p.Policy = c.check;
            p.PolicyAnswer = answer;
            RunInstallationSequence(p);
            if (!c.reason) {
                EXPECT_EQ(Joined(p.Calls), Joined(plain.Calls)) << name << ": the sequence as without a policy";
                continue;
            }
            ASSERT_GE(p.Calls.size(), 7u) << name;
            EXPECT_EQ(p.Calls[6], "CheckPasswordPolicy qwzqwz") << name << ": after the instance check";
            ExpectQuestionThenOnOrBack(p, plain, 7, "MessageBox Uwaga 52 splashes=0 enabled=1",
                                       std::string(SPolicyHead) + c.reason + SPolicyTail, answer, name);
        }
    }
}

TEST(SetupLauncher, InstanceQuestionWhenAnyRecordShowsTheInstance) {
    struct Case {
        const char* name;
        TPresence registry64, registry32, service;
        TPresence expected;
    };
    const Case cases[] = {
        {"64-bit view", prPresent, prAbsent, prAbsent, prPresent},
        {"32-bit view", prAbsent, prPresent, prAbsent, prPresent},
        {"service only", prAbsent, prAbsent, prPresent, prPresent},
        {"found beside checks that failed", prUnknown, prPresent, prUnknown, prPresent},
        {"nowhere", prAbsent, prAbsent, prAbsent, prAbsent},
        {"one view cannot tell", prAbsent, prUnknown, prAbsent, prUnknown},
        {"nothing can be told", prUnknown, prUnknown, prUnknown, prUnknown},
    };
    TFakePlatform plain;
    RunInstallationSequence(plain);
    for (const Case& c : cases) {
        for (const int answer : {MsgResultYes, MsgResultNo}) {
            const std::string name = std::string(c.name) + (answer == MsgResultYes ? ", Yes" : ", No");
            TFakePlatform p;
            p.Registry64 = c.registry64;
            p.Registry32 = c.registry32;
            p.Service = c.service;
            p.InstanceAnswer = answer;
            EXPECT_EQ(SetupInstancePresence(p), c.expected) << name;
            p.Calls.clear();
            RunInstallationSequence(p);
            if (c.expected != prPresent) {
                EXPECT_EQ(Joined(p.Calls), Joined(plain.Calls)) << name << ": the sequence as without an instance";
                continue;
            }
            ASSERT_GE(p.Calls.size(), 6u) << name;
            EXPECT_EQ(p.Calls[5], "Service MSSQL$SQLVORNA") << name << ": asked after the file check";
            ExpectQuestionThenOnOrBack(p, plain, 6, "MessageBox Uwaga 308 splashes=0 enabled=1", SInstanceInstalled,
                                       answer, name);
        }
    }
}

namespace {

const std::string RunLog = "C:\\Program Files (x86)\\Microsoft SQL Server\\120\\Setup Bootstrap\\Log\\20240506_120001";
const std::string RunSummary = RunLog + "\\Summary_PC_20240506_120001.txt";

// Setup ends writing a failed summary that echoes the password.
void WritesSummaryAtTheEnd(TFakePlatform& p, const std::string& echoed) {
    p.Exit = 0x851A001Au;
    p.OnProcessEnd = [&p, echoed] {
        p.FakeFiles.AddFile(RunSummary,
                            "  Final result: Failed: see details below\r\n"
                            "  Exit message: Password '" + echoed + "' is not valid.\r\n",
                            p.FakeFiles.Clock);
    };
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(SetupLauncher, LogRecordsEachStepAndNeverThePassword) {
    struct Case {
        const char* name;
        std::string password;
        std::string onCommandLine;
    };
    const Case cases[] = {
        {"Polish letters", "Zażółć-gęślą", "Zażółć-gęślą"},
        {"asterisks", "a*b**c", "a*b**c"},
        {"pasted with a space", "ala ma kota", "\"ala ma kota\""},
    };
    for (const Case& c : cases) {
        TFakePlatform p(false);
        p.Password = "a\"b";
        RunInstallationSequence(p);
        p.Password = c.password;
        WritesSummaryAtTheEnd(p, c.password);
        RunInstallationSequence(p);
        EXPECT_EQ(p.CommandLine, "\"C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe\" " + Params1 + c.onCommandLine + ParamsRest)
            << c.name << ": setup gets the password";
        const std::string log = p.LogText();
        EXPECT_EQ(p.KantrelLog.Path(), "C:\\Temp\\Kantrel\\Kantrel_20240506_120000.log") << c.name;
        const std::string lines[] = {
            "\xEF\xBB\xBF" "2024-05-06 12:00:00  Kantrel 1.0.0, wersja ",
            "  Windows: 10.0.19045, system 64-bitowy\r\n",
            "  Program: C:\\Kit\\Setup\\kantrel.exe\r\n",
            "  Folder bieżący: C:\\Users\\Ola\\Pobrane\r\n",
            "  Hasło odrzucone: Hasło nie może zawierać znaku cudzysłowu (\").\r\n",
            "  Plik instalatora C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe: jest\r\n",
            "  Rejestr, widok 64-bitowy, HKLM\\SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL, wartość "
            "SQLVORNA: brak\r\n",
            "  Usługa MSSQL$SQLVORNA: brak\r\n",
            "  Zasady haseł systemu Windows: nie można sprawdzić\r\n",
            "  Potwierdzenie instalacji, odpowiedź: Tak\r\n",
            "  Wiersz polecenia instalatora: \"C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe\" " + Params1 + "********" +
                ParamsRest + "\r\n",
            "  Folder roboczy instalatora: C:\\Kit\\\r\n",
            "2024-05-06 12:00:00  Uruchomienie instalatora.\r\n",
            "2024-05-06 12:00:00  Instalator zakończył pracę z kodem -2061893606 (0x851A001A).\r\n",
            "  Podsumowanie tego uruchomienia: " + RunSummary + "\r\n",
            "  Exit message: Password '********' is not valid.\r\n",
            "  Komunikat po zakończeniu instalatora: błąd instalacji\r\n",
        };
        for (const std::string& line : lines)
            EXPECT_TRUE(Contains(log, line)) << c.name << ": " << line << "\nin:\n" << log;
        EXPECT_FALSE(Contains(log, c.password)) << c.name << ":\n" << log;
        ASSERT_EQ(p.Texts.size(), 3u) << c.name;
        EXPECT_TRUE(Contains(p.Texts[2], "\r\nPlik podsumowania: " + RunSummary + "\r\n")) << c.name;
        EXPECT_TRUE(Contains(p.Texts[2], "Password '" + c.password + "' is not valid.")) << "the box as setup says it";
        EXPECT_TRUE(Contains(p.Texts[2], "\r\n\r\nDziennik programu Kantrel: " + p.KantrelLog.Path())) << c.name;
    }
}

TEST(SetupLauncher, LogThatCannotBeWrittenChangesNothing) {
    TFakePlatform plain;
    WritesSummaryAtTheEnd(plain, "x");
    RunInstallationSequence(plain);
    struct Case {
        const char* name;
        std::function<void(TFakeFiles&)> breakIt;
    };
    const Case cases[] = {
        {"no temporary folder", [](TFakeFiles& f) { f.Temp = "D:\\Gone\\"; }},
        {"a file where its folder goes", [](TFakeFiles& f) { f.AddFile("C:\\Temp\\Kantrel", "", 0); }},
        {"a full disk", [](TFakeFiles& f) { f.DiskFull = true; }},
    };
    for (const Case& c : cases) {
        TFakePlatform p(false);
        c.breakIt(p.FakeFiles);
        WritesSummaryAtTheEnd(p, "x");
        RunInstallationSequence(p);
        EXPECT_EQ(Joined(p.Calls), Joined(plain.Calls)) << c.name;
        EXPECT_EQ(p.CommandLine, plain.CommandLine) << c.name;
        ASSERT_EQ(p.Texts.size(), 2u) << c.name;
        EXPECT_EQ(p.Texts[1] + "\r\n\r\nDziennik programu Kantrel: " + plain.KantrelLog.Path(), plain.Texts[1])
            << c.name << ": the same message, without the log";
    }
    // A disk that fills up once the log was made: the log is named, as far as it got.
    TFakePlatform late(false);
    WritesSummaryAtTheEnd(late, "x");
    late.OnProcessMessages = [&late] { late.FakeFiles.DiskFull = true; };
    late.TimeoutsBeforeEnd = 1;
    RunInstallationSequence(late);
    EXPECT_TRUE(Contains(late.Texts.back(), "Dziennik programu Kantrel: " + late.KantrelLog.Path()));
    EXPECT_TRUE(Contains(late.LogText(), "Uruchomienie instalatora."));
    EXPECT_FALSE(Contains(late.LogText(), "Instalator zakończył"));
}

TEST(SetupLauncher, SqlServerQuestionForItsOwnWordsAndTheComputersNames) {
    struct Case {
        std::string password;
        const char* text;  // null: nothing is asked
        const char* logged;
    };
    const char* word = "to słowo, którego SQL Server nie przyjmuje";
    const char* name = "to nazwa komputera";
    const Case cases[] = {
        {"password", SSqlPasswordWord, word},
        {"PassWord", SSqlPasswordWord, word},
        {"admin", SSqlPasswordWord, word},
        {"ADMIN", SSqlPasswordWord, word},
        {"Administrator", SSqlPasswordWord, word},
        {"sa", SSqlPasswordWord, word},
        {"Sa", SSqlPasswordWord, word},
        {"sysadmin", SSqlPasswordWord, word},
        {"SysAdmin", SSqlPasswordWord, word},
        {"biuro-księgowość", SSqlPasswordComputerName, name},
        {"Biuro-KsięgowoŚć", SSqlPasswordComputerName, name},
        {"KADRY-01", SSqlPasswordComputerName, name},
        {"kadry-01", SSqlPasswordComputerName, name},
        {"Admin2026!x", nullptr, "je spełnia"},
        {"mypassword", nullptr, "je spełnia"},
        {"sa1", nullptr, "je spełnia"},
        {"administratorzy", nullptr, "je spełnia"},
        {"kadry", nullptr, "je spełnia"},
        {"biuro-księgowo", nullptr, "je spełnia"},
        {"biuro-ksiegowosc", nullptr, "je spełnia"},
    };
    for (const Case& c : cases) {
        const std::string commandLine =
            SetupCommandLine("C:\\Kit\\Setup/SQLEXPR_x86_ENU.exe", SetupParameters(c.password));
        for (const int answer : {MsgResultYes, MsgResultNo}) {
            const std::string name = c.password + (answer == MsgResultYes ? ", Yes" : ", No");
            TFakePlatform p;
            p.Password = c.password;
            p.SqlPasswordAnswer = answer;
            RunInstallationSequence(p);
            ASSERT_GE(p.Calls.size(), 9u) << name;
            EXPECT_EQ(p.Calls[6], "CheckPasswordPolicy " + c.password) << name;
            EXPECT_EQ(p.Calls[7], "ComputerNames") << name << ": after the policy";
            EXPECT_TRUE(Contains(p.LogText(), std::string("Zasady haseł SQL Server: hasło ") + c.logged))
                << name << ":\n" << p.LogText();
            EXPECT_FALSE(Contains(p.LogText(), "BIURO")) << name << ": a computer's name may be a password";
            if (!c.text) {
                EXPECT_EQ(p.Texts.size(), 1u) << name << ": the confirmation only";
                EXPECT_EQ(p.CommandLine, commandLine) << name;
                continue;
            }
            EXPECT_EQ(p.Calls[8], "MessageBox Uwaga 308 splashes=0 enabled=1") << name;
            ASSERT_FALSE(p.Texts.empty()) << name;
            EXPECT_EQ(p.Texts[0], c.text) << name;
            if (answer == MsgResultYes) {
                EXPECT_EQ(p.Texts.size(), 2u) << name << ": Yes goes on to the confirmation";
                EXPECT_EQ(p.CommandLine, commandLine) << name;
            } else {
                EXPECT_EQ(p.Calls.size(), 10u) << name << ": No stops";
                EXPECT_EQ(p.Calls.back(), "FocusPassword") << name;
                EXPECT_EQ(p.CommandLine, "") << name << ": nothing started";
            }
        }
    }
}
