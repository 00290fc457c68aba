#pragma once

#include <QString>
#include <string>

namespace platform {

// The core keeps text as bytes; windows show it as UTF-8. The one place that crosses over.
inline QString WidgetText(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace platform
