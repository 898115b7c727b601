// libFuzzer target: arbitrary bytes as the summary of a setup run, found,
// read, decoded and parsed as after a real run, then turned into the message
// box's text and the log's lines. Besides crashes and sanitizer reports, a
// finding is: a read of more than the 1 MiB the reader may take, a message
// that is not well-formed UTF-8 or holds a NUL (which would end the box's
// text there), a line of it longer than a label and 500 characters, or the
// password in the log.

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

const std::string Folder = "C:\\Program Files\\Microsoft SQL Server\\120\\Setup Bootstrap\\Log\\20240506_120003";
const std::string SummaryName = "Summary_PC_20240506_120003.txt";
const std::string Password = "Zq#9\xC4\x85";
constexpr TFileTime Start = 133'593'840'000'000'000;  // 2024-05-06 10:00 UTC

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "summary fuzzer: %s\n", what);
    std::abort();
}

// One run folder holding the input as its summary, and a log kept in memory.
// An input of odd length stands for the head of a longer file.
class TOneSummary : public TLauncherFiles {
public:
    TOneSummary(const uint8_t* data, size_t size) : Data_(reinterpret_cast<const char*>(data), size) {}
    std::string Log;

    TFileTime Now() override { return Start + 60 * FileTimeSecond; }
    TLocalTime LocalTime(TFileTime) override { return {2024, 5, 6, 12, 1, 0}; }
    std::vector<std::string> ProgramFilesFolders() override { return {"C:\\Program Files"}; }
    std::string TempFolder() override { return "C:\\Temp\\"; }
    std::vector<TFolderEntry> ListFolder(const std::string& path) override {
        if (path == "C:\\Program Files\\Microsoft SQL Server")
            return {{"120", true, Start}};
        if (path == Folder.substr(0, Folder.rfind('\\')))
            return {{Folder.substr(Folder.rfind('\\') + 1), true, Start + FileTimeSecond}};
        if (path == Folder)
            return {{SummaryName, false, Start + FileTimeSecond}};
        return {};
    }
    std::optional<TFileHead> ReadFileHead(const std::string& path, size_t maxBytes) override {
        if (maxBytes > SummaryMaxBytes)
            Finding("asked for more than 1 MiB");
        if (path != Folder + "\\" + SummaryName)
            Finding("read a file that is not the run's summary");
        return TFileHead{std::string(Data_.substr(0, maxBytes)), Data_.size() > maxBytes || Data_.size() % 2 == 1};
    }
    bool CreateFolder(const std::string&) override { return true; }
    std::unique_ptr<TAppendFile> CreateNewFile(const std::string&, TCreateResult& result) override {
        result = crCreated;
        return std::make_unique<TMemoryFile>(Log);
    }
    // Windows-1252 would do as well: any byte to some character.
    std::string AnsiToUtf8(std::string_view bytes) override {
        std::string text;
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x80) {
                text += c;
            } else {
                text += static_cast<char>(0xC0 | (b >> 6));
                text += static_cast<char>(0x80 | (b & 0x3F));
            }
        }
        return text;
    }

private:
    class TMemoryFile : public TAppendFile {
    public:
        explicit TMemoryFile(std::string& text) : Text_(text) {}
        bool Append(std::string_view bytes) override {
            Text_ += bytes;
            return true;
        }

    private:
        std::string& Text_;
    };
    std::string_view Data_;
};

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
    // The decoder and parser on the input itself, so that a read past its end shows.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TOneSummary files(data, size);
    const std::string text =
        DecodeSummaryText(bytes, size % 2 == 1, [&files](std::string_view b) { return files.AnsiToUtf8(b); });
    (void)ParseSetupSummary(text);

    const TSummarySearch search = FindSetupSummary(files, {}, Start, Start + 60 * FileTimeSecond);
    if (!search.Summary || !search.SummaryRead)
        Finding("the run's summary was not found");
    const uint32_t exitCode = size >= 4 ? uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                                              uint32_t(data[3]) << 24
                                        : 1;
    CheckShown(SetupOutcomeMessage(exitCode, search, "C:\\Temp\\Kantrel\\Kantrel_20240506_120100.log").Text);

    TKantrelLog log(files);
    log.Open();
    LogSetupOutcome(log, exitCode, search, Password);
    if (files.Log.find(Password) != std::string::npos)
        Finding("the password in the log");
    return 0;
}
