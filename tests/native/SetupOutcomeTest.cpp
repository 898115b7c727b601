#include "FakeLauncherFiles.h"
#include "app/KantrelLog.h"
#include "app/SetupOutcome.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TSummarySearch Found(const std::string& finalResult, const std::string& exitCode = "") {
    TSummarySearch search;
    search.Summary = TSummaryFile{"C:\\Log\\20240506_120003\\Summary_PC_20240506_120003.txt", 0};
    search.SummaryRead = true;
    search.Fields.FinalResult = finalResult;
    search.Fields.ExitCode = exitCode;
    return search;
}

}  // namespace

TEST(SetupOutcome, WhatEachEndOfSetupCallsFor) {
    struct Case {
        const char* name;
        uint32_t exit;
        TSummarySearch search;
        TSetupOutcome outcome;
    };
    TSummarySearch unread = Found("");
    unread.SummaryRead = false;
    const Case cases[] = {
        {"0, no summary", 0, {}, soNothing},
        {"3010, no summary", 3010, {}, soRestart},
        {"1, no summary", 1, {}, soFailure},
        {"passed", 0, Found("Passed"), soNothing},
        {"passed, whatever the code", 1, Found("Passed"), soNothing},
        {"passed, code 3010", 3010, Found("Passed"), soRestart},
        {"reboot required, negative code", 0x84BE0BC2u, Found("Passed but reboot required, see logs for details"),
         soRestart},
        {"failed, code 0", 0, Found("Failed: see details below"), soFailure},
        {"failed, code 3010", 3010, Found("Failed: see details below"), soFailure},
        {"no final result: the code decides", 0, Found(""), soNothing},
        {"unreadable: the code decides", 3010, unread, soRestart},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetupOutcome(c.exit, c.search), c.outcome) << c.name;
        const TLauncherMessage message = SetupOutcomeMessage(c.exit, c.search, "C:\\Temp\\Kantrel\\K.log");
        const unsigned style[] = {0u, 0x40u, 0x30u};
        const char* caption[] = {"", "Informacja", "Uwaga"};
        EXPECT_EQ(message.Style, style[c.outcome]) << c.name;
        EXPECT_EQ(message.Caption, caption[c.outcome]) << c.name;
    }
    EXPECT_EQ(SetupOutcomeMessage(3010, {}, "C:\\Temp\\Kantrel\\K.log").Text,
              "Instalacja SQL Server została zakończona. Aby ją dokończyć, uruchom ponownie komputer.\r\n\r\n"
              "Dziennik programu Kantrel: C:\\Temp\\Kantrel\\K.log");
    EXPECT_EQ(SetupOutcomeMessage(3010, {}, "").Text,
              "Instalacja SQL Server została zakończona. Aby ją dokończyć, uruchom ponownie komputer.")
        << "no log, no line";
}

TEST(SetupOutcome, FailureBoxSaysWhatTheSummarySays) {
    TSummarySearch search = Found("Failed: see details below", "-2068052377");
    TSetupSummary& f = search.Fields;
    f.ExitMessage = "The SQL Server service account login or password is not valid: NT AUTHORITY\\x.";
    f.LogWithFailure = "C:\\Log\\20240506_120003\\Detail.txt";
    f.FailedFeature = TSummaryFeature{"Database Engine Services", "Failed", "An error occurred.", "0x851A0019", ""};
    EXPECT_EQ(SetupOutcomeMessage(1, search, "C:\\Temp\\Kantrel\\K.log").Text,
              "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).\r\n"
              "\r\n"
              "Wynik końcowy: Failed: see details below\r\n"
              "Komunikat instalatora: The SQL Server service account login or password is not valid: NT AUTHORITY\\x.\r\n"
              "Funkcja, której instalacja się nie powiodła: Database Engine Services\r\n"
              "Przyczyna: An error occurred.\r\n"
              "Kod zakończenia zapisany w podsumowaniu: -2068052377 (0x84BC0667)\r\n"
              "Dziennik z błędem: C:\\Log\\20240506_120003\\Detail.txt\r\n"
              "Plik podsumowania: C:\\Log\\20240506_120003\\Summary_PC_20240506_120003.txt\r\n"
              "\r\n"
              "Dziennik programu Kantrel: C:\\Temp\\Kantrel\\K.log");

    // The description before the reason, unless it is the exit message again;
    // the summary's code only when it differs.
    f.FailedFeature->ErrorDescription = "Wait on the Database Engine recovery handle failed.";
    std::string text = SetupOutcomeMessage(0x84BC0667u, search, "").Text;
    EXPECT_NE(text.find("\r\nPrzyczyna: Wait on the Database Engine recovery handle failed.\r\n"), std::string::npos);
    f.ExitMessage = f.FailedFeature->ErrorDescription;
    EXPECT_EQ(SetupOutcomeMessage(1, search, "").Text.find("Przyczyna"), std::string::npos);
    EXPECT_EQ(text.find("Kod zakończenia zapisany"), std::string::npos) << text;
    EXPECT_EQ(text.find("Dziennik programu Kantrel"), std::string::npos) << text;

    // Every value cut at 500 characters, the summary's path too.
    f.ExitMessage = std::string(499, 'm') + "ąę";
    search.Summary->Path = "C:\\" + std::string(600, 'p');
    text = SetupOutcomeMessage(1, search, "").Text;
    EXPECT_NE(text.find("Komunikat instalatora: " + std::string(499, 'm') + "ą…\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Plik podsumowania: C:\\" + std::string(497, 'p') + "…"), std::string::npos) << text;

    search.SummaryRead = false;
    search.Fields = {};
    search.Summary->Path = "C:\\Log\\Summary.txt";
    EXPECT_EQ(SetupOutcomeMessage(0xFFFFFFFFu, search, "").Text,
              "Instalator SQL Server zakończył pracę z kodem błędu -1 (0xFFFFFFFF).\r\n\r\n"
              "Plik podsumowania: C:\\Log\\Summary.txt (nie udało się go odczytać)");
    search.SummaryRead = true;
    search.Fields.FinalResult = "Failed";
    EXPECT_EQ(SetupOutcomeMessage(0, search, "").Text.substr(0, 60),
              std::string("Instalator SQL Server zakończył pracę z kodem 0 (0x00000000).").substr(0, 60))
        << "code 0 is no error code";
}

