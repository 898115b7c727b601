// libFuzzer target: arbitrary bytes as the summary of a setup run, found,
// read, decoded and parsed as after a real run, then turned into the message
// box's text and the log's lines. Besides crashes and sanitizer reports, a
// finding is: a read of more than the 1 MiB the reader may take, a message
// that is not well-formed UTF-8 or holds a NUL (which would end the box's
// text there), a line of it longer than a label and 500 characters, or the
// password in the log.

#include "FakeLauncherFiles.h"
#include "app/KantrelLog.h"
#include "app/SetupOutcome.h"
#include "app/SetupSummary.h"
#include "app/SummarySearch.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

const std::string Summary = "C:\\Program Files\\Microsoft SQL Server\\120\\Setup Bootstrap\\Log\\20240506_120003"
                            "\\Summary_PC_20240506_120003.txt";
const std::string Password = "Zq#9\xC4\x85";

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "summary fuzzer: %s\n", what);
    std::abort();
}

// Well-formed UTF-8 with no NUL; no line longer than a label and 501 characters.
void CheckShown(const std::string& text) {
    size_t lineCharacters = 0;
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead == 0)
            Finding("a NUL in the message");
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || at + length > text.size())
            Finding("the message is not UTF-8");
        for (size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
                Finding("the message is not UTF-8");
        lineCharacters = lead == '\n' ? 0 : lineCharacters + 1;
        if (lineCharacters > 100 + ShownValueMaxCharacters)
            Finding("a line of the message longer than its label and 500 characters");
        at += length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The decoder on the input itself, so that a read past its end shows; an
    // input of odd length stands for the head of a longer file.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TFakeFiles files;
    (void)ParseSetupSummary(
        DecodeSummaryText(bytes, size % 2 == 1, [&files](std::string_view b) { return files.AnsiToUtf8(b); }));

    // The input as this run's summary, written while setup ran.
    const TRunFolderSnapshot before = SnapshotRunFolders(files);
    const TFileTime start = files.Clock;
    files.AddFile(Summary, std::string(bytes), start + FileTimeSecond);
    const TSummarySearch search = FindSetupSummary(files, before, start, start + FakeMinute);
    if (files.LargestRead > SummaryMaxBytes)
        Finding("asked for more than 1 MiB");
    if (!search.Summary || !search.SummaryRead)
        Finding("the run's summary was not found");
    const uint32_t exitCode = size >= 4 ? uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                                              uint32_t(data[3]) << 24
                                        : 1;
    CheckShown(SetupOutcomeMessage(exitCode, search, "C:\\Temp\\Kantrel\\Kantrel_20240506_120100.log").Text);

    TKantrelLog log(files);
    log.Open();
    LogSetupOutcome(log, exitCode, search, Password);
    if (files.Text(log.Path()).find(Password) != std::string::npos)
        Finding("the password in the log");
    return 0;
}
