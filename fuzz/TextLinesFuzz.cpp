// The list reader against a plain model of its rules, over bytes and over a file.
#include "Require.h"
#include "ScratchFile.h"
#include "platform/TextLines.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::string filePath = fuzz::ScratchFile("spammers.txt");

// A line ends at CR LF, a lone CR or a lone LF; Ctrl+Z ends the text; a last line without an
// end is still a line.
std::vector<std::string> ModelLines(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\x1a'));
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

std::vector<std::string> ReadAll(platform::TextLineReader& reader, std::size_t limit) {
    std::vector<std::string> lines;
    while (!reader.Eof()) {
        lines.push_back(reader.ReadLine());
        fuzz::Require(lines.size() <= limit, "the reader gives more lines than there are bytes");
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> expected = ModelLines(bytes);

    platform::TextLineReader fromBytes(bytes);
    fuzz::Require(ReadAll(fromBytes, size + 1) == expected, "lines read from bytes");

    std::ofstream(filePath, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
    platform::TextLineReader fromFile(filePath);
    fuzz::Require(ReadAll(fromFile, size + 1) == expected, "lines read from a file");
    return 0;
}
