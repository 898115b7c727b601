#pragma once
// The setup launcher: what btnOKClick does. Paths, the setup command line,
// the messages and the installation sequence are portable; the few process,
// window and file calls they need come through TLauncherPlatform, so the
// whole sequence runs natively against fakes and under Wine for real.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TKantrelLog;
class TLauncherFiles;

inline constexpr const char* SetupExeName = "SQLEXPR_x86_ENU.exe";
inline constexpr unsigned SetupPollPeriodMs = 50;
inline constexpr uint16_t SetupShowMode = 1;         // SW_SHOWNORMAL
inline constexpr uint32_t SetupCreationFlags = 0x30;  // CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS
// Setup's exit code for "installed, restart needed" (ERROR_SUCCESS_REBOOT_REQUIRED).
inline constexpr uint32_t SetupExitRebootRequired = 3010;

// Message box styles and answers, the values of the Windows API.
inline constexpr unsigned MsgOK = 0x00;
inline constexpr unsigned MsgYesNo = 0x04;
inline constexpr unsigned MsgIconError = 0x10;
inline constexpr unsigned MsgIconWarning = 0x30;
inline constexpr unsigned MsgIconInformation = 0x40;
inline constexpr unsigned MsgDefaultButton2 = 0x100;
inline constexpr int MsgResultYes = 6;
inline constexpr int MsgResultNo = 7;

// The five pieces of the setup parameter string; the password goes between
// the first and the second.
inline constexpr const char* SetupParamsHead =
    "/ACTION=Install /INSTANCENAME=SQLVORNA /FEATURES=SQLENGINE /SkipRules=RebootRequiredCheck "
    "/IAcceptSQLServerLicenseTerms /SQLSVCSTARTUPTYPE=Automatic /BROWSERSVCSTARTUPTYPE=Automatic "
    "/ADDCURRENTUSERASSQLADMIN=true /TCPENABLED=1 /SECURITYMODE=SQL /SAPWD=";
inline constexpr const char* SetupParamsLicence = " /IACCEPTSQLSERVERLICENSETERMS /QS /HIDECONSOLE ";
inline constexpr const char* SetupParamsAgent = "/AGTSVCACCOUNT=\"NT AUTHORITY\\NETWORK SERVICE\" ";
inline constexpr const char* SetupParamsAccounts =
    "/ASSYSADMINACCOUNTS=BUILTIN\\Administrators /SQLSVCACCOUNT=\"NT AUTHORITY\\NETWORK SERVICE\" "
    "/SQLSYSADMINACCOUNTS=BUILTIN\\Administrators";

// The instance setup is told to install, and where Windows records it: a value
// named after it under this key of HKEY_LOCAL_MACHINE, and its service.
inline constexpr const char* SetupInstanceName = "SQLVORNA";
inline constexpr const char* SqlInstanceNamesKey = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";
inline constexpr const char* SqlInstanceServiceName = "MSSQL$SQLVORNA";

// Captions and texts of the launcher's message boxes.
inline constexpr const char* SCaptionWarning = "Uwaga";
inline constexpr const char* SCaptionQuestion = "Pytanie";
inline constexpr const char* SCaptionError = "Błąd";
inline constexpr const char* SCaptionInformation = "Informacja";
inline constexpr const char* SSetupMissing = "Nie znaleziono pliku instalacyjnego SQL Server: ";
inline constexpr const char* SConfirmHead = "Wprowadzone hasło dla uzytkownika \"sa\" to: ";
inline constexpr const char* SConfirmTail =
    "\r\nProszę podać je w oknie konfiguracji połączenia aplikacji ARVELO."
    "\r\nCzy kontynuować instalację SQL Server?";
inline constexpr const char* SPasswordQuote = "Hasło nie może zawierać znaku cudzysłowu (\").";
inline constexpr const char* SPasswordTooLong = "Hasło może mieć najwyżej 128 znaków.";
inline constexpr const char* SPasswordEmpty = "Podaj hasło użytkownika 'sa'. SQL Server nie przyjmie pustego hasła.";
inline constexpr const char* SPolicyHead = "Hasło nie spełnia zasad haseł obowiązujących na tym komputerze: ";
inline constexpr const char* SPolicyTail =
    ".\r\nSQL Server najpewniej odrzuci to hasło i instalacja się nie powiedzie.\r\nCzy mimo to kontynuować?";
