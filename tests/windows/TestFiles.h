#pragma once
// Files for the Windows tests: paths of built programs, temporary folders
// and files, UTF-8 at the test's edge.

#include <filesystem>
#include <string>
#include <string_view>

#include "win/WinText.h"

// The Windows path of a file of the build tree, given its path on the build
// host (Wine maps the host's root to Z:).
std::filesystem::path BuildFile(const char* hostPath);

// A fresh folder under %TEMP%, removed with everything in it when it goes.
class TTempFolder {
public:
    explicit TTempFolder(const std::wstring& name);
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    const std::filesystem::path& Path() const { return Path_; }

private:
    std::filesystem::path Path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// Sets (or with an empty value removes) a variable of this process's
// environment, which the programs it starts inherit.
void SetTestEnvironment(const wchar_t* name, const std::wstring& value);
