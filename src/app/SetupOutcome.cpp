#include "app/SetupOutcome.h"

#include "rtl/Errors.h"

namespace {

constexpr const char* LineBreak = "\r\n";

std::string Shown(const std::string& value) {
    return CutText(value, ShownValueMaxCharacters);
}

void AddLine(std::string& text, const char* label, const std::string& value) {
    if (!value.empty())
        text += LineBreak + (label + Shown(value));
}

std::string CodeText(const char* format, uint32_t code) {
    return Format(format, static_cast<int>(static_cast<int32_t>(code)), code);
}

std::string FailureDetails(uint32_t exitCode, const TSummarySearch& search) {
    std::string text;
    const TSetupSummary& fields = search.Fields;
    AddLine(text, SFinalResult, fields.FinalResult);
    AddLine(text, SExitMessage, fields.ExitMessage);
    if (fields.FailedFeature) {
        const TSummaryFeature& feature = *fields.FailedFeature;
        AddLine(text, SFailedFeature, feature.Feature);
        // The description is setup's own words for the error; the reason is
        // often only "An error occurred during the setup process of the feature."
        // Often it is the exit message again, which is not repeated.
        const std::string& reason =
            feature.ErrorDescription.empty() ? feature.ReasonForFailure : feature.ErrorDescription;
        if (reason != fields.ExitMessage)
            AddLine(text, SFailureReason, reason);
    }
    const std::optional<uint32_t> summaryCode = SummaryExitCode(fields);
    if (summaryCode && *summaryCode != exitCode)
        text += LineBreak + CodeText(SSummaryExitCode, *summaryCode);
    AddLine(text, SLogWithFailure, fields.LogWithFailure);
    text += LineBreak + (SSummaryFile + Shown(search.Summary->Path));
    if (!search.SummaryRead)
        text += SSummaryUnreadable;
    return text;
}

std::string NoSummaryDetails(const TSummarySearch& search) {
    std::string text;
    if (search.RunFolder.empty()) {
        text += LineBreak + std::string(SNoSummary);
        for (const std::string& folder : search.FoldersSearched)
            text += LineBreak + Shown(folder);
    } else {
        AddLine(text, SRunFolderWithoutSummary, search.RunFolder);
    }
    AddLine(text, SSqlSetupLogs, search.SqlSetupLogs);
    if (search.Earlier)
        AddLine(text, Format(SEarlierAttempt, TimeText(search.EarlierWritten).c_str()).c_str(), search.Earlier->Path);
    return text;
}

const char* OutcomeText(TSetupOutcome outcome) {
    switch (outcome) {
    case soNothing:
        return "brak";
    case soRestart:
        return "prośba o ponowne uruchomienie komputera";
    case soFailure:
        break;
    }
    return "błąd instalacji";
}

}  // namespace

TSetupOutcome SetupOutcome(uint32_t exitCode, const TSummarySearch& search) {
    switch (search.Summary ? SummaryVerdict(search.Fields) : svUnknown) {
    case svPassed:
        return exitCode == SetupExitRebootRequired ? soRestart : soNothing;
    case svPassedRebootRequired:
        return soRestart;
    case svFailed:
        return soFailure;
    case svUnknown:
        break;
    }
    if (exitCode == 0)
        return soNothing;
    return exitCode == SetupExitRebootRequired ? soRestart : soFailure;
}

TLauncherMessage WithLogPath(TLauncherMessage message, const std::string& logPath) {
    if (!message.Text.empty() && !logPath.empty())
        message.Text += std::string(LineBreak) + LineBreak + SKantrelLogPath + Shown(logPath);
    return message;
}

TLauncherMessage SetupOutcomeMessage(uint32_t exitCode, const TSummarySearch& search, const std::string& logPath) {
    switch (SetupOutcome(exitCode, search)) {
    case soNothing:
        return {};
    case soRestart:
        return WithLogPath({SCaptionInformation, SSetupRebootRequired, MsgOK | MsgIconInformation}, logPath);
    case soFailure:
        break;
    }
    std::string text = CodeText(exitCode == 0 ? SSetupEndedCode : SSetupFailedCode, exitCode) + LineBreak;
    text += search.Summary ? FailureDetails(exitCode, search) : NoSummaryDetails(search);
    return WithLogPath({SCaptionWarning, text, MsgOK | MsgIconWarning}, logPath);
}

void LogSetupOutcome(TKantrelLog& log, uint32_t exitCode, const TSummarySearch& search, const std::string& password) {
    std::string folders;
    for (const std::string& folder : search.FoldersSearched)
        folders += (folders.empty() ? "" : "; ") + folder;
    log.Write("Przeszukane foldery dzienników instalatora: " + folders);
    if (!search.RunFolder.empty())
        log.Write("Folder dziennika z tego uruchomienia: " + search.RunFolder);
    if (search.Summary) {
        log.Write("Podsumowanie tego uruchomienia: " + search.Summary->Path);
        if (!search.SummaryRead)
            log.Write("Nie udało się odczytać pliku podsumowania.");
        // Setup's own labels, so that each line can be found in its file.
        const auto field = [&](const char* label, const std::string& value) {
            if (!value.empty())
                log.Write(std::string(label) + ": " + WithoutPassword(Shown(value), password));
        };
        const TSetupSummary& f = search.Fields;
        field("Final result", f.FinalResult);
        field("Exit code (Decimal)", f.ExitCode);
        field("Exit facility code", f.ExitFacilityCode);
        field("Exit error code", f.ExitErrorCode);
        field("Exit message", f.ExitMessage);
        field("Start time", f.StartTime);
        field("End time", f.EndTime);
        field("Requested action", f.RequestedAction);
        field("Log with failure", f.LogWithFailure);
        if (f.FailedFeature) {
            field("Feature", f.FailedFeature->Feature);
            field("Status", f.FailedFeature->Status);
            field("Reason for failure", f.FailedFeature->ReasonForFailure);
            field("Component error code", f.FailedFeature->ComponentErrorCode);
            field("Error description", f.FailedFeature->ErrorDescription);
        }
    } else {
        log.Write("Nie znaleziono podsumowania z tego uruchomienia instalatora.");
        if (search.Earlier)
            log.Write("Podsumowanie wcześniejszej próby (" + TimeText(search.EarlierWritten) +
                      "): " + search.Earlier->Path);
    }
    log.Write(std::string("Komunikat po zakończeniu instalatora: ") + OutcomeText(SetupOutcome(exitCode, search)));
}
