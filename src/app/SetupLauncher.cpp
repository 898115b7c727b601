#include "app/SetupLauncher.h"

#include "app/KantrelLog.h"
#include "app/SetupOutcome.h"
#include "app/SummarySearch.h"
#include "rtl/Errors.h"

#include <exception>

namespace {

// Index of the last backslash or colon, or npos.
size_t LastPathDelimiter(const std::string& path) {
    return path.find_last_of("\\:");
}

// Enables btnOK again when the sequence leaves its busy stretch, by any path.
class TStartButtonGuard {
public:
    explicit TStartButtonGuard(TLauncherPlatform& platform) : Platform_(platform) { Platform_.SetStartEnabled(false); }
    ~TStartButtonGuard() { Platform_.SetStartEnabled(true); }
    TStartButtonGuard(const TStartButtonGuard&) = delete;
    TStartButtonGuard& operator=(const TStartButtonGuard&) = delete;

private:
    TLauncherPlatform& Platform_;
};

void Show(TLauncherPlatform& platform, const TLauncherMessage& message) {
    platform.ShowMessageBox(message.Text, message.Caption, message.Style);
}

std::string AnswerText(int answer) {
    if (answer == MsgResultYes)
        return "Tak";
    if (answer == MsgResultNo)
        return "Nie";
    return Format("bez odpowiedzi Tak ani Nie (%d)", answer);
}

// Asks a question that may stop the sequence; true when there is none or the
// answer is Yes. Any other answer puts the user back in the password field.
bool GoOnDespite(TLauncherPlatform& platform, const TLauncherMessage& question, const char* about) {
    if (question.Text.empty())
        return true;
    const int answer = platform.ShowMessageBox(question.Text, question.Caption, question.Style);
    platform.Log().Write(std::string("Pytanie o ") + about + ", odpowiedź: " + AnswerText(answer));
    if (answer == MsgResultYes)
        return true;
    platform.FocusPassword();
    return false;
}

const char* PresenceText(TPresence presence) {
    switch (presence) {
    case prAbsent:
        return "brak";
    case prPresent:
        return "jest";
    case prUnknown:
        break;
    }
    return "nie można sprawdzić";
}

std::string PolicyText(TPasswordPolicyCheck check) {
    switch (check) {
    case pcPasses:
        return "hasło je spełnia";
    case pcUnknown:
        return "nie można sprawdzić";
    case pcTooShort:
        return std::string("hasło ") + SPolicyTooShort;
    case pcTooLong:
        return std::string("hasło ") + SPolicyTooLong;
    case pcNotComplex:
        return std::string("hasło ") + SPolicyNotComplex;
    case pcOtherwiseRefused:
        break;
    }
    return std::string("hasło ") + SPolicyOther;
}

// Names the rule, never the computer's name: that may be the password.
std::string SqlPasswordCheckText(TSqlPasswordCheck check) {
    switch (check) {
    case spAccepted:
        break;
    case spReservedWord:
        return "hasło to słowo, którego SQL Server nie przyjmuje";
    case spComputerName:
        return "hasło to nazwa komputera";
    }
    return "hasło je spełnia";
}

}  // namespace

std::string ProgramFolder(const std::string& programPath) {
    const size_t delimiter = LastPathDelimiter(programPath);
    std::string folder = delimiter == std::string::npos ? std::string() : programPath.substr(0, delimiter + 1);
    if (folder.size() >= 2 && folder.back() == '\\') {
        const char before = folder[folder.size() - 2];
        if (before != '\\' && before != ':')
            folder.pop_back();
    }
    return folder;
}

std::string LaunchPath(const std::string& programFolder) {
    return programFolder + "/" + SetupExeName;
}