inline constexpr const char* SPolicyTooShort = "jest za krótkie";
inline constexpr const char* SPolicyTooLong = "jest za długie";
inline constexpr const char* SPolicyNotComplex = "nie spełnia wymagań złożoności";
inline constexpr const char* SPolicyOther = "nie spełnia wymagań";
inline constexpr const char* SSqlPasswordWord =
    "Hasło to jedno ze słów, których SQL Server nie przyjmuje jako hasła użytkownika 'sa' (password, admin, "
    "administrator, sa, sysadmin), więc instalacja najpewniej się nie powiedzie.\r\nCzy mimo to kontynuować?";
inline constexpr const char* SSqlPasswordComputerName =
    "Hasło jest takie samo jak nazwa tego komputera. SQL Server nie przyjmuje takiego hasła dla użytkownika 'sa', "
    "więc instalacja najpewniej się nie powiedzie.\r\nCzy mimo to kontynuować?";
inline constexpr const char* SInstanceInstalled =
    "Na tym komputerze jest już zainstalowana instancja SQL Server o nazwie SQLVORNA. Instalator SQL Server "
    "najpewniej odmówi zainstalowania jej ponownie.\r\nJeśli ta instancja nie działa poprawnie, odinstaluj ją "
    "(Panel sterowania > Programy i funkcje) i uruchom Kantrel ponownie.\r\nCzy mimo to uruchomić instalator SQL "
    "Server?";
inline constexpr const char* SSetupNotStarted = "Nie można uruchomić instalatora SQL Server: ";

struct TLauncherMessage {
    std::string Caption;
    std::string Text;
    unsigned Style = 0;
};

// The program path cut after its last backslash or colon; the trailing
// backslash goes unless a backslash or colon precedes it (C:\ keeps it).
std::string ProgramFolder(const std::string& programPath);
// The program folder and "/SQLEXPR_x86_ENU.exe", forward slash and all.
std::string LaunchPath(const std::string& programFolder);
// The path cut after its last backslash or colon, keeping it; a forward slash
// does not count, so the launch path gives the program folder's parent. Where
// that would leave only a server's name, the share's root (\\server\share\).
std::string SetupWorkingDirectory(const std::string& exePath);
// SQL Server's limit for a login's password, in characters.
inline constexpr size_t SaPasswordMaxLength = 128;

// The refusal for a password that setup cannot be given or SQL Server would
// not take, before anything starts; empty text when it may go on. Setup has no
// way to receive a double quote inside a value; in SQL authentication mode it
// requires an sa password.
TLauncherMessage PasswordRefusal(const std::string& password);

// What Windows says of a password under the password policy in force for the
// machine or its domain (minimum length, complexity).
enum TPasswordPolicyCheck {
    pcPasses,
    pcUnknown,  // the check cannot be made here
    pcTooShort,
    pcTooLong,
    pcNotComplex,
    pcOtherwiseRefused,
};

// The question asked when the policy refuses the password; empty text when it
// passes or nothing can be known.
TLauncherMessage PolicyWarningMessage(TPasswordPolicyCheck check);

// What SQL Server's own password rules say of a password for sa, beside the
// machine's policy: it refuses a few words and the computer's name, whatever
// their case.
enum TSqlPasswordCheck {
    spAccepted,
    spReservedWord,
    spComputerName,
};

TSqlPasswordCheck SqlServerPasswordCheck(const std::string& password, const std::vector<std::string>& computerNames);

// The question asked when SQL Server would refuse the password; empty text
// when it would take it.
TLauncherMessage SqlPasswordWarningMessage(TSqlPasswordCheck check);

// Whether something is there, as far as the system lets us look.
enum TPresence {
    prAbsent,
    prPresent,
    prUnknown,  // the check cannot be made (access denied, an error)
};

// The two views of the registry on 64-bit Windows; 32-bit Windows has one.
enum TRegistryView {
    rv64Bit,
    rv32Bit,
};

// The question asked when an instance of setup's name is installed already;
// empty text otherwise, also when nothing can be known.
TLauncherMessage InstalledInstanceMessage(TPresence instance);

