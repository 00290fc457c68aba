// The update-file line splitter against a plain model of its rules (NUL ends the text), over
// bytes and over a file.
#include "LineModel.h"
#include "Require.h"
#include "ScratchFile.h"
#include "update/UpdateFile.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {
const std::string filePath = fuzz::ScratchFile("spamupd.txt");
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> expected = fuzz::ModelLines(bytes, '\0');
    fuzz::Require(update::SplitUpdateLines(bytes) == expected, "lines split from bytes");

    std::ofstream(filePath, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
    fuzz::Require(update::ReadUpdateFile(filePath) == expected, "lines read from a file");
    return 0;
}
