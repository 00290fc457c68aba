#include "TextMatch.h"

namespace screening {

std::string LowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::size_t Pos(const std::string& sub, const std::string& text) {
    if (sub.empty() || text.empty()) return 0;
    auto at = text.find(sub);
    return at == std::string::npos ? 0 : at + 1;
}

std::string HeaderText(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const auto& line : lines)
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

} // namespace screening
