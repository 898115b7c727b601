#include <gtest/gtest.h>

#include "rtl/ErrorReport.h"

TEST(ErrorReport, FullStopFollowsTheLastCharacterRule) {
    struct {
        const char* Message;
        const char* Shown;
    } cases[] = {
        {"Stream read error", "Stream read error."},  // letter
        {"Kod 42", "Kod 42."},                        // digit
        {"Czy na pewno?", "Czy na pewno?."},          // '?' sorts after '.'
        {"Plik: a.txt:", "Plik: a.txt:."},            // ':' too
        {"Gotowe.", "Gotowe."},
        {"Uwaga!", "Uwaga!"},
        {"Koniec ", "Koniec "},
        {"Lista (1,2)", "Lista (1,2)"},  // ')' sorts before '.'
        {"a-", "a-"},                    // '-' is the character just before '.'
        {"a/", "a/."},                   // '/' is the one just after
        {"Błąd zapisu: ść", "Błąd zapisu: ść."},  // non-ASCII letters sort after '.'
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorReportText(c.Message), c.Shown) << "message \"" << c.Message << '"';
}
