// setup-standin: a STAND-IN for the SQL Server Express setup program, for
// demonstrations and tests only. It installs nothing.
//
// Copied beside kantrel.exe as SQLEXPR_x86_ENU.exe, it lets Kantrel's
// installation sequence run for real: it records how it was started, stays
// running for a while and ends with a chosen exit code.
//
//   KANTREL_STANDIN_RECORD     record file (default: setup-record.txt beside
//                              this program); overwritten on each start
//   KANTREL_STANDIN_WAIT_MS    time to stay running, in ms (default 3000)
//   KANTREL_STANDIN_EXIT_CODE  exit code, decimal or 0x hex (default 0)
//
// The record is UTF-8 without a byte-order mark, two lines ending in LF: the
// command line exactly as GetCommandLineW gives it, and the current directory
// with a trailing backslash (Windows reports it without one except in a root,
// however it was passed).
//
// A GUI-subsystem program without windows, so that CREATE_NEW_CONSOLE opens no
// console window in front of the splash.

#include "ui/WinText.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    return n > 0 && n < 32768 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring DefaultRecordPath() {
    wchar_t self[32768];
    const DWORD n = GetModuleFileNameW(nullptr, self, 32768);
    std::wstring path(self, n);
    const size_t slash = path.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"setup-record.txt";
}

std::wstring CurrentDirectory() {
    wchar_t buffer[32768];
    const DWORD n = GetCurrentDirectoryW(32768, buffer);
    std::wstring dir(buffer, n < 32768 ? n : 0);
    if (dir.empty() || dir.back() != L'\\')
        dir += L'\\';
    return dir;
}

bool WriteRecord(const std::wstring& path, const std::string& record) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == record.size();
}

unsigned long Number(const std::wstring& text, unsigned long fallback) {
    if (text.empty())
        return fallback;
    // Signed codes such as -1 wrap to their 32-bit form, as Windows stores them.
    const wchar_t* start = text.c_str();
    wchar_t* end = nullptr;
    const long long value = std::wcstoll(start, &end, 0);
    return end != start ? static_cast<unsigned long>(value & 0xFFFFFFFFll) : fallback;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring recordPath = Environment(L"KANTREL_STANDIN_RECORD");
    if (recordPath.empty())
        recordPath = DefaultRecordPath();
    const std::string record = WideToUtf8(GetCommandLineW()) + "\n" + WideToUtf8(CurrentDirectory()) + "\n";
    if (!WriteRecord(recordPath, record))
        return 2;  // a broken test set-up, not a setup result
    Sleep(static_cast<DWORD>(Number(Environment(L"KANTREL_STANDIN_WAIT_MS"), 3000)));
    return static_cast<int>(Number(Environment(L"KANTREL_STANDIN_EXIT_CODE"), 0));
}