std::string SetupWorkingDirectory(const std::string& exePath) {
    const size_t delimiter = LastPathDelimiter(exePath);
    if (delimiter == std::string::npos)
        return std::string();
    const std::string parent = exePath.substr(0, delimiter + 1);
    // Beside a program in a share's root the cut leaves "\\server\", which
    // names no folder: setup could not start there. The share's root serves,
    // as a drive's root does.
    for (const std::string prefix : {"\\\\?\\UNC\\", "\\\\"}) {
        if (parent.compare(0, prefix.size(), prefix) != 0)
            continue;
        const size_t serverEnd = parent.find('\\', prefix.size());
        const bool serverOnly = serverEnd == parent.size() - 1 && serverEnd > prefix.size() &&
                                parent.compare(prefix.size(), serverEnd - prefix.size(), "?") != 0 &&
                                parent.compare(prefix.size(), serverEnd - prefix.size(), ".") != 0;
        const size_t shareEnd = exePath.find('/', parent.size());
        if (serverOnly && shareEnd != std::string::npos && shareEnd > parent.size())
            return exePath.substr(0, shareEnd) + "\\";
        break;
    }
    return parent;
}

namespace {

// Length as SQL Server counts it: UTF-16 units of the UTF-8 text.
size_t Utf16Length(const std::string& text) {
    size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) != 0x80;
        units += byte >= 0xF0;
    }
    return units;
}

}  // namespace

TLauncherMessage PasswordRefusal(const std::string& password) {
    if (password.find('"') != std::string::npos)
        return {SCaptionWarning, SPasswordQuote, MsgOK | MsgIconWarning};
    if (password.empty())
        return {SCaptionWarning, SPasswordEmpty, MsgOK | MsgIconWarning};
    // Refused rather than cut: setup must get the password the user confirmed.
    if (Utf16Length(password) > SaPasswordMaxLength)
        return {SCaptionWarning, SPasswordTooLong, MsgOK | MsgIconWarning};
    return {};
}

std::string SetupPasswordArgument(const std::string& password) {
    if (password.find_first_of(" \t") == std::string::npos)
        return password;
    // Only the backslashes in front of the closing quote change meaning; a
    // password with a quote of its own never gets here.
    size_t trailing = 0;
    while (trailing < password.size() && password[password.size() - 1 - trailing] == '\\')
        ++trailing;
    return "\"" + password + std::string(trailing, '\\') + "\"";
}

std::string SetupParameters(const std::string& password) {
    return std::string(SetupParamsHead) + SetupPasswordArgument(password) + SetupParamsLicence + SetupParamsAgent +
           SetupParamsAccounts;
}

std::string SetupCommandLine(const std::string& exePath, const std::string& parameters) {
    return "\"" + exePath + "\" " + parameters;
}

TLauncherMessage PolicyWarningMessage(TPasswordPolicyCheck check) {
    const char* reason = nullptr;
    switch (check) {
    case pcPasses:
    case pcUnknown:
        return {};
    case pcTooShort:
        reason = SPolicyTooShort;
        break;
    case pcTooLong:
        reason = SPolicyTooLong;
        break;
    case pcNotComplex:
        reason = SPolicyNotComplex;
        break;
    case pcOtherwiseRefused:
        reason = SPolicyOther;
        break;
    }
    return {SCaptionWarning, SPolicyHead + std::string(reason) + SPolicyTail, MsgYesNo | MsgIconWarning};
}

namespace {

// Reads one code point of UTF-8 at `at` and moves past it; a byte that does
// not start a well-formed sequence stands for itself.
char32_t NextCodePoint(const std::string& text, size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || at + extra > text.size())
        return lead;
    char32_t code = lead & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return lead;
        code = (code << 6) | (next & 0x3F);
    }
    at += extra;
    return code;
}

// Lower case for the letters a computer's name or a typed word may hold:
// ASCII, Latin-1 and Latin Extended-A (Polish letters among them).
char32_t FoldCase(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    // Capitals on even code points, their small letters after them, except
    // for the stretch from Ĺ to Ň, which starts one later, and Ÿ.
    const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F &&
        (c % 2 == 1) == oddCapitals)
        return c + 1;
    return c == 0x178 ? 0xFF : c;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j)))
            return false;
    return i == a.size() && j == b.size();
}

}  // namespace

TSqlPasswordCheck SqlServerPasswordCheck(const std::string& password, const std::vector<std::string>& computerNames) {
    for (const char* word : {"password", "admin", "administrator", "sa", "sysadmin"})
        if (EqualIgnoringCase(password, word))
            return spReservedWord;
    for (const std::string& name : computerNames)
        if (!name.empty() && EqualIgnoringCase(password, name))
            return spComputerName;
    return spAccepted;
}

