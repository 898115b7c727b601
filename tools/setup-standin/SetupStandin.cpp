// setup-standin: a STAND-IN for the SQL Server Express setup program, for
// demonstrations and tests only. It installs nothing.
//
// Copied beside kantrel.exe as SQLEXPR_x86_ENU.exe, it lets Kantrel's
// installation sequence run for real: it records how it was started, stays
// running for a while and ends with a chosen exit code.
//
//   KANTREL_STANDIN_RECORD        record file (default: setup-record.txt
//                                 beside this program); overwritten on each start
//   KANTREL_STANDIN_WAIT_MS       time to stay running, in ms (default 3000)
//   KANTREL_STANDIN_EXIT_CODE     exit code (default 0)
//   KANTREL_STANDIN_CLOSE_STARTER 1: just before ending, post WM_CLOSE to the
//                                 visible "Kantrel" windows of the process
//                                 that started it (a close in the last moment
//                                 of the wait)
//   KANTREL_STANDIN_SUMMARY       a UTF-8 text file: write it as setup writes
//                                 its summary (see StandinSummary.h); "{RUN}"
//                                 in it stands for the run folder, "{STAMP}"
//                                 for its name
//   KANTREL_STANDIN_SUMMARY_VERSION  the version folder (default 120)
//   KANTREL_STANDIN_SUMMARY_ENCODING utf-16le (default, with a byte-order
//                                 mark, as setup writes), utf-8 or utf-8-bom
//
// Numbers are decimal or 0x hexadecimal, nothing else (a leading zero does
// not make octal); the exit code may be negative (-1 is 0xFFFFFFFF). A value
// that is not such a number is reported in the record file, in place of the
// record, and the stand-in ends at once with exit code 2.
//
// The record is UTF-8 without a byte-order mark, three lines ending in LF:
// the command line exactly as GetCommandLineW gives it; the current directory
// with a trailing backslash (Windows reports it without one except in a root,
// however it was passed); and how it was started, e.g.
// "startup-flags=0x00000001 show=1 console=own priority=0x00000020": the
// start-up information's flags and show mode, whether it has a console that
// no other process shares ("own"), shares one ("shared") or has none
// ("none"), and its priority class. With a summary, a fourth line names it:
// "summary=" and its full path.
//
// A console program like setup itself, so that it sees the console it was
// given; like setup with /HIDECONSOLE, it hides that console's window.

#include "StandinFiles.h"
#include "StandinSummary.h"
#include "win/WinText.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace {

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

std::string StartupLine() {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const char* console = "none";
    if (GetConsoleWindow()) {
        DWORD processes[2];
        console = GetConsoleProcessList(processes, 2) == 1 ? "own" : "shared";
    }
    char line[160];
    std::snprintf(line, sizeof(line), "startup-flags=0x%08lX show=%u console=%s priority=0x%08lX",
                  static_cast<unsigned long>(startup.dwFlags), static_cast<unsigned>(startup.wShowWindow), console,
                  static_cast<unsigned long>(GetPriorityClass(GetCurrentProcess())));
    return line;
}

// Decimal digits, or hexadecimal ones after "0x"; with a minus in front when
// negative values are allowed. Anything else, or a value outside
// [minimum, maximum], is no number.
std::optional<int64_t> Number(const std::wstring& text, int64_t minimum, int64_t maximum) {
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == L'-';
    at += negative;
    int base = 10;
    if (text.compare(at, 2, L"0x") == 0 || text.compare(at, 2, L"0X") == 0) {
        base = 16;
        at += 2;
    }
    if (at == text.size())
        return std::nullopt;
    const int64_t limit = negative ? -minimum : maximum;
    int64_t value = 0;
    for (; at < text.size(); ++at) {
        const wchar_t c = text[at];
        int digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else
            return std::nullopt;
        if (value > (limit - digit) / base)
            return std::nullopt;
        value = value * base + digit;
    }
    if (negative)
        value = -value;
    if (value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

// The environment variable as a number, its default when unset; a report for
// the record file when it is set to something else.
std::optional<int64_t> Setting(const wchar_t* name, int64_t fallback, int64_t minimum, int64_t maximum,
                               std::string& report) {
    const std::wstring text = Environment(name);
    if (text.empty())
        return fallback;
    std::optional<int64_t> value = Number(text, minimum, maximum);
    if (!value)
        report += "setup-standin: " + WideToUtf8(name) + "=\"" + WideToUtf8(text) +
                  "\" is not a decimal or 0x-hexadecimal number from " + std::to_string(minimum) + " to " +
                  std::to_string(maximum) + "\n";
    return value;
}

BOOL CALLBACK CloseKantrelWindow(HWND window, LPARAM starter) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t caption[16];
    if (pid == static_cast<DWORD>(starter) && IsWindowVisible(window) && GetWindowTextW(window, caption, 16) == 7 &&
        std::wstring(caption) == L"Kantrel")
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

void CloseStarter() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    DWORD starter = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            starter = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    if (starter)
        EnumWindows(CloseKantrelWindow, static_cast<LPARAM>(starter));
}

}  // namespace

int wmain() {
    std::wstring recordPath = Environment(L"KANTREL_STANDIN_RECORD");
    if (recordPath.empty())
        recordPath = DefaultRecordPath();
    const std::string startup = StartupLine();
    if (std::wstring(GetCommandLineW()).find(L"/HIDECONSOLE") != std::wstring::npos && GetConsoleWindow())
        ShowWindow(GetConsoleWindow(), SW_HIDE);

    std::string report;
    const auto waitMs = Setting(L"KANTREL_STANDIN_WAIT_MS", 3000, 0, INT32_MAX, report);
    const auto exitCode = Setting(L"KANTREL_STANDIN_EXIT_CODE", 0, INT32_MIN, UINT32_MAX, report);
    TStandinSummary summary;
    const std::wstring summaryTemplate = Environment(L"KANTREL_STANDIN_SUMMARY");
    std::string summaryError;
    if (report.empty() && !summaryTemplate.empty() &&
        !summary.Begin(summaryTemplate, Environment(L"KANTREL_STANDIN_SUMMARY_VERSION"),
                       Environment(L"KANTREL_STANDIN_SUMMARY_ENCODING"), summaryError))
        report = "setup-standin: " + summaryError + "\n";
    if (!report.empty()) {
        WriteWholeFile(recordPath, report);
        return 2;
    }
    std::string record =
        WideToUtf8(GetCommandLineW()) + "\n" + WideToUtf8(CurrentDirectory()) + "\n" + startup + "\n";
    if (!summaryTemplate.empty())
        record += "summary=" + WideToUtf8(summary.Path()) + "\n";
    if (!WriteWholeFile(recordPath, record))
        return 2;  // a broken test set-up, not a setup result
    Sleep(static_cast<DWORD>(*waitMs));
    if (!summaryTemplate.empty() && !summary.Finish(summaryError)) {
        WriteWholeFile(recordPath, "setup-standin: " + summaryError + "\n");
        return 2;
    }
    if (Environment(L"KANTREL_STANDIN_CLOSE_STARTER") == L"1")
        CloseStarter();
    // Negative codes wrap to their 32-bit form, as Windows stores them.
    return static_cast<int>(static_cast<uint32_t>(*exitCode & 0xFFFFFFFF));
}
