#include "FakeLauncherFiles.h"
#include "app/SetupSummary.h"
#include "app/SummarySearch.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

std::string Utf16Le(const std::u16string& text, bool bom = true) {
    std::string bytes = bom ? "\xFF\xFE" : "";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string Latin1(std::string_view bytes) {
    TFakeFiles files;
    return files.AnsiToUtf8(bytes);
}

const std::string Failed =
    "Overall summary:\r\n"
    "  Final result:                  Failed: see details below\r\n"
    "  Exit code (Decimal):           -2061893606\r\n"
    "  Exit message:                  Wait on the Database Engine recovery handle failed.\r\n"
    "  Log with failure:              C:\\Program Files\\Microsoft SQL Server\\120\\Setup Bootstrap\\Log\\"
    "20240506_120005\\Detail.txt\r\n"
    "\r\n"
    "Detailed results:\r\n"
    "  Feature:                       Client Tools Connectivity\r\n"
    "  Status:                        Passed\r\n"
    "\r\n"
    "  Feature:                       Database Engine Services\r\n"
    "  Status:                        Failed: see logs for details\r\n"
    "  Reason for failure:            An error occurred during the setup process of the feature.\r\n"
    "  Component error code:          0x851A001A\r\n"
    "  Error description:             Wait on the Database Engine recovery handle failed.\r\n";

}  // namespace

TEST(SetupSummary, DecodedByByteOrderMarkElseStrictUtf8ElseAnsi) {
    struct Case {
        const char* name;
        std::string bytes;
        bool truncated;
        std::string text;
        bool ansi;
    };
    const Case cases[] = {
        {"UTF-16 LE with BOM", Utf16Le(u"Exit message: Błąd ż\U0001F600"), false, "Exit message: Błąd ż\U0001F600", false},
        {"UTF-16 BE with BOM", "\xFE\xFF\0O\0k"s, false, "Ok", false},
        {"UTF-8 with BOM, bad byte replaced", "\xEF\xBB\xBFOk \xFF!", false, "Ok \xEF\xBF\xBD!", false},
        {"UTF-8 without BOM", "Final result: Passed – zażółć", false, "Final result: Passed – zażółć", false},
        {"invalid UTF-8: ANSI", "caf\xE9 ok", false, "café ok", true},
        {"overlong form: ANSI", "a\xC0\xAF", false, Latin1("a\xC0\xAF"), true},
        {"UTF-16 surrogate in UTF-8: ANSI", "a\xED\xA0\x80", false, Latin1("a\xED\xA0\x80"), true},
        {"character cut by the end of a whole file: ANSI", "ok \xC5", false, Latin1("ok \xC5"), true},
        {"character cut where reading stopped", "ok \xC5", true, "ok ", false},
        {"UTF-16: lone surrogates and an odd byte", Utf16Le(u"a\xD800" u"b\xDC00") + "x", false,
         "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD", false},
        {"UTF-16: pair cut where reading stopped", Utf16Le(u"ab\xD83D"), true, "ab", false},
        {"BOM alone", "\xFF\xFE", false, "", false},
    };
    for (const Case& c : cases) {
        int ansiCalls = 0;
        const std::string text = DecodeSummaryText(c.bytes, c.truncated, [&](std::string_view bytes) {
            ++ansiCalls;
            return Latin1(bytes);
        });
        EXPECT_EQ(text, c.text) << c.name;
        EXPECT_EQ(ansiCalls, c.ansi ? 1 : 0) << c.name;
    }
}

