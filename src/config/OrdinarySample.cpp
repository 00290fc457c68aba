#include "OrdinarySample.h"

std::vector<std::string> SampleMessages(std::string_view file) {
    std::vector<std::string> messages;
    std::string text;
    std::size_t at = 0;
    while (at < file.size()) {
        std::size_t end = file.find('\n', at);
        if (end == std::string_view::npos) end = file.size();
        const std::string_view line = file.substr(at, end - at);
        at = end + 1;
        if (!line.empty()) {
            text.append(line).append("\r\n");
            continue;
        }
        if (!text.empty()) messages.push_back(text + "\r\n");
        text.clear();
    }
    if (!text.empty()) messages.push_back(text + "\r\n");
    return messages;
}
