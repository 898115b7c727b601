#pragma once
// The instance SQLVORNA recorded in this Wine prefix as an installation of
// SQL Server records it, for the tests of the check that Kantrel makes before
// it starts setup.

#include <windows.h>

#include <filesystem>
#include <vector>

// Writes the value SQLVORNA under HKLM\SOFTWARE\Microsoft\Microsoft SQL
// Server\Instance Names\SQL in one view of the registry (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY); removes it when it goes, with the keys it leaves empty.
class TRecordedInstance {
public:
    explicit TRecordedInstance(REGSAM view);
    ~TRecordedInstance();
    TRecordedInstance(const TRecordedInstance&) = delete;
    TRecordedInstance& operator=(const TRecordedInstance&) = delete;

private:
    REGSAM View_;
};

// The instance's service MSSQL$SQLVORNA, installed (never started) while it lives.
class TInstanceService {
public:
    TInstanceService();
    ~TInstanceService();
    TInstanceService(const TInstanceService&) = delete;
    TInstanceService& operator=(const TInstanceService&) = delete;
};

// Removes the record from both views and the service. The prefix outlives a
// test run, so a test that was ended half-way must not leave every later run
// an instance.
void ForgetRecordedInstance();

// The Program Files folders of this Wine prefix, the 64-bit one first.
std::vector<std::filesystem::path> ProgramFilesFolders();
// Removes what setup (or the stand-in) logged: Microsoft SQL Server under
// every Program Files folder. No SQL Server is installed in the prefix.
void ForgetSetupLogs();
