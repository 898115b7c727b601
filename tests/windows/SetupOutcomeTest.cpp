// End to end: what the real kantrel.exe says once setup has ended, read from
// the summary the stand-in writes under the prefix's Program Files as setup
// does, and Kantrel's own log.

#include "SetupSequenceFixture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string ExitMessage =
    "Wait on the Database Engine recovery handle failed. Check the SQL Server error log for potential causes.";

// A failed run's summary as SQL Server 2014 writes it; "{RUN}" is the run folder.
const std::string FailedSummary =
    "Overall summary:\n"
    "  Final result:                  Failed: see details below\n"
    "  Exit code (Decimal):           -2061893606\n"
    "  Exit facility code:            1306\n"
    "  Exit error code:               26\n"
    "  Exit message:                  " + ExitMessage + "\n"
    "  Start time:                    2024-05-06 12:00:00\n"
    "  End time:                      2024-05-06 12:10:00\n"
    "  Requested action:              Install\n"
    "  Log with failure:              {RUN}\\Detail.txt\n"
    "\n"
    "User Input Settings:\n"
    "  ACTION:                        Install\n"
    "  SAPWD:                         *****\n"
    "\n"
    "Detailed results:\n"
    "  Feature:                       Database Engine Services\n"
    "  Status:                        Failed: see logs for details\n"
    "  Reason for failure:            An error occurred during the setup process of the feature.\n"
    "  Component error code:          0x851A001A\n"
    "  Error description:             " + ExitMessage + "\n";

class AfterSetup : public SetupSequence {
protected:
    fs::path SummaryTemplate = Temp.Path() / L"summary-template.txt";

    // The stand-in ends with this code after writing this summary.
    void SetupWrites(const std::string& summary, const wchar_t* exitCode) {
        WriteFileBytes(SummaryTemplate, summary);
        SetTestEnvironment(L"KANTREL_STANDIN_SUMMARY", SummaryTemplate.wstring());
        StandinBehaviour(L"200", exitCode);
    }
    // The summary's path, as the stand-in recorded it.
    std::string SummaryPath() const {
        const std::string record = ReadFileBytes(Record);
        const size_t at = record.find("summary=");
        return at == std::string::npos ? std::string() : record.substr(at + 8, record.find('\n', at) - at - 8);
    }
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(AfterSetup, FailedSetupIsExplainedFromItsSummaryAndLoggedWithoutThePassword) {
    SetupWrites(FailedSummary, L"-2061893606");
    Launch();
    struct Case {
        const char* name;
        bool paste;
        std::string password;
    };
    const Case cases[] = {
        {"Polish letters", false, "Zażółć7gęślą"},
        {"asterisks", false, "Ab*12*x"},
        {"pasted with a space", true, "ala ma*kota"},
    };
    std::string firstLog;
    for (const Case& c : cases) {
        fs::remove(Record);
        EnterPassword(c.password, c.paste);
        StartAndAnswer(IDYES);
        const std::string text = ExpectExitMessage(
            "Uwaga", "Instalator SQL Server zakończył pracę z kodem błędu -2061893606 (0x851A001A).\r\n", c.name);
        const std::string summary = SummaryPath();
        ASSERT_FALSE(summary.empty()) << c.name << ": " << ReadFileBytes(Record);
        EXPECT_TRUE(Contains(text, "\r\nKomunikat instalatora: " + ExitMessage + "\r\n")) << c.name << ": " << text;
        EXPECT_TRUE(Contains(text, "\r\nPlik podsumowania: " + summary + "\r\n")) << c.name << ": " << text;
        EXPECT_TRUE(Contains(text, "\r\nFunkcja, której instalacja się nie powiodła: Database Engine Services\r\n"))
            << c.name << ": " << text;
        EXPECT_TRUE(Contains(text, "Dziennik z błędem: " + summary.substr(0, summary.rfind('\\')) + "\\Detail.txt"))
            << c.name << ": " << text;

        const std::string log = LogPathIn(text);
        if (firstLog.empty())
            firstLog = log;
        EXPECT_EQ(log, firstLog) << c.name << ": one log for the run of the program";
        const std::string logged = ReadFileBytes(fs::path(Utf8ToWide(log)));
        EXPECT_EQ(logged.substr(0, 3), "\xEF\xBB\xBF") << c.name << ": UTF-8 with a byte-order mark";
        EXPECT_TRUE(Contains(logged, "Podsumowanie tego uruchomienia: " + summary + "\r\n")) << c.name << ": " << logged;
        EXPECT_TRUE(Contains(logged, "Exit message: " + ExitMessage + "\r\n")) << c.name;
        EXPECT_TRUE(Contains(logged, " /SAPWD=******** /IACCEPTSQLSERVERLICENSETERMS")) << c.name << ": " << logged;
        for (size_t at = logged.find('\n'); at != std::string::npos; at = logged.find('\n', at + 1))
            ASSERT_EQ(logged[at - 1], '\r') << c.name << ": CRLF line ends only";
        for (const Case& other : cases)
            EXPECT_FALSE(Contains(logged, other.password)) << c.name << ": the password of " << other.name;
    }
}

TEST_F(AfterSetup, WithoutASummaryTheFoldersSearchedAndAnEarlierAttemptAreNamed) {
    StandinBehaviour(L"0", L"1");
    Launch();
    StartAndAnswer(IDYES);
    std::string text = ExpectExitMessage(
        "Uwaga",
        "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).\r\n\r\n"
        "Nie znaleziono dziennika instalatora z tego uruchomienia. Przeszukano foldery:\r\n",
        "no summary");
    for (const fs::path& folder : ProgramFilesFolders())
        EXPECT_TRUE(Contains(text, WideToUtf8(folder.wstring()) + "\\Microsoft SQL Server\\*\\Setup Bootstrap\\Log\r\n"))
            << WideToUtf8(folder.wstring()) << ": " << text;
    EXPECT_TRUE(Contains(text, "\r\nSprawdź też pliki: " + WideToUtf8(Tmp.wstring()) + "\\sqlsetup*.log\r\n")) << text;
    EXPECT_FALSE(Contains(text, "wcześniejszej")) << text;

    // An earlier attempt's summary, there before this run began.
    const fs::path earlier = ProgramFilesFolders().back() / L"Microsoft SQL Server\\110\\Setup Bootstrap\\Log" /
                             L"20200101_101010" / L"Summary_KANTREL_20200101_101010.txt";
    fs::create_directories(earlier.parent_path());
    WriteFileBytes(earlier, std::string("\xFF\xFEO\0v\0", 6));
    StartAndAnswer(IDYES);
    text = ExpectExitMessage("Uwaga", "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).\r\n",
                             "an earlier attempt");
    EXPECT_TRUE(Contains(text, "\r\nPodsumowanie wcześniejszej próby instalacji (")) << text;
    EXPECT_TRUE(Contains(text, "): " + WideToUtf8(earlier.wstring()) + "\r\n")) << text;
    EXPECT_FALSE(Contains(text, "Plik podsumowania")) << "never taken for this run's: " << text;
}

TEST_F(AfterSetup, SummaryThatNeedsARestartOutweighsANegativeExitCode) {
    SetupWrites("Overall summary:\n  Final result:  Passed but reboot required, see logs for details\n",
                L"-2067919934");
    Launch();
    StartAndAnswer(IDYES);
    ExpectExitMessage("Informacja",
                      "Instalacja SQL Server została zakończona. Aby ją dokończyć, uruchom ponownie komputer.\r\n\r\n",
                      "passed, reboot required");
}
