// The settings file: after a write the value reads back (its first 2047 bytes) and every
// other key reads as before; a refused write leaves the file byte for byte as it was and is
// refused only for a name or value that could not read back.
#include "Require.h"
#include "ScratchFile.h"
#include "platform/Exception.h"
#include "platform/Profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::string path = fuzz::ScratchFile("Morvandle.ini");

struct Name {
    std::string section, key;
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Every key of the file under the section header above it, as a reader would see them.
std::vector<Name> NamesIn(std::string_view data) {
    std::vector<Name> names;
    std::string section;
    while (!data.empty()) {
        const std::size_t lf = data.find('\n');
        std::string_view line = data.substr(0, lf);
        data.remove_prefix(lf == std::string_view::npos ? data.size() : lf + 1);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view t = Trim(line);
        if (!t.empty() && t.front() == '[')
            section = Trim(t.substr(1, t.find(']') - 1));
        else if (line.find('=') != std::string_view::npos)
            names.push_back({section, std::string(Trim(line.substr(0, line.find('='))))});
    }
    return names;
}

bool OneLine(std::string_view s) {
    return s.find_first_of("\r\n") == std::string_view::npos;
}

bool WritableNames(std::string_view section, std::string_view key) {
    return OneLine(section) && OneLine(key) && section.find(']') == std::string_view::npos &&
           key.find('=') == std::string_view::npos && Trim(section) == section &&
           Trim(key) == key && (key.empty() || key.front() != '[');
}

std::string FileBytes() {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(16);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::string value = in.ConsumeRandomLengthString(3000);
    const std::string before = in.ConsumeRemainingBytesAsString();
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(before.data(), before.size());

    const platform::ProfileFile file(path);
    std::vector<Name> others = NamesIn(before);
    if (others.size() > 64) others.resize(64);
    const std::string missing = "\x01missing";
    std::vector<std::string> seen;
    for (const Name& n : others)
        seen.push_back(file.ReadString(n.section, n.key, missing));

    bool written = true;
    try {
        file.WriteString(section, key, value);
    } catch (const platform::Exception&) {
        written = false;
    }
    if (!written) {
        fuzz::Require(FileBytes() == before, "a refused write leaves the file as it was");
        fuzz::Require(!WritableNames(section, key) || !OneLine(value),
                      "only what could not read back is refused");
        return 0;
    }
    fuzz::Require(WritableNames(section, key) && OneLine(value),
                  "what could not read back is refused");
    // Blanks and tabs around a value are not part of it when it is read.
    fuzz::Require(file.ReadString(section, key, missing) == Trim(value).substr(0, 2047),
                  "the written value reads back");
    for (std::size_t i = 0; i < others.size(); ++i) {
        if (SameName(others[i].section, section) && SameName(others[i].key, key)) continue;
        fuzz::Require(file.ReadString(others[i].section, others[i].key, missing) == seen[i],
                      "another key reads as before: [" + others[i].section + "] " + others[i].key);
    }
    const std::optional<int32_t> n = platform::ParseProfileInteger(Trim(value));
    if (n && Trim(value).size() <= 2047)
        fuzz::Require(file.ReadInteger(section, key, 0) == *n &&
                          platform::ParseProfileInteger(std::to_string(*n)) == n,
                      "an integer reads back");
    return 0;
}
