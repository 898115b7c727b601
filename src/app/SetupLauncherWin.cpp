#include "app/SetupLauncherWin.h"

#include "rtl/Errors.h"
#include "win/ScopedWin.h"
#include "win/WinText.h"

#include <windows.h>
#include <lm.h>

#include <string_view>
#include <utility>
#include <vector>

namespace {

[[noreturn]] void RaiseLastSystemError() {
    throw Exception(SystemErrorText(GetLastError()));
}

class TWin32Process : public TLauncherProcess {
public:
    explicit TWin32Process(TScopedHandle process) : Process_(std::move(process)) {}

    bool WaitFor(unsigned timeoutMs) override {
        switch (WaitForSingleObject(Process_.Get(), timeoutMs)) {
        case WAIT_OBJECT_0:
            return true;
        case WAIT_TIMEOUT:
            return false;
        default:
            // Treating a failed wait as "still running" would spin for ever.
            RaiseLastSystemError();
        }
    }

    uint32_t ExitCode() override {
        DWORD code = 0;
        if (!GetExitCodeProcess(Process_.Get(), &code))
            RaiseLastSystemError();
        return code;
    }

private:
    TScopedHandle Process_;
};

}  // namespace

std::string SystemErrorText(uint32_t code, const std::string& insert) {
    wchar_t buffer[1024];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             1024, nullptr);
    while (n > 0 && (buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n' || buffer[n - 1] == L' '))
        --n;
    if (n == 0)
        return Format("Błąd systemu %u.", static_cast<unsigned>(code));
    std::string text = WideToUtf8(std::wstring_view(buffer, n));
    for (size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", at + insert.size()))
        text.replace(at, 2, insert);
    return text;
}

namespace {

// The program of one of our command lines: its quoted first token.
std::string QuotedProgram(const std::string& commandLine) {
    const size_t close = commandLine.find('"', 1);
    return !commandLine.empty() && commandLine[0] == '"' && close != std::string::npos ? commandLine.substr(1, close - 1)
                                                                                      : commandLine;
}

}  // namespace

std::string TWin32LauncherPlatform::ProgramPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            RaiseLastSystemError();
        if (n < buffer.size())
            return WideToUtf8(std::wstring_view(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

bool TWin32LauncherPlatform::FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<TLauncherProcess> TWin32LauncherPlatform::StartProcess(const std::string& commandLine,
                                                                       uint32_t creationFlags,
                                                                       const std::string& workingDirectory,
                                                                       uint16_t showMode, std::string& errorText) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showMode;
    // CreateProcessW may write into the command line.
    std::wstring line = Utf8ToWide(commandLine);
    std::vector<wchar_t> lineBuffer(line.begin(), line.end());
    lineBuffer.push_back(L'\0');
    const std::wstring directory = Utf8ToWide(workingDirectory);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, lineBuffer.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        // Read before anything else runs: building the text allocates, and
        // the heap may set the thread's last error.
        const DWORD error = GetLastError();
        errorText = SystemErrorText(error, QuotedProgram(commandLine));
        return nullptr;
    }
    TScopedHandle thread(info.hThread);
    TScopedHandle process(info.hProcess);
    return std::make_unique<TWin32Process>(std::move(process));
}

namespace {

// A handle of one of the system's own kinds, closed by its own function when
// it goes; null is no handle.
template <class H, auto Close>
class TScopedSystemHandle {
public:
    explicit TScopedSystemHandle(H handle = nullptr) : Handle_(handle) {}
    ~TScopedSystemHandle() {
        if (Handle_)
            Close(Handle_);
    }
    TScopedSystemHandle(const TScopedSystemHandle&) = delete;
    TScopedSystemHandle& operator=(const TScopedSystemHandle&) = delete;
    H Get() const { return Handle_; }
    // For the calls that hand out a new handle through a pointer.
    H* Receive() { return &Handle_; }

private:
    H Handle_;
};

// A system library loaded for one call, freed when it goes.
class TScopedLibrary : public TScopedSystemHandle<HMODULE, FreeLibrary> {
public:
    using TScopedSystemHandle::TScopedSystemHandle;
    template <class F>
    F Function(const char* name) const {
        // Through a plain function pointer, the portable way between function types.
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(Get(), name)));
    }
};

using TNetValidatePasswordPolicy = NET_API_STATUS(WINAPI*)(LPCWSTR, LPVOID, NET_VALIDATE_PASSWORD_TYPE, LPVOID,
                                                           LPVOID*);
using TNetValidatePasswordPolicyFree = NET_API_STATUS(WINAPI*)(LPVOID*);

// The validation's result, released by the library's own function.
class TValidationOutput {
public:
    explicit TValidationOutput(TNetValidatePasswordPolicyFree release) : Release_(release) {}
    ~TValidationOutput() {
        if (Output)
            Release_(&Output);
    }
    TValidationOutput(const TValidationOutput&) = delete;
    TValidationOutput& operator=(const TValidationOutput&) = delete;
    LPVOID Output = nullptr;

private:
    TNetValidatePasswordPolicyFree Release_;
};

bool RunningOnWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

void* LoadSystemLibrary(const std::string& name, bool searchFlag) {
    const std::wstring wideName = Utf8ToWide(name);
    if (searchFlag) {
        if (HMODULE library = LoadLibraryExW(wideName.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
            return library;
    }
    std::vector<wchar_t> folder(MAX_PATH);
    for (;;) {
        const UINT n = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
        if (n == 0)
            return nullptr;
        if (n < folder.size()) {
            folder.resize(n);
            break;
        }
        folder.resize(n);
    }
    // The altered search path looks for the library's own imports beside it,
    // in the system folder, before the program's folder.
    const std::wstring path = std::wstring(folder.begin(), folder.end()) + L"\\" + wideName;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

TPasswordPolicyCheck TWin32LauncherPlatform::CheckPasswordPolicy(const std::string& password) {
    // Wine does not implement the validation: some versions leave the function
    // out (handled below like any missing function), others export a stub that
    // ends the process when it is called, so there its presence proves nothing.
    if (RunningOnWine())
        return pcUnknown;
    // From the system folder only: the program runs elevated from the folder
    // the setup files were downloaded to.
    const TScopedLibrary netapi(static_cast<HMODULE>(LoadSystemLibrary("netapi32.dll")));
    if (!netapi.Get())
        return pcUnknown;
    const auto validate = netapi.Function<TNetValidatePasswordPolicy>("NetValidatePasswordPolicy");
    const auto release = netapi.Function<TNetValidatePasswordPolicyFree>("NetValidatePasswordPolicyFree");
    if (!validate || !release)
        return pcUnknown;

    std::wstring clear = Utf8ToWide(password);
    std::wstring account = L"sa";
    NET_VALIDATE_PASSWORD_CHANGE_INPUT_ARG input{};
    input.ClearPassword = clear.data();
    input.UserAccountName = account.data();
    input.PasswordMatch = TRUE;  // only the new password is in question
    TValidationOutput output(release);
    const NET_API_STATUS status = validate(nullptr, nullptr, NetValidatePasswordChange, &input, &output.Output);
    SecureZeroMemory(clear.data(), clear.size() * sizeof(wchar_t));
    if (status != NERR_Success || !output.Output)
        return pcUnknown;
    switch (static_cast<const NET_VALIDATE_OUTPUT_ARG*>(output.Output)->ValidationStatus) {
    case NERR_Success:
        return pcPasses;
    case NERR_PasswordTooShort:
        return pcTooShort;
    case NERR_PasswordTooLong:
        return pcTooLong;
    case NERR_PasswordNotComplexEnough:
        return pcNotComplex;
    default:
        return pcOtherwiseRefused;
    }
}

namespace {

using TScopedRegistryKey = TScopedSystemHandle<HKEY, RegCloseKey>;
using TScopedServiceHandle = TScopedSystemHandle<SC_HANDLE, CloseServiceHandle>;

TPresence PresenceFromRegistryStatus(LSTATUS status) {
    switch (status) {
    case ERROR_SUCCESS:
        return prPresent;
    case ERROR_FILE_NOT_FOUND:
        return prAbsent;
    default:
        return prUnknown;
    }
}

}  // namespace

TPresence TWin32LauncherPlatform::FindRegistryValue(TRegistryView view, const std::string& keyPath,
                                                    const std::string& valueName) {
    // 32-bit Windows ignores the view flags: it has one registry.
    const REGSAM viewFlag = view == rv64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    TScopedRegistryKey key;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToWide(keyPath).c_str(), 0, KEY_QUERY_VALUE | viewFlag, key.Receive());
    if (opened != ERROR_SUCCESS)
        return PresenceFromRegistryStatus(opened);
    // Whatever its type and data: the value's being there is the record.
    return PresenceFromRegistryStatus(
        RegQueryValueExW(key.Get(), Utf8ToWide(valueName).c_str(), nullptr, nullptr, nullptr, nullptr));
}

std::vector<std::string> TWin32LauncherPlatform::ComputerNames() {
    std::vector<std::string> names;
    for (const COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname}) {
        DWORD size = 0;
        GetComputerNameExW(format, nullptr, &size);
        if (size == 0)
            continue;
        std::wstring name(size, L'\0');
        if (GetComputerNameExW(format, name.data(), &size) && size > 0)
            names.push_back(WideToUtf8(std::wstring_view(name.data(), size)));
    }
    return names;
}

uint32_t TWin32LauncherPlatform::OpenServiceError(void* manager, const std::string& name) {
    const std::wstring serviceName = Utf8ToWide(name);
    const TScopedServiceHandle service(
        OpenServiceW(static_cast<SC_HANDLE>(manager), serviceName.c_str(), SERVICE_QUERY_STATUS));
    return service.Get() ? ERROR_SUCCESS : GetLastError();
}

TPresence TWin32LauncherPlatform::FindService(const std::string& name) {
    const TScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Get())
        return prUnknown;
    switch (OpenServiceError(manager.Get(), name)) {
    case ERROR_SUCCESS:
    case ERROR_ACCESS_DENIED:
        return prPresent;
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return prAbsent;
    default:
        return prUnknown;
    }
}

std::string TWin32LauncherPlatform::CurrentFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0)
            return {};
        if (n < buffer.size())
            return WideToUtf8(std::wstring_view(buffer.data(), n));
        buffer.resize(n);
    }
}

std::string TWin32LauncherPlatform::WindowsVersion() {
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    using TWineGetVersion = const char*(CDECL*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto function = [ntdll](const char* name) {
        return ntdll ? reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)) : nullptr;
    };
    std::string text = "?";
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (const auto getVersion = reinterpret_cast<TRtlGetVersion>(function("RtlGetVersion")); getVersion && getVersion(&info) == 0)
        text = Format("%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    BOOL wow64 = FALSE;
    const bool bits64 = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    text += bits64 ? ", system 64-bitowy" : ", system 32-bitowy";
    if (const auto wineVersion = reinterpret_cast<TWineGetVersion>(function("wine_get_version")))
        text += std::string(", Wine ") + wineVersion();
    return text;
}
