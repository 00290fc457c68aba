#pragma once

#include <string>
#include <string_view>

namespace platform {

// The text without the blanks and control characters (bytes up to 32) at either end, as
// names, ports and folders typed into a setting are read.
std::string Trimmed(std::string_view text);

} // namespace platform