TLauncherMessage SqlPasswordWarningMessage(TSqlPasswordCheck check) {
    // Whether SQL Server applies its rules depends on its version and
    // settings, which cannot be seen before setup: a question, No the default.
    const unsigned style = MsgYesNo | MsgIconWarning | MsgDefaultButton2;
    switch (check) {
    case spAccepted:
        break;
    case spReservedWord:
        return {SCaptionWarning, SSqlPasswordWord, style};
    case spComputerName:
        return {SCaptionWarning, SSqlPasswordComputerName, style};
    }
    return {};
}

TLauncherMessage InstalledInstanceMessage(TPresence instance) {
    if (instance != prPresent)
        return {};
    // No is the default: going on is what the user should think twice about.
    return {SCaptionWarning, SInstanceInstalled, MsgYesNo | MsgIconWarning | MsgDefaultButton2};
}

TPresence SetupInstancePresence(TLauncherPlatform& platform) {
    // A 32-bit setup on 64-bit Windows registers in the 32-bit view, a 64-bit
    // one in the other; a half-removed instance may have kept either record.
    const TPresence found[] = {
        platform.FindRegistryValue(rv64Bit, SqlInstanceNamesKey, SetupInstanceName),
        platform.FindRegistryValue(rv32Bit, SqlInstanceNamesKey, SetupInstanceName),
        platform.FindService(SqlInstanceServiceName),
    };
    const std::string value = std::string("HKLM\\") + SqlInstanceNamesKey + ", wartość " + SetupInstanceName + ": ";
    TKantrelLog& log = platform.Log();
    log.Write("Rejestr, widok 64-bitowy, " + value + PresenceText(found[0]));
    log.Write("Rejestr, widok 32-bitowy, " + value + PresenceText(found[1]));
    log.Write(std::string("Usługa ") + SqlInstanceServiceName + ": " + PresenceText(found[2]));
    TPresence result = prAbsent;
    for (const TPresence presence : found) {
        if (presence == prPresent)
            return prPresent;
        if (presence == prUnknown)
            result = prUnknown;
    }
    return result;
}

TLauncherMessage SetupMissingMessage() {
    return {SCaptionWarning, std::string(SSetupMissing) + "\"" + SetupExeName + "\"", MsgOK | MsgIconWarning};
}

TLauncherMessage ConfirmationMessage(const std::string& password) {
    return {SCaptionQuestion, SConfirmHead + password + SConfirmTail, MsgYesNo | MsgIconInformation};
}

TLauncherMessage SetupNotStartedMessage(const std::string& launchPath, const std::string& systemError) {
    return {SCaptionError, SSetupNotStarted + ("\"" + launchPath + "\"\r\n") + systemError, MsgOK | MsgIconError};
}

TSetupRunResult RunSetupProcess(TLauncherPlatform& platform, const std::string& exePath,
                                const std::string& parameters, uint16_t showMode) {
    TSetupRunResult result;
    std::unique_ptr<TLauncherProcess> process =
        platform.StartProcess(SetupCommandLine(exePath, parameters), SetupCreationFlags,
                               SetupWorkingDirectory(exePath), showMode, result.ErrorText);
    if (!process)
        return result;
    result.Started = true;
    // No other way out: a request to end the program waits for setup.
    while (!process->WaitFor(SetupPollPeriodMs))
        platform.ProcessMessages();
    result.ExitCode = process->ExitCode();
    return result;
}

void OpenKantrelLog(TLauncherPlatform& platform) {
    TKantrelLog& log = platform.Log();
    if (log.IsOpen() || !log.Open())
        return;
    try {
        log.Write(Format("Kantrel %s, wersja %d-bitowa", KANTREL_VERSION, static_cast<int>(sizeof(void*) * 8)));
        log.Write("Windows: " + platform.WindowsVersion());
        log.Write("Program: " + platform.ProgramPath());
        log.Write("Folder bieżący: " + platform.CurrentFolder());
    } catch (const std::exception&) {
        // What cannot be told is left out; the sequence meets the same error itself.
    }
}