// The /SAPWD value as it goes on the command line: verbatim, or quoted when a
// space or tab would split it (backslashes before the closing quote doubled).
std::string SetupPasswordArgument(const std::string& password);
// The setup parameter string, 478 characters plus the password argument.
std::string SetupParameters(const std::string& password);
// A double quote, the executable path, a double quote, a space, the parameters.
std::string SetupCommandLine(const std::string& exePath, const std::string& parameters);

TLauncherMessage SetupMissingMessage();
TLauncherMessage ConfirmationMessage(const std::string& password);
TLauncherMessage SetupNotStartedMessage(const std::string& launchPath, const std::string& systemError);

// A started process; destroying it closes its handles (not the process).
class TLauncherProcess {
public:
    virtual ~TLauncherProcess() = default;
    // Waits up to timeoutMs; true once the process has ended.
    virtual bool WaitFor(unsigned timeoutMs) = 0;
    virtual uint32_t ExitCode() = 0;
};

// The splash window for one wait; destroying it frees the window.
class TLauncherSplash {
public:
    virtual ~TLauncherSplash() = default;
    virtual void Show() = 0;
};

class TLauncherPlatform {
public:
    virtual ~TLauncherPlatform() = default;
    virtual std::string ProgramPath() = 0;
    // True for an existing file; a directory does not count.
    virtual bool FileExists(const std::string& path) = 0;
    // Shows a modal message box; returns the button pressed.
    virtual int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
    // Starts the command line; on failure returns null and sets errorText to
    // the system's description of the failure.
    virtual std::unique_ptr<TLauncherProcess> StartProcess(const std::string& commandLine, uint32_t creationFlags,
                                                            const std::string& workingDirectory, uint16_t showMode,
                                                            std::string& errorText) = 0;
    // Handles every pending window message, then returns.
    virtual void ProcessMessages() = 0;
    // Creates the splash window, hidden and with no owner component.
    virtual std::unique_ptr<TLauncherSplash> CreateSplash() = 0;
    virtual void SetStartEnabled(bool enabled) = 0;
    virtual std::string PasswordText() = 0;
    // Puts the focus in the password field, so that a refused password can be
    // mended at once.
    virtual void FocusPassword() = 0;
    // Asks the system whether the password satisfies its password policy.
    virtual TPasswordPolicyCheck CheckPasswordPolicy(const std::string& password) = 0;
    // The names this computer goes by (NetBIOS and DNS host name), those the
    // system can tell.
    virtual std::vector<std::string> ComputerNames() = 0;
    // Whether HKEY_LOCAL_MACHINE\keyPath has a value of that name, in that view.
    virtual TPresence FindRegistryValue(TRegistryView view, const std::string& keyPath,
                                        const std::string& valueName) = 0;
    // Whether a service of that name is installed.
    virtual TPresence FindService(const std::string& name) = 0;

    // What Kantrel's log records of the system.
    virtual std::string CurrentFolder() = 0;
    virtual std::string WindowsVersion() = 0;
    // Where setup's summaries and Kantrel's log are read and written.
    virtual TLauncherFiles& Files() = 0;
    // Kantrel's log of this run of the program, opened by the first sequence.
    virtual TKantrelLog& Log() = 0;
};

// Whether setup's instance is installed: its name in either view of the
// registry, or its service. Any one found means installed; otherwise a check
// that could not be made leaves it unknown.
TPresence SetupInstancePresence(TLauncherPlatform& platform);

struct TSetupRunResult {
    bool Started = false;
    std::string ErrorText;  // why it could not be started
    uint32_t ExitCode = 0;  // once it has ended
};

// Starts exePath with the parameters and waits for it in 50 ms slices,
// handling window messages after each slice; returns once it has ended.
TSetupRunResult RunSetupProcess(TLauncherPlatform& platform, const std::string& exePath,
                                const std::string& parameters, uint16_t showMode);

// Opens the platform's log, unless it is open, and writes what it records of
// the program and the system first. Writing nothing when it cannot be made.
void OpenKantrelLog(TLauncherPlatform& platform);

// The installation sequence behind btnOKClick.
void RunInstallationSequence(TLauncherPlatform& platform);
