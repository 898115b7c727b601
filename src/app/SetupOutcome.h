#pragma once
// What Kantrel tells the user once setup has ended, from setup's exit code
// and the summary of its run: nothing after a pass, the restart message, or
// the error box with the facts read from the summary (Polish labels, setup's
// English values verbatim). Also what it writes of them to its log.

#include "app/KantrelLog.h"
#include "app/SetupLauncher.h"
#include "app/SummarySearch.h"

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr const char* SSetupRebootRequired =
    "Instalacja SQL Server została zakończona. Aby ją dokończyć, uruchom ponownie komputer.";
inline constexpr const char* SSetupFailedCode = "Instalator SQL Server zakończył pracę z kodem błędu %d (0x%.8X).";
inline constexpr const char* SSetupEndedCode = "Instalator SQL Server zakończył pracę z kodem %d (0x%.8X).";
inline constexpr const char* SFinalResult = "Wynik końcowy: ";
inline constexpr const char* SExitMessage = "Komunikat instalatora: ";
inline constexpr const char* SFailedFeature = "Funkcja, której instalacja się nie powiodła: ";
inline constexpr const char* SFailureReason = "Przyczyna: ";
inline constexpr const char* SSummaryExitCode = "Kod zakończenia zapisany w podsumowaniu: %d (0x%.8X)";
inline constexpr const char* SLogWithFailure = "Dziennik z błędem: ";
inline constexpr const char* SSummaryFile = "Plik podsumowania: ";
inline constexpr const char* SSummaryUnreadable = " (nie udało się go odczytać)";
inline constexpr const char* SNoSummary =
    "Nie znaleziono dziennika instalatora z tego uruchomienia. Przeszukano foldery:";
inline constexpr const char* SRunFolderWithoutSummary =
    "W folderze dziennika z tego uruchomienia nie ma pliku podsumowania: ";
inline constexpr const char* SSqlSetupLogs = "Sprawdź też pliki: ";
inline constexpr const char* SEarlierAttempt = "Podsumowanie wcześniejszej próby instalacji (%s): ";
inline constexpr const char* SKantrelLogPath = "Dziennik programu Kantrel: ";

// Every value from setup's files is shown cut to this many characters, so
// that the box fits on a 1024 x 768 screen.
inline constexpr size_t ShownValueMaxCharacters = 500;

enum TSetupOutcome {
    soNothing,
    soRestart,
    soFailure,
};

// What the end of setup calls for. The summary's final result decides when
// there is one: a pass says nothing unless a restart is needed (by the
// result or exit code 3010); anything else is a failure. Without one, exit
// code 0 says nothing and 3010 asks for the restart.
TSetupOutcome SetupOutcome(uint32_t exitCode, const TSummarySearch& search);

// The message for the outcome; empty text for soNothing. The log's path
// ends every message when there is a log.
TLauncherMessage SetupOutcomeMessage(uint32_t exitCode, const TSummarySearch& search, const std::string& logPath);

// The message with a line naming Kantrel's log, when there is one.
TLauncherMessage WithLogPath(TLauncherMessage message, const std::string& logPath);

// The folders searched, the summary found and the fields taken from it (or
// what was found instead), and the outcome; anything from setup's files
// without the password.
void LogSetupOutcome(TKantrelLog& log, uint32_t exitCode, const TSummarySearch& search, const std::string& password);
