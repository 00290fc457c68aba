// Settings and list files as people and their editors write them.
#include "ConfigFixture.h"

#include <functional>

namespace {

using Lines = std::vector<std::string>;
using HandWrittenFiles = ConfigFixture;

TEST_F(HandWrittenFiles, BlanksAndTabsAroundAValueDoNotChangeIt) {
    struct Case {
        std::string line;
        std::function<std::string()> field;
        std::string expected;
    } const cases[] = {
        {"Unknown=1 ", [] { return std::to_string(ConfigData->Unknown); }, "1"},
        {"Quarantine=0\t", [] { return std::to_string(ConfigData->Quarantine); }, "0"},
        {"Quarantine=\t0 ", [] { return std::to_string(ConfigData->Quarantine); }, "0"},
        {"Security=0 ", [] { return std::to_string(ConfigData->Security); }, "0"},
        {"Width= 500\t", [] { return std::to_string(ConfigData->Width); }, "500"},
        {"Server= \tpop.example.com \t", [] { return ConfigData->Server; }, "pop.example.com"},
        {"MaxUpdateSize=1000 ", [] { return std::to_string(ConfigData->MaxUpdateSize); }, "1000"},
        {"MaxUpdateSize=0", [] { return std::to_string(ConfigData->MaxUpdateSize); }, "16777216"},
    };
    for (const Case& c : cases) {
        WriteFile(IniPath(), "[Config]\r\n" + c.line + "\r\n");
        CreateConfigData();
        EXPECT_EQ(c.field(), c.expected) << c.line;
        DestroyConfigData();
    }

    // The scrambling turns "(" into a blank, 0x01 into a tab and "*" into a quote.
    for (const std::string password : {"(secret", "secret(", "\x01tab", "*quoted*", "(", "plain"}) {
        CreateConfigData();
        WritePasswordKey(password);
        DestroyConfigData();
        CreateConfigData();
        EXPECT_EQ(ConfigData->Password, password);
        DestroyConfigData();
    }
}

TEST_F(HandWrittenFiles, ListsInTheEncodingsEditorsWrite) {
    const std::string smile = "\xF0\x9F\x98\x80", replacement = "\xEF\xBF\xBD";
    struct Case {
        const char* name;
        std::string bytes;
        Lines entries;
    } const cases[] = {
        {"UTF-8 with a byte-order mark",
         "\xEF\xBB\xBFme@example.test\r\nyou@example.test\r\n",
         {"me@example.test", "you@example.test"}},
        {"UTF-16 little endian, CR LF and LF mixed",
         std::string("\xFF\xFEm\0e\0\r\0\n\0\xE9\0\n\0z\0", 16),
         {"me", "\xC3\xA9", "z"}},
        {"UTF-16 big endian, a pair and a lone surrogate",
         std::string("\xFE\xFF\xD8\x3D\xDE\x00\0\r\xD8\x00\0a\0\r\0\n", 16),
         {smile, replacement + "a"}},
        {"UTF-16 with an odd last byte",
         std::string("\xFF\xFE"
                     "a\0b",
                     5),
         {"a" + replacement}},
        {"8-bit text stays as it is", "caf\xE9\r\n\xFF\xFE", {"caf\xE9", "\xFF\xFE"}},
    };
    for (const Case& c : cases) {
        WriteFile(ProgramFile("GoodAddr.txt"), c.bytes);
        WriteFile(ProgramFile("spammers.txt"), c.bytes);
        CreateConfigData();
        EXPECT_EQ(ConfigData->GoodAddrList, c.entries) << c.name;
        EXPECT_EQ(ConfigData->SpammerList, c.entries) << c.name;
        DestroyConfigData();
    }
}

} // namespace