TEST(SetupSummary, FieldsFromLabelledLines) {
    const TSetupSummary s = ParseSetupSummary(Failed);
    EXPECT_EQ(s.FinalResult, "Failed: see details below") << "a colon in a value";
    EXPECT_EQ(s.ExitCode, "-2061893606");
    EXPECT_EQ(s.ExitMessage, "Wait on the Database Engine recovery handle failed.");
    EXPECT_EQ(s.LogWithFailure,
              "C:\\Program Files\\Microsoft SQL Server\\120\\Setup Bootstrap\\Log\\20240506_120005\\Detail.txt");
    EXPECT_EQ(s.ExitFacilityCode, "") << "missing";
    ASSERT_TRUE(s.FailedFeature) << "the first feature that did not pass";
    EXPECT_EQ(s.FailedFeature->Feature, "Database Engine Services");
    EXPECT_EQ(s.FailedFeature->ReasonForFailure, "An error occurred during the setup process of the feature.");
    EXPECT_EQ(s.FailedFeature->ComponentErrorCode, "0x851A001A");

    struct Case {
        const char* name;
        std::string text;
        std::string finalResult;
        std::string failedFeature;  // empty: none
        std::string status;
    };
    const Case cases[] = {
        {"bare CR line ends, tabs, any case", "\tFINAL RESULT:\tPassed\r  Feature: A\r  status: Failed\r", "Passed", "A",
         "Failed"},
        {"the first value counts", "  Final result: Failed\n  Final result: Passed\n", "Failed", "", ""},
        {"passed features only", "  Feature: A\n  Status: Passed\n  Feature: B\n  Status: Passed but reboot required\n",
         "", "", ""},
        {"a feature without a status is not reported", "  Feature: A\n  Feature: B\n  Status: Failed\n", "", "B",
         "Failed"},
        {"a feature's fields end with its block", "  Feature: A\nRules with failures:\n  Status: Failed\n", "", "", ""},
        {"controls in values become spaces", "  Final result: Fail\0ed\x07!\n"s, "Fail ed !", "", ""},
        {"no colon, no label", "Final result Passed\n:\n", "", "", ""},
    };
    for (const Case& c : cases) {
        const TSetupSummary parsed = ParseSetupSummary(c.text);
        EXPECT_EQ(parsed.FinalResult, c.finalResult) << c.name;
        EXPECT_EQ(parsed.FailedFeature ? parsed.FailedFeature->Feature : "", c.failedFeature) << c.name;
        EXPECT_EQ(parsed.FailedFeature ? parsed.FailedFeature->Status : "", c.status) << c.name;
    }
}

TEST(SetupSummary, VerdictExitCodeAndCutValues) {
    struct Case {
        std::string finalResult;
        TSummaryVerdict verdict;
    };
    const Case verdicts[] = {
        {"", svUnknown},
        {"Passed", svPassed},
        {"passed", svPassed},
        {"Passed but reboot required, see logs for details", svPassedRebootRequired},
        {"Failed: see details below", svFailed},
        {"Failed: reboot required", svFailed},
    };
    for (const Case& c : verdicts) {
        TSetupSummary s;
        s.FinalResult = c.finalResult;
        EXPECT_EQ(SummaryVerdict(s), c.verdict) << c.finalResult;
    }
    const std::pair<std::string, std::optional<uint32_t>> codes[] = {
        {"0", 0u},        {"3010", 3010u},       {"-2061893606", 0x851A001Au}, {"-2147483648", 0x80000000u},
        {"4294967295", 0xFFFFFFFFu}, {"4294967296", std::nullopt}, {"-2147483649", std::nullopt},
        {"-", std::nullopt}, {"", std::nullopt},  {"12 (see log)", std::nullopt},
    };
    for (const auto& [text, code] : codes) {
        TSetupSummary s;
        s.ExitCode = text;
        EXPECT_EQ(SummaryExitCode(s), code) << text;
    }
    std::string polish;
    for (int i = 0; i < 250; ++i)
        polish += "ąb";
    EXPECT_EQ(CutText(polish, 500), polish) << "500 characters stay";
    EXPECT_EQ(CutText(polish + "x", 500), polish + "…") << "the 501st goes";
    EXPECT_EQ(CutText("ą" + polish, 500), "ą" + polish.substr(0, polish.size() - 1) + "…")
        << "a two-byte character is never split";
}

