#include "TestInstance.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

// From the deepest key up: the keys that the record may have created.
const wchar_t* const RecordKeys[] = {
    L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL",
    L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names",
    L"SOFTWARE\\Microsoft\\Microsoft SQL Server",
};

void Forget(REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKeys[0], 0, KEY_SET_VALUE | view, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"SQLVORNA");
        RegCloseKey(key);
    }
    for (const wchar_t* path : RecordKeys) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
            continue;
        DWORD subkeys = 0, values = 0;
        const bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                           subkeys == 0 && values == 0;
        RegCloseKey(key);
        if (!empty)
            return;
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, view, 0);
    }
}

const wchar_t* const ServiceName = L"MSSQL$SQLVORNA";

void RemoveService() {
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return;
    if (const SC_HANDLE service = OpenServiceW(manager, ServiceName, DELETE)) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

}  // namespace

TRecordedInstance::TRecordedInstance(REGSAM view) : View_(view) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecordKeys[0], 0, nullptr, 0, KEY_SET_VALUE | view,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        // What SQL Server 2014 records: the instance's id.
        const std::wstring data = L"MSSQL12.SQLVORNA";
        status = RegSetValueExW(key, L"SQLVORNA", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("cannot record the instance in the registry: error " + std::to_string(status));
}

TRecordedInstance::~TRecordedInstance() {
    Forget(View_);
}

TInstanceService::TInstanceService() {
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        throw std::runtime_error("cannot open the service manager: error " + std::to_string(GetLastError()));
    const SC_HANDLE service =
        CreateServiceW(manager, ServiceName, L"SQL Server (SQLVORNA)", SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, L"C:\\windows\\system32\\notepad.exe", nullptr,
                       nullptr, nullptr, nullptr, nullptr);
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    if (!service)
        throw std::runtime_error("cannot install the service: error " + std::to_string(error));
    CloseServiceHandle(service);
}

TInstanceService::~TInstanceService() {
    RemoveService();
}

void ForgetRecordedInstance() {
    Forget(KEY_WOW64_64KEY);
    Forget(KEY_WOW64_32KEY);
    RemoveService();
}

std::vector<std::filesystem::path> ProgramFilesFolders() {
    std::vector<std::filesystem::path> folders;
    for (const wchar_t* name : {L"ProgramW6432", L"ProgramFiles", L"ProgramFiles(x86)"}) {
        wchar_t value[MAX_PATH + 1];
        const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
        const std::filesystem::path folder(std::wstring(value, n > 0 && n <= MAX_PATH ? n : 0));
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    return folders;
}

void ForgetSetupLogs() {
    std::error_code ignored;
    for (const std::filesystem::path& folder : ProgramFilesFolders())
        std::filesystem::remove_all(folder / L"Microsoft SQL Server", ignored);
}
