#pragma once
// What reading setup's summary and writing Kantrel's own log need of the
// system: the clock, the Program Files and temporary folders, folder
// listings, the start of a file, new files to append to, and the ANSI code
// page. The logic above it is portable; the Win32 calls sit behind it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A moment as Windows keeps file times: 100 ns units since 1601, UTC.
using TFileTime = int64_t;
inline constexpr TFileTime FileTimeSecond = 10'000'000;

struct TLocalTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

struct TFolderEntry {
    std::string Name;
    bool IsFolder = false;
    TFileTime WriteTime = 0;
};

// The start of a file, as far as it was read.
struct TFileHead {
    std::string Bytes;
    bool Truncated = false;  // the file goes on beyond Bytes
};

// A file being written; closed when it goes.
class TAppendFile {
public:
    virtual ~TAppendFile() = default;
    // False when not all of it could be written.
    virtual bool Append(std::string_view bytes) = 0;
};

enum TCreateResult {
    crCreated,
    crExists,  // the name is taken: nothing was opened
    crFailed,
};

class TLauncherFiles {
public:
    virtual ~TLauncherFiles() = default;
    virtual TFileTime Now() = 0;
    virtual TLocalTime LocalTime(TFileTime time) = 0;
    // The Program Files folders of this Windows (the 64-bit one first), each
    // once, whatever the bitness of the process asking.
    virtual std::vector<std::string> ProgramFilesFolders() = 0;
    // The user's temporary folder with its trailing backslash; empty when unknown.
    virtual std::string TempFolder() = 0;
    // The entries of a folder, without "." and ".."; none when it is missing
    // or cannot be read.
    virtual std::vector<TFolderEntry> ListFolder(const std::string& path) = 0;
    // At most maxBytes from the file's start; nothing when it cannot be read.
    virtual std::optional<TFileHead> ReadFileHead(const std::string& path, size_t maxBytes) = 0;
    // True when the folder exists afterwards; its parent must exist.
    virtual bool CreateFolder(const std::string& path) = 0;
    // A new file, never one that exists: then null and crExists.
    virtual std::unique_ptr<TAppendFile> CreateNewFile(const std::string& path, TCreateResult& result) = 0;
    // Text in the system's ANSI code page, as UTF-8.
    virtual std::string AnsiToUtf8(std::string_view bytes) = 0;
};

// "YYYYMMDD_hhmmss", as setup names its run folders and Kantrel its log.
std::string TimeStampName(const TLocalTime& time);
// "YYYY-MM-DD hh:mm:ss".
std::string TimeText(const TLocalTime& time);
