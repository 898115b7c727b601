#pragma once
// An in-memory file system and clock behind TLauncherFiles. Paths use
// backslashes; the test sets every time; local time is UTC+2, so a UTC time
// taken for a local one shows.

#include "app/LauncherFiles.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

inline constexpr TFileTime FakeMinute = 60 * FileTimeSecond;

inline long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// Days from 1601-01-01, where file times begin, to 1970-01-01.
inline constexpr long long FileTimeEpochDays = 134774;

// The file time of a moment given in the fake's local time.
inline TFileTime FakeLocal(int year, int month, int day, int hour, int minute, int second) {
    const long long days = DaysFromCivil(year, month, day) + FileTimeEpochDays;
    return (days * 86400 + hour * 3600 + minute * 60 + second - 2 * 3600) * FileTimeSecond;
}

class TFakeFiles : public TLauncherFiles {
public:
    struct TNode {
        bool Folder = false;
        TFileTime Time = 0;
        std::string Bytes;
        bool Unreadable = false;
    };
    std::map<std::string, TNode> Nodes;
    TFileTime Clock = FakeLocal(2024, 5, 6, 12, 0, 0);
    std::vector<std::string> ProgramFiles{"C:\\Program Files", "C:\\Program Files (x86)"};
    std::string Temp = "C:\\Temp\\";
    bool DiskFull = false;
    size_t LargestRead = 0;
    int AnsiCalls = 0;

    TFakeFiles() { AddFolder("C:\\Temp", 0); }

    void AddFolder(const std::string& path, TFileTime time) {
        const size_t slash = path.rfind('\\');
        if (slash != std::string::npos && slash > 2 && !Nodes.count(path.substr(0, slash)))
            AddFolder(path.substr(0, slash), time);
        Nodes[path].Folder = true;
        Nodes[path].Time = time;
    }
    void AddFile(const std::string& path, const std::string& bytes, TFileTime time) {
        const std::string parent = path.substr(0, path.rfind('\\'));
        if (!Nodes.count(parent))
            AddFolder(parent, time);
        Nodes[path] = {false, time, bytes, false};
    }
    std::string Text(const std::string& path) const {
        const auto found = Nodes.find(path);
        return found == Nodes.end() ? std::string() : found->second.Bytes;
    }

    TFileTime Now() override { return Clock; }
    TLocalTime LocalTime(TFileTime time) override {
        const long long seconds = time / FileTimeSecond + 2 * 3600;
        long long z = seconds / 86400 - FileTimeEpochDays + 719468;
        const long long rest = seconds % 86400;
        const long long era = (z >= 0 ? z : z - 146096) / 146097;
        const unsigned doe = static_cast<unsigned>(z - era * 146097);
        const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const unsigned mp = (5 * doy + 2) / 153;
        const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        const int year = static_cast<int>(yoe + era * 400 + (month <= 2));
        return {year, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60)};
    }
    std::vector<std::string> ProgramFilesFolders() override { return ProgramFiles; }
    std::string TempFolder() override { return Temp; }
    std::vector<TFolderEntry> ListFolder(const std::string& path) override {
        std::vector<TFolderEntry> entries;
        const std::string prefix = path + "\\";
        for (auto it = Nodes.lower_bound(prefix); it != Nodes.end() && it->first.rfind(prefix, 0) == 0; ++it)
            if (it->first.find('\\', prefix.size()) == std::string::npos)
                entries.push_back({it->first.substr(prefix.size()), it->second.Folder, it->second.Time});
        return entries;
    }
    std::optional<TFileHead> ReadFileHead(const std::string& path, size_t maxBytes) override {
        LargestRead = std::max(LargestRead, maxBytes);
        const auto found = Nodes.find(path);
        if (found == Nodes.end() || found->second.Folder || found->second.Unreadable)
            return std::nullopt;
        return TFileHead{found->second.Bytes.substr(0, maxBytes), found->second.Bytes.size() > maxBytes};
    }
    bool CreateFolder(const std::string& path) override {
        if (!Nodes.count(path.substr(0, path.rfind('\\'))))
            return false;
        if (!Nodes.count(path))
            AddFolder(path, Clock);
        return Nodes[path].Folder;
    }
    std::unique_ptr<TAppendFile> CreateNewFile(const std::string& path, TCreateResult& result) override {
        if (Nodes.count(path)) {
            result = crExists;
            return nullptr;
        }
        if (!Nodes.count(path.substr(0, path.rfind('\\')))) {
            result = crFailed;
            return nullptr;
        }
        AddFile(path, "", Clock);
        result = crCreated;
        return std::make_unique<TFakeAppend>(*this, path);
    }
    // Bytes from 0x80 on as Latin-1, enough to tell that this way was taken.
    std::string AnsiToUtf8(std::string_view bytes) override {
        ++AnsiCalls;
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
    class TFakeAppend : public TAppendFile {
    public:
        TFakeAppend(TFakeFiles& owner, std::string path) : Owner_(owner), Path_(std::move(path)) {}
        bool Append(std::string_view bytes) override {
            if (Owner_.DiskFull)
                return false;
            Owner_.Nodes[Path_].Bytes += bytes;
            return true;
        }

    private:
        TFakeFiles& Owner_;
        std::string Path_;
    };
};
