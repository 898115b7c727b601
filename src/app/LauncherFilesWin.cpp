#include "app/LauncherFilesWin.h"

#include "win/ScopedWin.h"
#include "win/WinText.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>

namespace {

TFileTime FromFileTime(const FILETIME& time) {
    return static_cast<TFileTime>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

std::string KnownFolder(const KNOWNFOLDERID& id) {
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &path);
    std::string folder = SUCCEEDED(result) && path ? WideToUtf8(path) : std::string();
    // Freed whether or not the call succeeded.
    CoTaskMemFree(path);
    return folder;
}

std::string EnvironmentFolder(const wchar_t* name) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH + 1);
    return n > 0 && n <= MAX_PATH ? WideToUtf8(std::wstring_view(buffer, n)) : std::string();
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    while (text.size() > 3 && text.back() == '\\')
        text.pop_back();
    return text;
}

class TFindHandle {
public:
    explicit TFindHandle(HANDLE handle) : Handle_(handle) {}
    ~TFindHandle() {
        if (Handle_ != INVALID_HANDLE_VALUE)
            FindClose(Handle_);
    }
    TFindHandle(const TFindHandle&) = delete;
    TFindHandle& operator=(const TFindHandle&) = delete;
    HANDLE Get() const { return Handle_; }

private:
    HANDLE Handle_;
};

class TWin32AppendFile : public TAppendFile {
public:
    explicit TWin32AppendFile(HANDLE file) : File_(file) {}
    bool Append(std::string_view bytes) override {
        while (!bytes.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
            DWORD written = 0;
            if (!WriteFile(File_.Get(), bytes.data(), chunk, &written, nullptr) || written == 0)
                return false;
            bytes.remove_prefix(written);
        }
        return true;
    }

private:
    TScopedHandle File_;
};

}  // namespace

TFileTime TWin32LauncherFiles::Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FromFileTime(now);
}

TLocalTime TWin32LauncherFiles::LocalTime(TFileTime time) {
    const FILETIME utc{static_cast<DWORD>(time & 0xFFFFFFFF), static_cast<DWORD>(static_cast<uint64_t>(time) >> 32)};
    SYSTEMTIME universal{}, local{};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return {};
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

std::vector<std::string> TWin32LauncherFiles::ProgramFilesFolders() {
    const std::string candidates[] = {
        EnvironmentFolder(L"ProgramW6432"),
        KnownFolder(FOLDERID_ProgramFilesX64),  // fails in a 32-bit process
        KnownFolder(FOLDERID_ProgramFiles),
        EnvironmentFolder(L"ProgramFiles"),
        KnownFolder(FOLDERID_ProgramFilesX86),
        EnvironmentFolder(L"ProgramFiles(x86)"),
    };
    std::vector<std::string> folders;
    std::vector<std::string> seen;
    for (const std::string& folder : candidates) {
        if (folder.empty() || std::find(seen.begin(), seen.end(), Lowered(folder)) != seen.end())
            continue;
        seen.push_back(Lowered(folder));
        folders.push_back(folder);
    }
    return folders;
}

std::string TWin32LauncherFiles::TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    return n > 0 && n <= MAX_PATH ? WideToUtf8(std::wstring_view(buffer, n)) : std::string();
}

std::vector<TFolderEntry> TWin32LauncherFiles::ListFolder(const std::string& path) {
    std::vector<TFolderEntry> entries;
    WIN32_FIND_DATAW found;
    const TFindHandle find(FindFirstFileW(Utf8ToWide(path + "\\*").c_str(), &found));
    if (find.Get() == INVALID_HANDLE_VALUE)
        return entries;
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..")
            continue;
        entries.push_back({WideToUtf8(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           FromFileTime(found.ftLastWriteTime)});
    } while (FindNextFileW(find.Get(), &found));
    return entries;
}

std::optional<TFileHead> TWin32LauncherFiles::ReadFileHead(const std::string& path, size_t maxBytes) {
    // Setup may still hold its files open.
    TScopedHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (file.Get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.Get(), &size))
        return std::nullopt;
    TFileHead head;
    const uint64_t wanted = std::min<uint64_t>(static_cast<uint64_t>(size.QuadPart), maxBytes);
    head.Bytes.resize(static_cast<size_t>(wanted));
    size_t got = 0;
    while (got < head.Bytes.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(head.Bytes.size() - got, 1u << 20));
        if (!ReadFile(file.Get(), head.Bytes.data() + got, chunk, &n, nullptr))
            return std::nullopt;
        if (n == 0)
            break;
        got += n;
    }
    head.Bytes.resize(got);
    head.Truncated = static_cast<uint64_t>(size.QuadPart) > got;
    return head;
}

bool TWin32LauncherFiles::CreateFolder(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    if (CreateDirectoryW(wide.c_str(), nullptr))
        return true;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<TAppendFile> TWin32LauncherFiles::CreateNewFile(const std::string& path, TCreateResult& result) {
    const HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        result = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? crExists : crFailed;
        return nullptr;
    }
    result = crCreated;
    return std::make_unique<TWin32AppendFile>(file);
}

std::string TWin32LauncherFiles::AnsiToUtf8(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), n);
    return WideToUtf8(wide);
}
