#pragma once
// Finding the summary of the setup run that Kantrel started. Setup writes
// <Program Files>\Microsoft SQL Server\<nnn>\Setup Bootstrap\Log\Summary.txt
// (the last run's summary) and, for every run, a folder named after its
// local start time, YYYYMMDD_hhmmss, holding Summary_<machine>_<stamp>.txt
// and sometimes phase files (Summary_<machine>_<stamp>_ComponentUpdate.txt).
// A 32-bit setup on 64-bit Windows writes under Program Files (x86), so every
// numeric version folder under both Program Files folders is looked at.

#include "app/LauncherFiles.h"
#include "app/SetupSummary.h"

#include <optional>
#include <string>
#include <vector>

// How long before Kantrel's start a run folder may have been written and
// still count, and how long after setup's end.
inline constexpr TFileTime SummaryTimeTolerance = 120 * FileTimeSecond;

struct TSummaryFile {
    std::string Path;
    TFileTime WriteTime = 0;
};

// The run folders there were before setup started, with their write times.
struct TRunFolderSnapshot {
    std::vector<TSummaryFile> Folders;
};

struct TSummarySearch {
    // "<Program Files>\Microsoft SQL Server\*\Setup Bootstrap\Log", one per
    // Program Files folder.
    std::vector<std::string> FoldersSearched;
    // "<temporary folder>sqlsetup*.log", where unattended runs also log.
    std::string SqlSetupLogs;
    // This run's folder, when one was found (with or without a summary).
    std::string RunFolder;
    // This run's summary; absent when none was found.
    std::optional<TSummaryFile> Summary;
    bool SummaryRead = false;  // its start could be read
    TSetupSummary Fields;
    // Without a summary of this run: the latest summary of an earlier run,
    // and when it was written, in local time.
    std::optional<TSummaryFile> Earlier;
    TLocalTime EarlierWritten;
};

TRunFolderSnapshot SnapshotRunFolders(TLauncherFiles& files);

// This run's summary: among the run folders that are new or changed since
// the snapshot and were written between two minutes before `start` and two
// minutes after `end`, the greatest name; in it the Summary_*.txt without a
// phase suffix, else the newest Summary_*.txt. Without one, the newest root
// Summary.txt written from `start` on. An earlier run's summary is never
// taken for this run's. The summary found is read (at most SummaryMaxBytes),
// decoded and parsed.
TSummarySearch FindSetupSummary(TLauncherFiles& files, const TRunFolderSnapshot& before, TFileTime start,
                                TFileTime end);
