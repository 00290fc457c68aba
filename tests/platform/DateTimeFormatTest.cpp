#include "platform/DateTimeFormat.h"

#include <gtest/gtest.h>

using platform::FormatDateTime;

namespace {

QDateTime At(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

TEST(DateTimeFormat, SpecifiersAndLiteralTextInAnEnglishLocale) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QDateTime t = At(2026, 12, 6, 14, 5, 9);
    const struct Case {
        const char* format;
        QDateTime moment;
        const char* expected;
    } cases[] = {
        {"dd mmm yyyy hh:nn:ss ", t, "06 Dec 2026 14:05:09 "},
        {"mm-yyyy", t, "12-2026"},
        // Leading zeros everywhere; hours run to 23.
        {"dd mm yyyy hh nn ss", At(987, 1, 2, 3, 4, 5), "02 01 0987 03 04 05"},
        {"hh nn ss", At(2026, 1, 1, 23, 59, 58), "23 59 58"},
        // mm is the minute only when hh was the specifier just before it; literal text
        // between them does not count, another specifier does.
        {"hh:mm", t, "14:05"},
        {"hhmm", t, "1405"},
        {"mm hh", t, "12 14"},
        {"hh dd mm", t, "14 06 12"},
        {"hh:mm mm", t, "14:05 12"},
        {"hh mmm", t, "14 Dec"},
        // Everything else is copied unchanged; the longest specifier wins.
        {"d m y h n s yy DD MM [x] - .", t, "d m y h n s yy DD MM [x] - ."},
        {"ddd", t, "06d"},
        {"mmmm", t, "Decm"},
        {"Zeit \xc3\xa4 hh", t, "Zeit \xc3\xa4 14"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatDateTime(c.format, c.moment, english), c.expected) << c.format;
}

TEST(DateTimeFormat, MonthNamesAndSeparatorsComeFromTheLocale) {
    const QDateTime t = At(2026, 12, 6, 14, 5, 9);
    const char* format = "dd/mmm/yyyy hh:nn:ss";
    EXPECT_EQ(FormatDateTime(format, t, QLocale(QLocale::German, QLocale::Germany)),
              "06.Dez..2026 14:05:09");
    EXPECT_EQ(FormatDateTime(format, t, QLocale(QLocale::Finnish, QLocale::Finland)),
              "06.jouluk..2026 14.05.09");
    EXPECT_EQ(FormatDateTime(format, t, QLocale(QLocale::Swedish, QLocale::Sweden)),
              "06-dec.-2026 14:05:09");
    // The C locale (LANG unset) has no date separator of its own: the English ones apply.
    EXPECT_EQ(FormatDateTime(format, t, QLocale::c()), "06/Dec/2026 14:05:09");
    // Quoted text and letters in a locale's pattern are not separators.
    EXPECT_EQ(platform::TimeSeparator(QLocale(QLocale::French, QLocale::Canada)), ":");
    EXPECT_EQ(platform::TimeSeparator(QLocale(QLocale::Japanese, QLocale::Japan)), ":");
}

} // namespace
