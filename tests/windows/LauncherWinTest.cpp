// The launcher's Win32 process calls against the setup stand-in.

#include "TestFiles.h"
#include "app/SetupLauncherWin.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The process part is real; the window part is not needed here.
class TProcessOnlyPlatform : public TWin32LauncherPlatform {
public:
    int Pumps = 0;
    int ShowMessageBox(const std::string&, const std::string&, unsigned) override { return 0; }
    void ProcessMessages() override { ++Pumps; }
    std::unique_ptr<TLauncherSplash> CreateSplash() override { return nullptr; }
    void SetStartEnabled(bool) override {}
    std::string PasswordText() override { return {}; }
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
                                     WideToUtf8(Temp.Path().wstring()) + "\\\n";
        EXPECT_EQ(ReadFileBytes(Record), expected) << password;
    }
}

TEST_F(LauncherWin, ExitCodesAndTheWaitLoop) {
    PlaceStandin();
    struct Case {
        const wchar_t* exit;
        const wchar_t* waitMs;
        uint32_t expected;
    };
    const Case cases[] = {{L"3010", L"0", 3010u}, {L"-1", L"0", 0xFFFFFFFFu}, {L"1", L"300", 1u}};
    for (const Case& c : cases) {
        SetTestEnvironment(L"KANTREL_STANDIN_EXIT_CODE", c.exit);
        SetTestEnvironment(L"KANTREL_STANDIN_WAIT_MS", c.waitMs);
        TProcessOnlyPlatform platform;
        const TSetupRunResult result = RunSetupProcess(platform, LaunchPathHere(), "/QS", SetupShowMode);
        ASSERT_TRUE(result.Started) << WideToUtf8(c.exit);
        EXPECT_EQ(result.ExitCode, c.expected) << WideToUtf8(c.exit);
        if (std::wstring(c.waitMs) != L"0") {
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
