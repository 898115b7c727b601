// The launcher's Win32 process calls against the setup stand-in.

#include "TestFiles.h"
#include "TestInstance.h"
#include "app/KantrelLog.h"
#include "app/SetupLauncherWin.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;

namespace {

// Show mode 1 through STARTF_USESHOWWINDOW, a console of its own, normal priority.
const std::string StartedAsSetup = "startup-flags=0x00000001 show=1 console=own priority=0x00000020\n";

// The process part is real; the window part is not needed here.
class TProcessOnlyPlatform : public TWin32LauncherPlatform {
public:
    int Pumps = 0;
    int ShowMessageBox(const std::string&, const std::string&, unsigned) override { return 0; }
    void ProcessMessages() override { ++Pumps; }
    std::unique_ptr<TLauncherSplash> CreateSplash() override { return nullptr; }
    void SetStartEnabled(bool) override {}
    std::string PasswordText() override { return {}; }
    void FocusPassword() override {}
    TKantrelLog& Log() override { return Log_; }

private:
    TKantrelLog Log_{Files()};
};

class LauncherWin : public ::testing::Test {
protected:
    // A program folder whose name needs the Unicode API and quoting.
    TTempFolder Temp{L"Zestaw ąęł"};
    fs::path Folder = Temp.Path() / L"Setup";
    fs::path Record = Temp.Path() / L"record.txt";

    void SetUp() override {
        fs::create_directories(Folder);
        SetTestEnvironment(L"KANTREL_STANDIN_RECORD", Record.wstring());
        SetTestEnvironment(L"KANTREL_STANDIN_WAIT_MS", L"0");
        SetTestEnvironment(L"KANTREL_STANDIN_EXIT_CODE", L"");
    }
    void TearDown() override {
        SetTestEnvironment(L"KANTREL_STANDIN_RECORD", L"");
        SetTestEnvironment(L"KANTREL_STANDIN_WAIT_MS", L"");
        SetTestEnvironment(L"KANTREL_STANDIN_EXIT_CODE", L"");
    }
    std::string LaunchPathHere() const { return LaunchPath(WideToUtf8(Folder.wstring())); }
    void PlaceStandin() const {
        fs::copy_file(BuildFile(KANTREL_STANDIN_EXE), Folder / L"SQLEXPR_x86_ENU.exe");
    }
};

}  // namespace

TEST_F(LauncherWin, SetupReceivesExactCommandLineAndWorkingDirectory) {
    PlaceStandin();
    const char* passwords[] = {"qwzqwz", "", "zażółć gęślą jaźń", "ends in \\", "tab\there"};
    for (const char* password : passwords) {
        fs::remove(Record);
        TProcessOnlyPlatform platform;
        const std::string parameters = SetupParameters(password);
        const TSetupRunResult result = RunSetupProcess(platform, LaunchPathHere(), parameters, SetupShowMode);
        ASSERT_TRUE(result.Started) << password << ": " << result.ErrorText;
        EXPECT_EQ(result.ExitCode, 0u) << password;
        const std::string expected = SetupCommandLine(LaunchPathHere(), parameters) + "\n" +
                                     WideToUtf8(Temp.Path().wstring()) + "\\\n" + StartedAsSetup;
        EXPECT_EQ(ReadFileBytes(Record), expected) << password;
    }
}

