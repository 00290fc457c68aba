// The update-file line splitter against a plain model of its rules (NUL ends the text), over
// bytes and over a file.
#include "LineModel.h"
#include "Require.h"
#include "ScratchFile.h"
#include "update/UpdateFile.h"

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {
const std::string filePath = fuzz::ScratchFile("spamupd.txt");

std::vector<std::string> Lines(const update::TUpdateLines& lines) {
    return std::vector<std::string>(lines.begin(), lines.end());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> expected = fuzz::ModelLines(bytes, '\0');
    const update::TUpdateLines fromBytes{std::string(bytes)};
    fuzz::Require(Lines(fromBytes) == expected, "lines split from bytes");
    fuzz::Require(fromBytes.size() == expected.size(), "the line count");
    const std::size_t nul = bytes.find('\0');
    fuzz::Require(fromBytes.NulOffset() == (nul == std::string_view::npos
                                                ? std::nullopt
                                                : std::optional<std::size_t>(nul)) &&
                      (nul == std::string_view::npos ||
                       fromBytes.BytesAfterNul() == size - nul - 1),
                  "where a NUL ended the text");

    std::ofstream(filePath, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
    fuzz::Require(Lines(update::ReadUpdateFile(filePath, 1 << 20)) == expected,
                  "lines read from a file");
    return 0;
}
