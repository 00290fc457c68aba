#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// The plain rules of the program's text files: a line ends at CR LF, at a lone CR or at a
// lone LF; the byte endOfText ends the text; a last line without an end is still a line, and
// a line end at the very end makes no extra empty line.
inline std::vector<std::string> ModelLines(std::string_view bytes, char endOfText) {
    bytes = bytes.substr(0, bytes.find(endOfText));
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        lines.push_back(line);
        line.clear();
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

} // namespace fuzz
