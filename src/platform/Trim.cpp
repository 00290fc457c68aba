#include "Trim.h"

namespace platform {

std::string Trimmed(std::string_view text) {
    auto blankOrControl = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blankOrControl(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

} // namespace platform
