#include "TestFiles.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

std::filesystem::path BuildFile(const char* hostPath) {
    std::wstring path = Utf8ToWide(hostPath);
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return std::filesystem::path(path);
}

TTempFolder::TTempFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    const std::filesystem::path base(std::wstring(temp, n));
    for (unsigned i = GetTickCount() % 100000;; ++i) {
        Path_ = base / (L"kantrel-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(i)) / name;
        if (!std::filesystem::exists(Path_.parent_path()))
            break;
    }
    std::filesystem::create_directories(Path_);
}

TTempFolder::~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path_.parent_path(), ignored);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void SetTestEnvironment(const wchar_t* name, const std::wstring& value) {
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}