TEST_F(LauncherWin, ExitCodesAndTheWaitLoop) {
    PlaceStandin();
    struct Case {
        const wchar_t* exit;
        const wchar_t* waitMs;
        uint32_t expected;
        const char* report;  // the stand-in's complaint, instead of the record
    };
    const Case cases[] = {
        {L"3010", L"0", 3010u, nullptr},
        {L"-1", L"0", 0xFFFFFFFFu, nullptr},
        {L"1", L"300", 1u, nullptr},
        {L"010", L"0", 10u, nullptr},
        {L"08", L"0x0", 8u, nullptr},
        {L"0x84B40000", L"00", 0x84B40000u, nullptr},
        {L"0", L"-1", 2u, "KANTREL_STANDIN_WAIT_MS=\"-1\" is not a decimal or 0x-hexadecimal number"},
        {L"0", L"1e3", 2u, "KANTREL_STANDIN_WAIT_MS=\"1e3\" is not"},
        {L"12x", L"0", 2u, "KANTREL_STANDIN_EXIT_CODE=\"12x\" is not"},
        {L"0x", L"0", 2u, "KANTREL_STANDIN_EXIT_CODE=\"0x\" is not"},
        {L"4294967296", L"0", 2u, "KANTREL_STANDIN_EXIT_CODE=\"4294967296\" is not"},
    };
    for (const Case& c : cases) {
        const std::string name = WideToUtf8(c.exit) + ", wait " + WideToUtf8(c.waitMs);
        fs::remove(Record);
        SetTestEnvironment(L"KANTREL_STANDIN_EXIT_CODE", c.exit);
        SetTestEnvironment(L"KANTREL_STANDIN_WAIT_MS", c.waitMs);
        TProcessOnlyPlatform platform;
        const TSetupRunResult result = RunSetupProcess(platform, LaunchPathHere(), "/QS", SetupShowMode);
        ASSERT_TRUE(result.Started) << name << ": " << result.ErrorText;
        EXPECT_EQ(result.ExitCode, c.expected) << name;
        const std::string record = ReadFileBytes(Record);
        if (c.report)
            EXPECT_NE(record.find(std::string("setup-standin: ") + c.report), std::string::npos) << name << ": " << record;
        else
            EXPECT_NE(record.find("/QS\n"), std::string::npos) << name << ": " << record;
        if (std::wstring(c.waitMs) == L"300") {
            EXPECT_GT(platform.Pumps, 0) << "messages handled while setup runs";
        }
    }
}

TEST_F(LauncherWin, FailuresToStartCarryTheSystemText) {
    TProcessOnlyPlatform platform;
    const TSetupRunResult missing = RunSetupProcess(platform, LaunchPathHere(), "/QS", SetupShowMode);
    EXPECT_FALSE(missing.Started) << "missing file";
    EXPECT_FALSE(missing.ErrorText.empty()) << "missing file";
    EXPECT_EQ(missing.ErrorText.find_first_of("\r\n"), std::string::npos) << missing.ErrorText;

    WriteFileBytes(Folder / L"SQLEXPR_x86_ENU.exe", "This is not a program.\r\n");
    const TSetupRunResult invalid = RunSetupProcess(platform, LaunchPathHere(), "/QS", SetupShowMode);
    EXPECT_FALSE(invalid.Started) << "not an executable";
    EXPECT_FALSE(invalid.ErrorText.empty()) << "not an executable";
    EXPECT_NE(invalid.ErrorText, missing.ErrorText);
    EXPECT_EQ(invalid.ErrorText.find("%1"), std::string::npos) << "insert filled: " << invalid.ErrorText;
    EXPECT_EQ(platform.Pumps, 0);
    EXPECT_FALSE(fs::exists(Record));
}

TEST_F(LauncherWin, PasswordPolicyCannotBeKnownUnderWine) {
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "not running under Wine";
    // Calling Wine's stub would end this process; the check must not call it.
    TProcessOnlyPlatform platform;
    EXPECT_EQ(platform.CheckPasswordPolicy("a"), pcUnknown);
    EXPECT_EQ(platform.CheckPasswordPolicy("qwzqwz"), pcUnknown);
}

TEST_F(LauncherWin, FileTestAndProgramPath) {
    TProcessOnlyPlatform platform;
    EXPECT_FALSE(platform.FileExists(LaunchPathHere())) << "missing";
    fs::create_directory(Folder / L"SQLEXPR_x86_ENU.exe");
    EXPECT_FALSE(platform.FileExists(LaunchPathHere())) << "a directory does not count";
    fs::remove(Folder / L"SQLEXPR_x86_ENU.exe");
    PlaceStandin();
    EXPECT_TRUE(platform.FileExists(LaunchPathHere())) << "forward slash before the name";

    const std::string self = platform.ProgramPath();
    EXPECT_EQ(self.substr(self.size() - 4), ".exe") << self;
    EXPECT_EQ(self[1], ':') << self;
    EXPECT_TRUE(fs::exists(fs::path(Utf8ToWide(self)))) << self;
}

