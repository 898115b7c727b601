#pragma once
// The Win32 side of the launcher's platform: the program's path, the file
// test, the setup process and what the system knows of the password policy
// and of installed instances. The window side (message boxes, the splash,
// btnOK, edPass, message pumping) belongs to the main window.

#include "app/LauncherFilesWin.h"
#include "app/SetupLauncher.h"

#include <cstdint>
#include <string>
#include <vector>

// The system's own text for a Win32 error code, without the trailing line
// break; a "%1" in it (as in "%1 is not a valid Win32 application") becomes insert.
std::string SystemErrorText(uint32_t code, const std::string& insert = "");

class TWin32LauncherPlatform : public TLauncherPlatform {
public:
    std::string ProgramPath() override;
    bool FileExists(const std::string& path) override;
    // CreateProcessW: Unicode, so any password reaches setup intact.
    std::unique_ptr<TLauncherProcess> StartProcess(const std::string& commandLine, uint32_t creationFlags,
                                                   const std::string& workingDirectory, uint16_t showMode,
                                                   std::string& errorText) override;
    // NetValidatePasswordPolicy for a password change of "sa"; pcUnknown when
    // the function is missing, fails or cannot be called (Wine).
    TPasswordPolicyCheck CheckPasswordPolicy(const std::string& password) override;
    // GetComputerNameExW: the NetBIOS name and the DNS host name.
    std::vector<std::string> ComputerNames() override;
    // RegOpenKeyExW and RegQueryValueExW with KEY_WOW64_64KEY or
    // KEY_WOW64_32KEY; a missing key or value is absent, any other failure
    // (access denied) unknown.
    TPresence FindRegistryValue(TRegistryView view, const std::string& keyPath,
                                const std::string& valueName) override;
    // OpenServiceW with the least rights. Access is checked against the
    // service's own security, so ERROR_ACCESS_DENIED means it exists;
    // ERROR_SERVICE_DOES_NOT_EXIST is absent, any other failure unknown.
    TPresence FindService(const std::string& name) override;
    std::string CurrentFolder() override;
    // The version RtlGetVersion reports (GetVersionExW reports what the
    // manifest declares), the system's bitness, and Wine's version under Wine.
    std::string WindowsVersion() override;
    TLauncherFiles& Files() override { return Files_; }

protected:
    // Opens the service through the service manager's handle for its status
    // and closes it again: ERROR_SUCCESS, or why it could not be opened.
    virtual uint32_t OpenServiceError(void* manager, const std::string& name);

private:
    TWin32LauncherFiles Files_;
};

// A library of the system folder, never found by its bare name elsewhere:
// LOAD_LIBRARY_SEARCH_SYSTEM32 where the system takes it, else the full path
// in the system folder (Windows 7 and Server 2008 R2 without KB2533623 refuse
// the flag). searchFlag false goes straight to the full path. Null on
// failure; the caller frees it.
void* LoadSystemLibrary(const std::string& name, bool searchFlag = true);
