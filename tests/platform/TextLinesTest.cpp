#include "platform/TextLines.h"
#include "platform/Exception.h"
#include "support/TempDir.h"

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

using testsupport::WriteFile;

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

// The file reader works in chunks: line ends and long lines must survive chunk borders.
TEST(TextLineReader, FileGivesTheSameLinesAcrossChunkBorders) {
    testsupport::TempDir dir;
    const size_t chunk = 64 * 1024;
    std::string longLine(3 * chunk + 17, 'x');
    std::string first(chunk - 1, 'a'); // its CR is the chunk's last byte, the LF the next one
    std::string bytes = first + "\r\n" + longLine + "\r\n\r\nlast";
    WriteFile(dir.File("list.txt"), bytes);

    platform::TextLineReader reader(dir.File("list.txt"));
    EXPECT_EQ(ReadAll(reader), (Lines{first, longLine, "", "last"}));
    platform::TextLineReader counter(dir.File("list.txt"));
    EXPECT_EQ(CountLines(counter), 4u);

    std::string beforeZ(chunk, 'b'); // Ctrl+Z as the first byte of the second chunk
    WriteFile(dir.File("z.txt"), beforeZ + "\x1a" + "tail\r\n");
    platform::TextLineReader zReader(dir.File("z.txt"));
    EXPECT_EQ(ReadAll(zReader), (Lines{beforeZ}));
}

TEST(TextLineReader, OpenAndReadErrorsAreInOutErrors) {
    testsupport::TempDir dir;
    try {
        platform::TextLineReader reader(dir.File("missing.txt"));
        FAIL() << "opened a missing file";
    } catch (const platform::EInOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    platform::TextLineReader folder(dir.Path()); // opens, but reading a folder fails
    EXPECT_THROW(folder.Eof(), platform::EInOutError);
}

} // namespace
