#pragma once

#include <QDateTime>
#include <QLocale>
#include <string>
#include <string_view>
#include <vector>

namespace update {

// The lines of an update file. A line ends at CR LF, at a lone LF or at a lone CR; a NUL
// ends the text; a line end at the very end makes no extra empty line. Nothing is trimmed:
// every line, the empty ones too, is an entry.
std::vector<std::string> SplitUpdateLines(std::string_view bytes);

// Reads the whole file and splits it. Throws platform::EInOutError when it cannot be read.
std::vector<std::string> ReadUpdateFile(const std::string& path);

// The time of an update file as the settings record it: the locale's short date, a blank and
// its long time (without a time zone); at exactly midnight the date alone.
std::string UpdateTimestampText(const QDateTime& moment, const QLocale& locale = QLocale::system());

} // namespace update
