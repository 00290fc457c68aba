// The list reader against a plain model of its rules (Ctrl+Z ends the text).
#include "LineModel.h"
#include "Require.h"
#include "platform/TextLines.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

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
    const std::vector<std::string> expected = fuzz::ModelLines(bytes, '\x1a');

    platform::TextLineReader fromBytes(bytes);
    fuzz::Require(ReadAll(fromBytes, size + 1) == expected, "lines read from bytes");
    return 0;
}
