// The FTP client's reply parsing and texts, as pure functions.

#include "net/FtpCli.h"

#include <gtest/gtest.h>

namespace {

TEST(FtpParse, StatusCodes) {
    struct Case {
        const char* line;
        int code;
        bool intermediate;
    } cases[] = {
        {"220 ready", 220, false},
        {"220-first line of a banner", 220, true},
        {"  \t230 logged in", 230, false},
        {"+331 sign allowed", 331, false},
        {"no digits at all", 0, false},
        {"-5-", -5, true},
        {"250", 250, false},
        {"", 0, false},
        {"-", 0, false}, // a hyphen without digits is no intermediate line
    };
    for (const auto& c : cases) {
        TFtpStatus s = FtpReadStatus(c.line);
        EXPECT_EQ(s.Code, c.code) << c.line;
        EXPECT_EQ(s.Intermediate, c.intermediate) << c.line;
    }
}

TEST(FtpParse, SizeAndFolderReplies) {
    EXPECT_EQ(FtpParseSize("213 1234"), 1234);
    EXPECT_EQ(FtpParseSize("213 99999999999"), INT32_MAX);
    EXPECT_EQ(FtpParseSize("213"), 0);
    struct Case {
        const char* line;
        const char* dir;
    } cases[] = {
        {"257 \"/pub/apps\" is the current directory", "/pub/apps"},
        {"257   \"/a \"\"b\"\" c\" created", "/a \"b\" c"},
        {"250 Directory successfully changed.", ""},
        {"257 \"unterminated", "unterminated"},
        {"257 \"\"\"\"", "\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FtpParseDirName(c.line), c.dir) << c.line;
}

TEST(FtpParse, StatisticsText) {
    struct Case {
        int64_t bytes, start, end;
        const char* text;
    } cases[] = {
        {10000, 1000, 3000, "! 10000 bytes received/sent in 2 seconds (5000 Bytes/sec)"},
        {10000, 500, 500, "! 10000 bytes received/sent in 0 seconds"},
        // Up to 32767 bytes the product comes first; above, the division truncates first.
        {32767, 0, 3000, "! 32767 bytes received/sent in 3 seconds (10922 Bytes/sec)"},
        {32768, 0, 3000, "! 32768 bytes received/sent in 3 seconds (10000 Bytes/sec)"},
        {104857600, 0, 1999, "! 104857600 bytes received/sent in 1 seconds (52455000 Bytes/sec)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FtpStatisticsText(c.bytes, c.start, c.end), c.text);
}

TEST(FtpParse, DisplayLines) {
    using L = std::vector<std::string>;
    EXPECT_EQ(FtpSplitDisplayLines("a\r\nbb\r\n"), (L{"a", "bb"}));
    EXPECT_EQ(FtpSplitDisplayLines("\r\n\r\nx\ny\rz"), (L{"x", "y", "z"}));
    EXPECT_EQ(FtpSplitDisplayLines("cut"), (L{"cut"}));
    EXPECT_EQ(FtpSplitDisplayLines("\r\n"), L{});
}

} // namespace