TEST(SetupOutcome, WithoutASummaryTheFoldersAndAnEarlierAttempt) {
    TSummarySearch search;
    search.FoldersSearched = {"C:\\Program Files\\Microsoft SQL Server\\*\\Setup Bootstrap\\Log",
                              "C:\\Program Files (x86)\\Microsoft SQL Server\\*\\Setup Bootstrap\\Log"};
    search.SqlSetupLogs = "C:\\Users\\Ola\\AppData\\Local\\Temp\\sqlsetup*.log";
    search.Earlier = TSummaryFile{"C:\\Log\\20240101_080000\\Summary_PC_20240101_080000.txt", 0};
    search.EarlierWritten = {2024, 1, 1, 8, 40, 5};
    EXPECT_EQ(SetupOutcomeMessage(0x84B40000u, search, "C:\\Temp\\Kantrel\\K.log").Text,
              "Instalator SQL Server zakończył pracę z kodem błędu -2068578304 (0x84B40000).\r\n"
              "\r\n"
              "Nie znaleziono dziennika instalatora z tego uruchomienia. Przeszukano foldery:\r\n"
              "C:\\Program Files\\Microsoft SQL Server\\*\\Setup Bootstrap\\Log\r\n"
              "C:\\Program Files (x86)\\Microsoft SQL Server\\*\\Setup Bootstrap\\Log\r\n"
              "Sprawdź też pliki: C:\\Users\\Ola\\AppData\\Local\\Temp\\sqlsetup*.log\r\n"
              "Podsumowanie wcześniejszej próby instalacji (2024-01-01 08:40:05): "
              "C:\\Log\\20240101_080000\\Summary_PC_20240101_080000.txt\r\n"
              "\r\n"
              "Dziennik programu Kantrel: C:\\Temp\\Kantrel\\K.log");
    search.Earlier.reset();
    search.RunFolder = "C:\\Log\\20240506_120003";
    EXPECT_EQ(SetupOutcomeMessage(1, search, "").Text,
              "Instalator SQL Server zakończył pracę z kodem błędu 1 (0x00000001).\r\n\r\n"
              "W folderze dziennika z tego uruchomienia nie ma pliku podsumowania: C:\\Log\\20240506_120003\r\n"
              "Sprawdź też pliki: C:\\Users\\Ola\\AppData\\Local\\Temp\\sqlsetup*.log");
}

TEST(KantrelLog, OneFileARunEvenWithinOneSecondUtf8WithBomAndCrlf) {
    TFakeFiles files;
    TKantrelLog first(files), second(files), third(files);
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(second.Open());
    ASSERT_TRUE(third.Open());
    EXPECT_EQ(first.Path(), "C:\\Temp\\Kantrel\\Kantrel_20240506_120000.log");
    EXPECT_EQ(second.Path(), "C:\\Temp\\Kantrel\\Kantrel_20240506_120000_2.log");
    EXPECT_EQ(third.Path(), "C:\\Temp\\Kantrel\\Kantrel_20240506_120000_3.log");
    first.Write("pierwszy\r\nciąg dalszy\nkoniec");
    second.Write("drugi");
    EXPECT_EQ(files.Text(first.Path()), "\xEF\xBB\xBF"
                                        "2024-05-06 12:00:00  pierwszy\r\n"
                                        "                     ciąg dalszy\r\n"
                                        "                     koniec\r\n");
    EXPECT_EQ(files.Text(second.Path()), "\xEF\xBB\xBF" "2024-05-06 12:00:00  drugi\r\n");

    TFakeFiles noTemp;
    noTemp.Temp = "D:\\Gone\\";
    TKantrelLog homeless(noTemp);
    EXPECT_FALSE(homeless.Open());
    homeless.Write("nic");
    EXPECT_EQ(homeless.Path(), "");

    EXPECT_EQ(WithoutPassword("x /SAPWD=ab*c y ab*cab*c", "ab*c"), "x /SAPWD=******** y ****************");
}
