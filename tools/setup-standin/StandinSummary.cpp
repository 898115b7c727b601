#include "StandinSummary.h"

#include "StandinFiles.h"
#include "win/WinText.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// Every missing folder of the path, from the top down.
bool MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
        const std::wstring folder = path.substr(0, at);
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (at == std::wstring::npos)
            return true;
    }
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::wstring Stamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[16];
    std::swprintf(stamp, 16, L"%04u%02u%02u_%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond);
    return stamp;
}

}  // namespace

bool TStandinSummary::Begin(const std::wstring& templatePath, const std::wstring& version,
                            const std::wstring& encoding, std::string& error) {
    std::ifstream in(std::filesystem::path(templatePath), std::ios::binary);
    std::ostringstream text;
    if (in.is_open())
        text << in.rdbuf();
    if (!in.is_open() || in.bad()) {
        error = "cannot read the summary template " + WideToUtf8(templatePath);
        return false;
    }
    Text_ = text.str();
    Encoding_ = encoding.empty() ? L"utf-16le" : encoding;
    if (Encoding_ != L"utf-16le" && Encoding_ != L"utf-8" && Encoding_ != L"utf-8-bom") {
        error = "KANTREL_STANDIN_SUMMARY_ENCODING=\"" + WideToUtf8(encoding) + "\" is not utf-16le, utf-8 or utf-8-bom";
        return false;
    }
    const std::wstring log = Environment(L"ProgramFiles") + L"\\Microsoft SQL Server\\" +
                             (version.empty() ? L"120" : version) + L"\\Setup Bootstrap\\Log";
    std::wstring stamp = Stamp();
    for (int i = 0; i < 30 && GetFileAttributesW((log + L"\\" + stamp).c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(100);
        stamp = Stamp();
    }
    const std::wstring run = log + L"\\" + stamp;
    if (GetFileAttributesW(run.c_str()) != INVALID_FILE_ATTRIBUTES || !MakeFolders(run) ||
        !WriteWholeFile(run + L"\\Detail.txt", "setup-standin: no details\r\n")) {
        error = "cannot make the run folder " + WideToUtf8(run);
        return false;
    }
    wchar_t machine[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(machine, &size))
        size = 0;
    Path_ = run + L"\\Summary_" + std::wstring(machine, size) + L"_" + stamp + L".txt";
    RootCopy_ = log + L"\\Summary.txt";
    ReplaceAll(Text_, "{RUN}", WideToUtf8(run));
    ReplaceAll(Text_, "{STAMP}", WideToUtf8(stamp));
    return true;
}

bool TStandinSummary::Finish(std::string& error) {
    std::string text;
    for (const char c : Text_) {
        if (c == '\n' && (text.empty() || text.back() != '\r'))
            text += '\r';
        text += c;
    }
    std::string bytes;
    if (Encoding_ == L"utf-16le") {
        bytes = "\xFF\xFE";
        for (const wchar_t unit : Utf8ToWide(text)) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
    } else {
        bytes = (Encoding_ == L"utf-8-bom" ? "\xEF\xBB\xBF" : "") + text;
    }
    if (!WriteWholeFile(Path_, bytes) || !WriteWholeFile(RootCopy_, bytes)) {
        error = "cannot write the summary " + WideToUtf8(Path_);
        return false;
    }
    return true;
}