namespace {

const std::string Log120 = "C:\\Program Files\\Microsoft SQL Server\\120\\Setup Bootstrap\\Log";
const std::string Log110x86 = "C:\\Program Files (x86)\\Microsoft SQL Server\\110\\Setup Bootstrap\\Log";
const TFileTime Start = FakeLocal(2024, 5, 6, 12, 0, 0);
const TFileTime End = FakeLocal(2024, 5, 6, 12, 30, 0);

// A run folder written at `time` with one summary in it.
void AddRun(TFakeFiles& files, const std::string& log, const std::string& stamp, TFileTime time,
            const std::string& text = "  Final result: Failed\r\n") {
    files.AddFile(log + "\\" + stamp + "\\Summary_MY_PC_" + stamp + ".txt", text, time);
    files.Nodes[log + "\\" + stamp].Time = time;
}

}  // namespace

TEST(SummarySearch, ThisRunsSummaryAndNeverAnEarlierOne) {
    struct Case {
        const char* name;
        std::function<void(TFakeFiles&)> before;  // what was there before setup started
        std::function<void(TFakeFiles&)> during;  // what this run wrote
        std::string summary;                      // empty: none found
        std::string earlier;
    };
    const std::string earlierRun = Log120 + "\\20240506_115900\\Summary_MY_PC_20240506_115900.txt";
    const Case cases[] = {
        {"this run's folder under Program Files (x86), beside stale ones",
         [](TFakeFiles& f) { AddRun(f, Log120, "20230101_080000", FakeLocal(2023, 1, 1, 8, 30, 0)); },
         [](TFakeFiles& f) { AddRun(f, Log110x86, "20240506_120003", FakeLocal(2024, 5, 6, 12, 20, 0)); },
         Log110x86 + "\\20240506_120003\\Summary_MY_PC_20240506_120003.txt", ""},
        {"a retry: the run just before was written within two minutes, and this one wrote nothing",
         [](TFakeFiles& f) { AddRun(f, Log120, "20240506_115900", FakeLocal(2024, 5, 6, 11, 59, 50)); },
         [](TFakeFiles&) {}, "", earlierRun},
        {"a future-dated folder of a clock set wrong",
         [](TFakeFiles& f) { AddRun(f, Log120, "20990101_000000", FakeLocal(2099, 1, 1, 0, 10, 0)); },
         [](TFakeFiles& f) { AddRun(f, Log120, "20240506_120003", FakeLocal(2024, 5, 6, 12, 20, 0)); },
         Log120 + "\\20240506_120003\\Summary_MY_PC_20240506_120003.txt", ""},
        {"a future-dated folder is no earlier attempt either",
         [](TFakeFiles& f) {
             AddRun(f, Log120, "20990101_000000", FakeLocal(2020, 1, 1, 0, 0, 0));
             AddRun(f, Log120, "20240506_115900", FakeLocal(2024, 5, 6, 11, 59, 50));
         },
         [](TFakeFiles&) {}, "", earlierRun},
        {"phase files: the run's own summary first",
         [](TFakeFiles&) {},
         [](TFakeFiles& f) {
             const std::string run = Log120 + "\\20240506_120003";
             f.AddFile(run + "\\Summary_MY_PC_20240506_120003.txt", "", FakeLocal(2024, 5, 6, 12, 20, 0));
             f.AddFile(run + "\\Summary_MY_PC_20240506_120003_ComponentUpdate.txt", "", FakeLocal(2024, 5, 6, 12, 25, 0));
         },
         Log120 + "\\20240506_120003\\Summary_MY_PC_20240506_120003.txt", ""},
        {"phase files only: the newest",
         [](TFakeFiles&) {},
         [](TFakeFiles& f) {
             const std::string run = Log120 + "\\20240506_120003";
             f.AddFile(run + "\\Summary_MY_PC_20240506_120003_GlobalRules.txt", "", FakeLocal(2024, 5, 6, 12, 1, 0));
             f.AddFile(run + "\\summary_MY_PC_20240506_120003_ComponentUpdate.TXT", "", FakeLocal(2024, 5, 6, 12, 2, 0));
             f.AddFile(run + "\\Detail.txt", "", FakeLocal(2024, 5, 6, 12, 29, 0));
         },
         Log120 + "\\20240506_120003\\summary_MY_PC_20240506_120003_ComponentUpdate.TXT", ""},
        {"only the root Summary.txt, written after the start",
         [](TFakeFiles&) {},
         [](TFakeFiles& f) { f.AddFile(Log120 + "\\Summary.txt", "", FakeLocal(2024, 5, 6, 12, 10, 0)); },
         Log120 + "\\Summary.txt", ""},
        {"a root Summary.txt from before the start is an earlier attempt",
         [](TFakeFiles& f) { f.AddFile(Log120 + "\\Summary.txt", "", FakeLocal(2024, 5, 6, 11, 59, 59)); },
         [](TFakeFiles&) {}, "", Log120 + "\\Summary.txt"},
        {"nothing at all", [](TFakeFiles&) {}, [](TFakeFiles&) {}, "", ""},
        {"folders that are not versions or runs are passed over",
         [](TFakeFiles& f) {
             f.AddFile("C:\\Program Files\\Microsoft SQL Server\\Shared\\Setup Bootstrap\\Log\\Summary.txt", "",
                       FakeLocal(2024, 5, 6, 12, 10, 0));
         },
         [](TFakeFiles& f) { AddRun(f, Log120, "2024050_1200030", FakeLocal(2024, 5, 6, 12, 20, 0)); }, "", ""},
    };
    for (const Case& c : cases) {
        TFakeFiles files;
        c.before(files);
        const TRunFolderSnapshot snapshot = SnapshotRunFolders(files);
        c.during(files);
        const TSummarySearch search = FindSetupSummary(files, snapshot, Start, End);
        EXPECT_EQ(search.Summary ? search.Summary->Path : "", c.summary) << c.name;
        EXPECT_EQ(search.Earlier ? search.Earlier->Path : "", c.earlier) << c.name;
        EXPECT_EQ(search.FoldersSearched,
                  (std::vector<std::string>{"C:\\Program Files\\Microsoft SQL Server\\*\\Setup Bootstrap\\Log",
                                            "C:\\Program Files (x86)\\Microsoft SQL Server\\*\\Setup Bootstrap\\Log"}))
            << c.name;
        EXPECT_EQ(search.SqlSetupLogs, "C:\\Temp\\sqlsetup*.log") << c.name;
    }
}