TEST_F(LauncherWin, InstanceFoundInEitherViewOfTheRegistryOrAsAService) {
    ForgetRecordedInstance();
    TProcessOnlyPlatform platform;
    const std::string key = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";
    auto views = [&] {
        return std::make_pair(platform.FindRegistryValue(rv64Bit, key, "SQLVORNA"),
                              platform.FindRegistryValue(rv32Bit, key, "SQLVORNA"));
    };
    EXPECT_EQ(views(), std::make_pair(prAbsent, prAbsent)) << "no key";
    {
        const TRecordedInstance recorded(KEY_WOW64_64KEY);
        EXPECT_EQ(views(), std::make_pair(prPresent, prAbsent)) << "64-bit view";
        EXPECT_EQ(platform.FindRegistryValue(rv64Bit, key, "SQLEXPRESS"), prAbsent) << "another value of the key";
        EXPECT_EQ(SetupInstancePresence(platform), prPresent);
    }
    {
        const TRecordedInstance recorded(KEY_WOW64_32KEY);
        EXPECT_EQ(views(), std::make_pair(prAbsent, prPresent)) << "32-bit view";
    }
    EXPECT_EQ(views(), std::make_pair(prAbsent, prAbsent)) << "record removed";

    EXPECT_EQ(platform.FindService("MSSQL$SQLVORNA"), prAbsent);
    EXPECT_EQ(SetupInstancePresence(platform), prAbsent);
    {
        const TInstanceService service;
        EXPECT_EQ(platform.FindService("MSSQL$SQLVORNA"), prPresent);
        EXPECT_EQ(SetupInstancePresence(platform), prPresent) << "a service alone";
    }
    EXPECT_EQ(platform.FindService("MSSQL$SQLVORNA"), prAbsent) << "service removed";
    EXPECT_EQ(platform.FindService(""), prUnknown) << "an error other than a missing service";
}

TEST_F(LauncherWin, FilesFoldersAndClockOfTheSystem) {
    TWin32LauncherFiles files;
    const std::vector<std::string> programFiles = files.ProgramFilesFolders();
    std::vector<std::string> expected;
    for (const fs::path& folder : ProgramFilesFolders())
        expected.push_back(WideToUtf8(folder.wstring()));
    EXPECT_EQ(programFiles, expected) << "the 64-bit folder first, each once, from either build";
    EXPECT_EQ(programFiles.size(), 2u) << "a 64-bit prefix has both";

    const std::string temp = files.TempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');
    EXPECT_TRUE(fs::is_directory(fs::path(Utf8ToWide(temp))));

    const TFileTime before = files.Now();
    WriteFileBytes(Folder / L"łąka.txt", "0123456789");
    fs::create_directory(Folder / L"Źródło");
    const TFileTime after = files.Now();
    const std::string folder = WideToUtf8(Folder.wstring());
    std::vector<TFolderEntry> entries = files.ListFolder(folder);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
    ASSERT_EQ(entries.size(), 2u) << "no . or ..";
    EXPECT_EQ(entries[0].Name, "łąka.txt");
    EXPECT_FALSE(entries[0].IsFolder);
    EXPECT_EQ(entries[1].Name, "Źródło");
    EXPECT_TRUE(entries[1].IsFolder);
    for (const TFolderEntry& entry : entries)
        EXPECT_TRUE(entry.WriteTime >= before - 2 * FileTimeSecond && entry.WriteTime <= after + 2 * FileTimeSecond)
            << entry.Name << ": written now, on the same clock";
    EXPECT_TRUE(files.ListFolder(folder + "\\missing").empty());

    const std::optional<TFileHead> head = files.ReadFileHead(folder + "\\łąka.txt", 4);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->Bytes, "0123");
    EXPECT_TRUE(head->Truncated);
    EXPECT_FALSE(files.ReadFileHead(folder + "\\łąka.txt", 100)->Truncated);
    EXPECT_FALSE(files.ReadFileHead(folder + "\\missing.txt", 100));

    TCreateResult result = crFailed;
    std::unique_ptr<TAppendFile> log = files.CreateNewFile(folder + "\\nowy.log", result);
    ASSERT_TRUE(log);
    EXPECT_EQ(result, crCreated);
    EXPECT_TRUE(log->Append("ab"));
    EXPECT_TRUE(log->Append("c"));
    EXPECT_EQ(ReadFileBytes(Folder / L"nowy.log"), "abc") << "readable while it is written";
    EXPECT_FALSE(files.CreateNewFile(folder + "\\nowy.log", result));
    EXPECT_EQ(result, crExists) << "never another run's file";
    EXPECT_FALSE(files.CreateNewFile(folder + "\\missing\\nowy.log", result));
    EXPECT_EQ(result, crFailed);
    EXPECT_TRUE(files.CreateFolder(folder + "\\Kantrel"));
    EXPECT_TRUE(files.CreateFolder(folder + "\\Kantrel")) << "there already";
    EXPECT_FALSE(files.CreateFolder(folder + "\\missing\\Kantrel"));
    EXPECT_FALSE(files.CreateFolder(folder + "\\łąka.txt")) << "a file of that name";

    SYSTEMTIME local;
    GetLocalTime(&local);
    const TLocalTime now = files.LocalTime(files.Now());
    EXPECT_EQ(now.Year * 10000 + now.Month * 100 + now.Day, local.wYear * 10000 + local.wMonth * 100 + local.wDay);
    EXPECT_LE(std::abs((now.Hour * 60 + now.Minute) - (local.wHour * 60 + local.wMinute)), 1);
    EXPECT_EQ(files.AnsiToUtf8("Final result: Passed"), "Final result: Passed");

    TProcessOnlyPlatform platform;
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_EQ(platform.WindowsVersion().find(", Wine ") != std::string::npos, wine) << platform.WindowsVersion();
    EXPECT_EQ(fs::path(Utf8ToWide(platform.CurrentFolder())), fs::current_path());
}

