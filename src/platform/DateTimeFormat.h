#pragma once

#include <QDateTime>
#include <QLocale>
#include <string>

namespace platform {

// Formats a moment with the program's date/time patterns:
//   dd day, mmm abbreviated month name, mm month (minutes when the specifier before it was
//   hh), yyyy year, hh hour 00-23, nn minutes, ss seconds, / date separator, : time separator.
// Every other character is copied unchanged. Numbers carry leading zeros.
std::string FormatDateTime(const std::string& format, const QDateTime& moment,
                           const QLocale& locale = QLocale::system());

// The locale's separators between date fields and between time fields ("/" and ":" when the
// locale's patterns have none).
std::string DateSeparator(const QLocale& locale);
std::string TimeSeparator(const QLocale& locale);

} // namespace platform