TEST(SummarySearch, ReadsAtMostOneMebibyteAndSurvivesWhatItCannotRead) {
    TFakeFiles files;
    const TRunFolderSnapshot snapshot = SnapshotRunFolders(files);
    // UTF-16: the fields first, then padding past the limit, cut inside a pair.
    std::u16string text = u"  Final result: Failed: see details below\r\n  Exit message: Out of disk space.\r\n";
    while (text.size() * 2 < SummaryMaxBytes + 100)
        text += u"  Padding: \U0001F600\r\n";
    AddRun(files, Log120, "20240506_120003", FakeLocal(2024, 5, 6, 12, 20, 0), Utf16Le(text));
    TSummarySearch search = FindSetupSummary(files, snapshot, Start, End);
    EXPECT_EQ(files.LargestRead, SummaryMaxBytes);
    EXPECT_TRUE(search.SummaryRead);
    EXPECT_EQ(search.Fields.FinalResult, "Failed: see details below");
    EXPECT_EQ(search.Fields.ExitMessage, "Out of disk space.");

    files.Nodes[search.Summary->Path].Unreadable = true;
    search = FindSetupSummary(files, snapshot, Start, End);
    ASSERT_TRUE(search.Summary) << "named even when it cannot be read";
    EXPECT_FALSE(search.SummaryRead);
    EXPECT_EQ(search.Fields.FinalResult, "");

    files.Nodes[search.Summary->Path] = {false, FakeLocal(2024, 5, 6, 12, 20, 0), "\x81\x8D\x8F\x90\x9D", false};
    search = FindSetupSummary(files, snapshot, Start, End);
    EXPECT_TRUE(search.SummaryRead) << "undecodable bytes";
    EXPECT_EQ(files.AnsiCalls, 1);
    EXPECT_EQ(search.Fields.FinalResult, "");
}