namespace {

// The service lookup with the service manager's answer decided by the test.
class TServiceAnswerPlatform : public TProcessOnlyPlatform {
public:
    DWORD Error = ERROR_SUCCESS;

protected:
    uint32_t OpenServiceError(void*, const std::string&) override { return Error; }
};

std::wstring Lowered(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

TEST_F(LauncherWin, ServiceThatCannotBeOpenedForItsStatusIsThere) {
    const std::pair<DWORD, TPresence> cases[] = {
        {ERROR_SUCCESS, prPresent},
        // Access is checked against the service's own security: only a
        // service that exists can refuse it.
        {ERROR_ACCESS_DENIED, prPresent},
        {ERROR_SERVICE_DOES_NOT_EXIST, prAbsent},
        {ERROR_INVALID_NAME, prUnknown},
        {ERROR_NOT_ENOUGH_MEMORY, prUnknown},
    };
    ForgetRecordedInstance();
    for (const auto& [error, presence] : cases) {
        TServiceAnswerPlatform platform;
        platform.Error = error;
        EXPECT_EQ(platform.FindService("MSSQL$SQLVORNA"), presence) << "error " << error;
        EXPECT_EQ(SetupInstancePresence(platform), presence) << "error " << error << ", registry empty";
    }
}

TEST_F(LauncherWin, SystemLibrariesComeFromTheSystemFolderEitherWay) {
    wchar_t system[MAX_PATH], wow64[MAX_PATH] = L"";
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    GetSystemWow64DirectoryW(wow64, MAX_PATH);
    for (const bool searchFlag : {true, false}) {
        const char* how = searchFlag ? "search flag" : "full path";
        const HMODULE library = static_cast<HMODULE>(LoadSystemLibrary("netapi32.dll", searchFlag));
        ASSERT_NE(library, nullptr) << how;
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(library, path, MAX_PATH);
        const std::wstring folder = Lowered(fs::path(std::wstring(path, n)).parent_path().wstring());
        EXPECT_TRUE(folder == Lowered(system) || folder == Lowered(wow64)) << how << ": " << WideToUtf8(path);
        EXPECT_NE(GetProcAddress(library, "NetApiBufferFree"), nullptr) << how << ": netapi32 itself";
        FreeLibrary(library);
    }
    EXPECT_EQ(LoadSystemLibrary("no-such-library.dll", false), nullptr);
}
