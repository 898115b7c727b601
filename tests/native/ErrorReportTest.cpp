#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "rtl/ErrorReport.h"
#include "rtl/Errors.h"

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

TEST(ErrorReport, EveryErrorIsSaidInWords) {
    const EOutOfMemory own("Not enough memory for a GIF frame of 1 x 1 pixels");
    EXPECT_EQ(ErrorMessage(own), own.Message());
    EXPECT_STREQ(ErrorClassName(own), "EOutOfMemory");
    // The standard library's errors name only their C++ type.
    const std::bad_alloc noMemory;
    EXPECT_EQ(ErrorMessage(noMemory), "Out of memory");
    EXPECT_STREQ(ErrorClassName(noMemory), "EOutOfMemory");
    const std::length_error tooLong("vector::_M_default_append");
    EXPECT_EQ(ErrorMessage(tooLong), "Out of memory");
    const std::out_of_range other("vector::_M_range_check");
    EXPECT_EQ(ErrorMessage(other), "Unexpected error (vector::_M_range_check)");
    EXPECT_STREQ(ErrorClassName(other), "Exception");
}