void RunInstallationSequence(TLauncherPlatform& platform) {
    OpenKantrelLog(platform);
    TKantrelLog& log = platform.Log();
    log.Write("Naciśnięto przycisk „Rozpocznij instalację”.");
    const std::string folder = ProgramFolder(platform.ProgramPath());
    const std::string launchPath = LaunchPath(folder);
    const std::string password = platform.PasswordText();
    const TLauncherMessage refusal = PasswordRefusal(password);
    if (!refusal.Text.empty()) {
        log.Write("Hasło odrzucone: " + refusal.Text);
        Show(platform, refusal);
        platform.FocusPassword();
        return;
    }
    const std::string parameters = SetupParameters(password);
    // Checked where it is started from, whatever the current directory.
    const bool setupPresent = platform.FileExists(launchPath);
    log.Write("Plik instalatora " + launchPath + (setupPresent ? ": jest" : ": brak"));
    if (!setupPresent) {
        Show(platform, SetupMissingMessage());
        return;
    }
    // Setup refuses to install an instance that is there already, and the
    // sa password that the policy refuses, but only after minutes of work;
    // either known now is worth a question; so are SQL Server's own rules.
    if (!GoOnDespite(platform, InstalledInstanceMessage(SetupInstancePresence(platform)), "zainstalowaną instancję"))
        return;
    const TPasswordPolicyCheck policy = platform.CheckPasswordPolicy(password);
    log.Write("Zasady haseł systemu Windows: " + PolicyText(policy));
    if (!GoOnDespite(platform, PolicyWarningMessage(policy), "zasady haseł"))
        return;
    const TSqlPasswordCheck sqlCheck = SqlServerPasswordCheck(password, platform.ComputerNames());
    log.Write("Zasady haseł SQL Server: " + SqlPasswordCheckText(sqlCheck));
    if (!GoOnDespite(platform, SqlPasswordWarningMessage(sqlCheck), "zasady haseł SQL Server"))
        return;
    // The confirmation shows the password: only the answer is logged.
    const TLauncherMessage confirmation = ConfirmationMessage(platform.PasswordText());
    const int answer = platform.ShowMessageBox(confirmation.Text, confirmation.Caption, confirmation.Style);
    log.Write("Potwierdzenie instalacji, odpowiedź: " + AnswerText(answer));
    if (answer != MsgResultYes)
        return;

    TSetupRunResult result;
    TLauncherMessage outcome;
    try {
        // Declared first so that btnOK comes back only after the splash is gone.
        TStartButtonGuard busy(platform);
        std::unique_ptr<TLauncherSplash> splash = platform.CreateSplash();
        splash->Show();
        log.Write("Wiersz polecenia instalatora: " + SetupCommandLine(launchPath, SetupParameters(LoggedPassword)));
        log.Write("Folder roboczy instalatora: " + SetupWorkingDirectory(launchPath));
        TLauncherFiles& files = platform.Files();
        const TRunFolderSnapshot before = SnapshotRunFolders(files);
        const TFileTime start = files.Now();
        log.Write("Uruchomienie instalatora.");
        result = RunSetupProcess(platform, launchPath, parameters, SetupShowMode);
        if (result.Started) {
            const TFileTime end = files.Now();
            log.Write(Format("Instalator zakończył pracę z kodem %d (0x%.8X).",
                             static_cast<int>(static_cast<int32_t>(result.ExitCode)), result.ExitCode));
            const TSummarySearch search = FindSetupSummary(files, before, start, end);
            LogSetupOutcome(log, result.ExitCode, search, password);
            outcome = SetupOutcomeMessage(result.ExitCode, search, log.Path());
            // A close of the main window that came in the last wait slice would
            // otherwise be handled inside the message box below and end it at once.
            if (!outcome.Text.empty())
                platform.ProcessMessages();
        } else {
            log.Write("Nie można uruchomić instalatora: " + result.ErrorText);
        }
    } catch (const std::exception& error) {
        log.Write(std::string("Błąd: ") + error.what());
        throw;
    }
    if (!result.Started)
        Show(platform, WithLogPath(SetupNotStartedMessage(launchPath, result.ErrorText), log.Path()));
    else if (!outcome.Text.empty())
        Show(platform, outcome);
}
