#pragma once

#include "platform/WidgetText.h"

#include <QString>
#include <string>

// Header text for a table cell and its tool tip. A header line can be megabytes long, and a
// table measures and draws such a cell for seconds; the first thousand characters show, then
// "…".
inline QString CellText(const std::string& bytes) {
    constexpr qsizetype kMaxChars = 1000;
    constexpr std::size_t kMaxBytes = 4 * kMaxChars; // UTF-8 takes at most 4 bytes a character
    QString text = platform::WidgetText(bytes.substr(0, kMaxBytes));
    if (bytes.size() <= kMaxBytes && text.size() <= kMaxChars) return text;
    text.truncate(kMaxChars - 1);
    return text + QChar(0x2026);
}
