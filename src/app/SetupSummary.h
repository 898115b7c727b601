#pragma once
// Setup's summary file (Summary_<machine>_<stamp>.txt): its text decoded,
// and the fields Kantrel reports taken from it. Never fails on what a file
// holds: text that cannot be decoded gives no fields.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The most of a summary that is read; the fields that matter come first.
inline constexpr size_t SummaryMaxBytes = size_t(1) << 20;

struct TSummaryFeature {
    std::string Feature;
    std::string Status;
    std::string ReasonForFailure;
    std::string ComponentErrorCode;
    std::string ErrorDescription;
};

struct TSetupSummary {
    // "Overall summary"; empty when missing.
    std::string FinalResult;
    std::string ExitCode;  // "Exit code (Decimal)"
    std::string ExitFacilityCode;
    std::string ExitErrorCode;
    std::string ExitMessage;
    std::string StartTime;
    std::string EndTime;
    std::string RequestedAction;
    std::string LogWithFailure;
    // "Detailed results": the first feature whose status is not a pass.
    std::optional<TSummaryFeature> FailedFeature;
};

// Converts the ANSI code page's text to UTF-8.
using TAnsiDecoder = std::function<std::string(std::string_view)>;

// UTF-8 text of the file's bytes: by byte-order mark (UTF-8, UTF-16 LE or
// BE), else as UTF-8 when it strictly is, else through the ANSI code page.
// `truncated`: the bytes are the head of a longer file, so a character cut
// at their end is no sign of another encoding. Undecodable units become
// U+FFFD.
std::string DecodeSummaryText(std::string_view bytes, bool truncated, const TAnsiDecoder& ansi);

// Labelled lines: a label, a colon, the value (which may hold colons),
// padding trimmed. A field that is missing stays empty; the first value
// given for each counts. Control characters in values become spaces.
TSetupSummary ParseSetupSummary(std::string_view text);

// What setup's final result says.
enum TSummaryVerdict {
    svUnknown,  // no final result
    svPassed,
    svPassedRebootRequired,
    svFailed,  // anything else
};
TSummaryVerdict SummaryVerdict(const TSetupSummary& summary);

// The value as "Exit code (Decimal)" gives it, when it is a 32-bit number.
std::optional<uint32_t> SummaryExitCode(const TSetupSummary& summary);

// At most maxCharacters characters of UTF-8 text, never a character cut,
// followed by "…" when something was cut off.
std::string CutText(const std::string& text, size_t maxCharacters);
