#include "app/SummarySearch.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr const char* SqlServerFolder = "Microsoft SQL Server";
constexpr const char* LogFolderTail = "Setup Bootstrap\\Log";
// Earlier run folders looked into for a summary, newest first.
constexpr size_t EarlierFoldersTried = 16;

std::string Join(const std::string& folder, std::string_view name) {
    if (folder.empty() || folder.back() == '\\')
        return folder + std::string(name);
    return folder + "\\" + std::string(name);
}

bool IsDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsRunFolderName(std::string_view name) {
    return name.size() == 15 && name[8] == '_' && IsDigits(name.substr(0, 8)) && IsDigits(name.substr(9));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool IsSummaryName(std::string_view name) {
    return name.size() > 12 && SameIgnoringCase(name.substr(0, 8), "Summary_") &&
           SameIgnoringCase(name.substr(name.size() - 4), ".txt");
}

// Summary_<machine>_<YYYYMMDD>_<hhmmss>.txt, with no phase after the stamp.
bool IsRunSummaryName(std::string_view name) {
    const std::string_view stem = name.substr(0, name.size() - 4);
    return stem.size() >= 8 + 16 && stem[stem.size() - 16] == '_' && IsRunFolderName(stem.substr(stem.size() - 15));
}

struct TListing {
    std::string Folder;
    std::vector<TFolderEntry> Entries;
};

struct TRunFolder {
    std::string Path;
    std::string Name;
    TFileTime WriteTime = 0;
};

// Every <Program Files>\Microsoft SQL Server\<nnn>\Setup Bootstrap\Log, listed.
std::vector<TListing> LogFolders(TLauncherFiles& files) {
    std::vector<TListing> listings;
    for (const std::string& programFiles : files.ProgramFilesFolders()) {
        const std::string root = Join(programFiles, SqlServerFolder);
        for (const TFolderEntry& version : files.ListFolder(root)) {
            if (!version.IsFolder || !IsDigits(version.Name))
                continue;
            TListing listing{Join(Join(root, version.Name), LogFolderTail), {}};
            listing.Entries = files.ListFolder(listing.Folder);
            listings.push_back(std::move(listing));
        }
    }
    return listings;
}

std::vector<TRunFolder> RunFolders(const std::vector<TListing>& logFolders) {
    std::vector<TRunFolder> runs;
    for (const TListing& listing : logFolders)
        for (const TFolderEntry& entry : listing.Entries)
            if (entry.IsFolder && IsRunFolderName(entry.Name))
                runs.push_back({Join(listing.Folder, entry.Name), entry.Name, entry.WriteTime});
    // Newest name first; between equal names, the one written last.
    std::sort(runs.begin(), runs.end(), [](const TRunFolder& a, const TRunFolder& b) {
        return a.Name != b.Name ? a.Name > b.Name : a.WriteTime > b.WriteTime;
    });
    return runs;
}

bool Newer(const TFolderEntry& a, const TFolderEntry& b) {
    return a.WriteTime != b.WriteTime ? a.WriteTime > b.WriteTime : a.Name > b.Name;
}

std::optional<TSummaryFile> SummaryInRunFolder(TLauncherFiles& files, const std::string& folder) {
    const TFolderEntry* run = nullptr;
    const TFolderEntry* any = nullptr;
    const std::vector<TFolderEntry> entries = files.ListFolder(folder);
    for (const TFolderEntry& entry : entries) {
        if (entry.IsFolder || !IsSummaryName(entry.Name))
            continue;
        if (!any || Newer(entry, *any))
            any = &entry;
        if (IsRunSummaryName(entry.Name) && (!run || Newer(entry, *run)))
            run = &entry;
    }
    const TFolderEntry* chosen = run ? run : any;
    if (!chosen)
        return std::nullopt;
    return TSummaryFile{Join(folder, chosen->Name), chosen->WriteTime};
}

// The newest root Summary.txt written within [from, to].
std::optional<TSummaryFile> RootSummary(const std::vector<TListing>& logFolders, TFileTime from, TFileTime to) {
    std::optional<TSummaryFile> newest;
    for (const TListing& listing : logFolders)
        for (const TFolderEntry& entry : listing.Entries)
            if (!entry.IsFolder && SameIgnoringCase(entry.Name, "Summary.txt") && entry.WriteTime >= from &&
                entry.WriteTime <= to && (!newest || entry.WriteTime > newest->WriteTime))
                newest = TSummaryFile{Join(listing.Folder, entry.Name), entry.WriteTime};
    return newest;
}

void ReadSummary(TLauncherFiles& files, TSummarySearch& search) {
    const std::optional<TFileHead> head = files.ReadFileHead(search.Summary->Path, SummaryMaxBytes);
    if (!head)
        return;
    search.SummaryRead = true;
    const std::string text = DecodeSummaryText(head->Bytes, head->Truncated,
                                               [&files](std::string_view bytes) { return files.AnsiToUtf8(bytes); });
    search.Fields = ParseSetupSummary(text);
}

}  // namespace

TRunFolderSnapshot SnapshotRunFolders(TLauncherFiles& files) {
    TRunFolderSnapshot snapshot;
    for (const TRunFolder& run : RunFolders(LogFolders(files)))
        snapshot.Folders.push_back({run.Path, run.WriteTime});
    return snapshot;
}

TSummarySearch FindSetupSummary(TLauncherFiles& files, const TRunFolderSnapshot& before, TFileTime start,
                                TFileTime end) {
    TSummarySearch search;
    for (const std::string& programFiles : files.ProgramFilesFolders())
        search.FoldersSearched.push_back(Join(Join(Join(programFiles, SqlServerFolder), "*"), LogFolderTail));
    const std::string temp = files.TempFolder();
    if (!temp.empty())
        search.SqlSetupLogs = Join(temp, "sqlsetup*.log");

    const std::vector<TListing> logFolders = LogFolders(files);
    const std::vector<TRunFolder> runs = RunFolders(logFolders);
    // A folder that was there, unchanged, before setup started is an earlier
    // run's, however recently it was written; names order the rest, times
    // keep out folders of a clock set wrong.
    const auto thisRun = [&](const TRunFolder& run) {
        const bool unchanged = std::any_of(before.Folders.begin(), before.Folders.end(), [&](const TSummaryFile& f) {
            return f.Path == run.Path && f.WriteTime == run.WriteTime;
        });
        return !unchanged && run.WriteTime >= start - SummaryTimeTolerance && run.WriteTime <= end + SummaryTimeTolerance;
    };
    const auto chosen = std::find_if(runs.begin(), runs.end(), thisRun);
    if (chosen != runs.end()) {
        search.RunFolder = chosen->Path;
        search.Summary = SummaryInRunFolder(files, chosen->Path);
    }
    if (!search.Summary)
        search.Summary = RootSummary(logFolders, start, end + SummaryTimeTolerance);
    if (search.Summary) {
        ReadSummary(files, search);
        return search;
    }

    // The latest earlier attempt, never one dated after this run began.
    const std::string startName = TimeStampName(files.LocalTime(start));
    size_t tried = 0;
    for (const TRunFolder& run : runs) {
        if (thisRun(run) || run.Name > startName)
            continue;
        if (tried++ == EarlierFoldersTried)
            break;
        search.Earlier = SummaryInRunFolder(files, run.Path);
        if (search.Earlier)
            break;
    }
    if (!search.Earlier)
        search.Earlier = RootSummary(logFolders, 0, start - 1);
    if (search.Earlier)
        search.EarlierWritten = files.LocalTime(search.Earlier->WriteTime);
    return search;
}
