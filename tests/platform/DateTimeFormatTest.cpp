#include "platform/DateTimeFormat.h"

#include <gtest/gtest.h>

using platform::FormatDateTime;

namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);

QDateTime At(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

} // namespace

TEST(DateTimeFormat, TheLogFormatsInAnEnglishLocale) {
    const QDateTime t = At(2026, 12, 6, 14, 5, 9);
    EXPECT_EQ(FormatDateTime("dd mmm yyyy hh:nn:ss ", t, english), "06 Dec 2026 14:05:09 ");
    EXPECT_EQ(FormatDateTime("dd/mmm/yyyy hh:nn:ss ", t, english), "06/Dec/2026 14:05:09 ");
    EXPECT_EQ(FormatDateTime("mm-yyyy", t, english), "12-2026");
}

TEST(DateTimeFormat, NumbersKeepTheirLeadingZeros) {
    EXPECT_EQ(FormatDateTime("dd mm yyyy hh nn ss", At(987, 1, 2, 3, 4, 5), english),
              "02 01 0987 03 04 05");
    EXPECT_EQ(FormatDateTime("hh nn ss", At(2026, 1, 1, 23, 59, 58), english), "23 59 58");
    EXPECT_EQ(FormatDateTime("hh", At(2026, 1, 1, 0, 0, 0), english), "00");
}

TEST(DateTimeFormat, MmIsMinutesOnlyWhenHoursCameJustBefore) {
    const QDateTime t = At(2026, 12, 6, 14, 5, 9);
    EXPECT_EQ(FormatDateTime("hh:mm", t, english), "14:05");
    EXPECT_EQ(FormatDateTime("hhmm", t, english), "1405");
    EXPECT_EQ(FormatDateTime("mm hh", t, english), "12 14");
    // Another specifier between them makes mm the month again.
    EXPECT_EQ(FormatDateTime("hh dd mm", t, english), "14 06 12");
    // Only the first mm after hh is the minute; the month name is never affected.
    EXPECT_EQ(FormatDateTime("hh:mm mm", t, english), "14:05 12");
    EXPECT_EQ(FormatDateTime("hh mmm", t, english), "14 Dec");
}

TEST(DateTimeFormat, EverythingElseIsCopiedUnchanged) {
    const QDateTime t = At(2026, 12, 6, 14, 5, 9);
    EXPECT_EQ(FormatDateTime("", t, english), "");
    EXPECT_EQ(FormatDateTime("d m y h n s yy DD MM [x] - .", t, english),
              "d m y h n s yy DD MM [x] - .");
    EXPECT_EQ(FormatDateTime("ddd", t, english), "06d");
    EXPECT_EQ(FormatDateTime("mmmm", t, english), "Decm");
    EXPECT_EQ(FormatDateTime("Zeit \xc3\xa4 hh", t, english), "Zeit \xc3\xa4 14");
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
