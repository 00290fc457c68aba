#include "platform/TextLines.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines ReadAll(platform::TextLineReader& reader) {
    Lines lines;
    while (!reader.Eof())
        lines.push_back(reader.ReadLine());
    return lines;
}

Lines ReadBytes(const std::string& bytes) {
    platform::TextLineReader reader{std::string_view(bytes)};
    return ReadAll(reader);
}

// The count of the list load's first pass, which skips lines without keeping them.
size_t CountLines(platform::TextLineReader& reader) {
    size_t count = 0;
    for (; !reader.Eof(); ++count)
        reader.SkipLine();
    return count;
}

// The everyday shapes (empty file, lone CR LF, no final CR LF, LF-only lines, blank lines,
// Ctrl+Z inside a line) are covered by the list-file tests; these are the rarer ones.
TEST(TextLineReader, LineEndsAreCrLfLoneCrOrLoneLf) {
    struct Case {
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"a\rb\r", {"a", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\r\n\nb\r\n", {"a", "", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\n\rb\n", {"a", "", "b"}},
        {std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
        // Ctrl+Z ends the text, also where a line would start or end.
        {"\x1a", {}},
        {"a\r\n\x1a"
         "b\r\n",
         {"a"}},
        {"a\x1a\r\n", {"a"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadBytes(c.bytes), c.lines) << "input: " << testing::PrintToString(c.bytes);
        platform::TextLineReader counter{std::string_view(c.bytes)};
        EXPECT_EQ(CountLines(counter), c.lines.size())
            << "input: " << testing::PrintToString(c.bytes);
    }
}

} // namespace
