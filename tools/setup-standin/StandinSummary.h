#pragma once
// The summary the stand-in writes as SQL Server setup does: in the run
// folder %ProgramFiles%\Microsoft SQL Server\<version>\Setup Bootstrap\Log
// \<stamp> (the run's local start time), Summary_<machine>_<stamp>.txt, and a
// copy as the last run's Summary.txt in the Log folder.

#include <string>

class TStandinSummary {
public:
    // Reads the template (UTF-8; "{RUN}" stands for the run folder, "{STAMP}"
    // for its name) and makes the run folder, as setup does when it starts:
    // never one that is there already (it waits for the next second).
    // False with the reason in `error`.
    bool Begin(const std::wstring& templatePath, const std::wstring& version, const std::wstring& encoding,
               std::string& error);
    // Writes the summary and its root copy, as setup does when it ends.
    bool Finish(std::string& error);
    // The summary's full path.
    const std::wstring& Path() const { return Path_; }

private:
    std::string Text_;
    std::wstring Encoding_;
    std::wstring Path_;
    std::wstring RootCopy_;
};
