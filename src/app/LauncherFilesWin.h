#pragma once
// The Win32 side of the files the launcher reads and writes: the clock, the
// known folders, FindFirstFileW listings, file heads, new files and the
// ANSI code page.

#include "app/LauncherFiles.h"

class TWin32LauncherFiles : public TLauncherFiles {
public:
    TFileTime Now() override;
    TLocalTime LocalTime(TFileTime time) override;
    // The 64-bit Program Files from ProgramW6432 or the known folder, then
    // the process's own and the 32-bit one: on 64-bit Windows a 32-bit
    // process is given Program Files (x86) as its own.
    std::vector<std::string> ProgramFilesFolders() override;
    std::string TempFolder() override;
    std::vector<TFolderEntry> ListFolder(const std::string& path) override;
    std::optional<TFileHead> ReadFileHead(const std::string& path, size_t maxBytes) override;
    bool CreateFolder(const std::string& path) override;
    // Shared for reading, so that the log can be read while it is written.
    std::unique_ptr<TAppendFile> CreateNewFile(const std::string& path, TCreateResult& result) override;
    std::string AnsiToUtf8(std::string_view bytes) override;
};
