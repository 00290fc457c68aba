#include "platform/Profile.h"
#include "platform/Exception.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(ParseProfileInteger, AcceptsTheIntegerFormsAndNothingElse) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    } cases[] = {
        {"0", 0},
        {"500", 500},
        {" 500", 500},
        {"   -5", -5},
        {"+5", 5},
        {"00012", 12},
        {"0x1A6", 422},
        {"0X1a6", 422},
        {"$1A", 26},
        {"x1A", 26},
        {"X1a", 26},
        {" 0x1A", 26},
        {"-$1A", -26},
        {"+0x1A", 26},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"0xFFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"abc", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"-", std::nullopt},
        {"5 ", std::nullopt},
        {"12abc", std::nullopt},
        {"1.5", std::nullopt},
        {"- 5", std::nullopt},
        {"--5", std::nullopt},
        {"0x-1", std::nullopt},
        {"0x 1A", std::nullopt},
        {"0x1G", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"0x100000000", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ParseProfileInteger(c.text), c.value) << "text: \"" << c.text << "\"";
}

class ProfileFileTest : public testing::Test {
  protected:
    std::string Path() const { return dir.File("Morvandle.ini"); }
    platform::ProfileFile File() const { return platform::ProfileFile(Path()); }

    testsupport::TempDir dir;
};

TEST_F(ProfileFileTest, ReadsValuesWithoutBlanksAroundThemAndCaseInsensitiveNames) {
    EXPECT_EQ(File().ReadString("Config", "Server", "undefined"), "undefined"); // no file yet
    WriteFile(Path(), "[other]\r\nServer=wrong\r\nWidth=1\r\n"
                      "  [ config ]  \r\n"
                      "; a comment\r\n"
                      "SERVER=pop.example.com\r\n"
                      "  Password =  \"(pw)\" \r\n"
                      "Empty=\r\n"
                      "Eq=a=b\r\n"
                      "server=second\r\n"
                      "[Config]\r\nLogin=later section\r\n");
    EXPECT_EQ(File().ReadString("Config", "Server", ""), "pop.example.com");
    EXPECT_EQ(File().ReadString("CONFIG", "password", ""), "\"(pw)\"");
    EXPECT_EQ(File().ReadString("Config", "Empty", "default"), "");
    EXPECT_EQ(File().ReadString("Config", "Eq", ""), "a=b");
    EXPECT_EQ(File().ReadString("Config", "Login", "first section only"), "first section only");
    EXPECT_EQ(File().ReadInteger("Config", "Width", 422), 422);
    EXPECT_EQ(File().ReadString("Missing", "Server", "d"), "d");
}

TEST_F(ProfileFileTest, TextIsCutAt2047Bytes) {
    std::string longValue(2047, 'v');
    File().WriteString("Config", "Exact", longValue);
    File().WriteString("Config", "Long", longValue + "tail");
    EXPECT_EQ(File().ReadString("Config", "Exact", ""), longValue);
    EXPECT_EQ(File().ReadString("Config", "Long", ""), longValue);
}

TEST_F(ProfileFileTest, BooleansAreIntegersWithTheDefaultForNonIntegers) {
    WriteFile(Path(), "[Config]\nB1=1\nB2=2\nB3=-1\nB4=0x10\nB5=0\nB6=yes\nB7=true\nB8=\n");
    for (const char* key : {"B1", "B2", "B3", "B4"})
        EXPECT_TRUE(File().ReadBool("Config", key, false)) << key;
    for (const char* key : {"B5", "B6", "B7", "B8"})
        EXPECT_FALSE(File().ReadBool("Config", key, false)) << key;
    EXPECT_TRUE(File().ReadBool("Config", "B6", true));
    EXPECT_FALSE(File().ReadBool("Config", "B5", true));
}

TEST_F(ProfileFileTest, FirstWriteCreatesFolderFileAndSectionPrivately) {
    std::string path = dir.File("a/b/Morvandle.ini");
    platform::ProfileFile file(path);
    file.WriteString("Config", "Server", "pop.example.com");
    file.WriteInteger("Config", "Left", -12);
    file.WriteBool("Config", "LogLevel", true);
    file.WriteBool("Config", "NoCase", false);
    EXPECT_EQ(ReadFile(path), "[Config]\nServer=pop.example.com\nLeft=-12\nLogLevel=1\nNoCase=0\n");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(dir.File("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(ProfileFileTest, WriteChangesOnlyItsKeyAndKeepsEverythingElse) {
    const std::string before = "; settings\r\n"
                               "[Other]\r\nServer=keep\r\n"
                               "[config]\r\n"
                               "server = old\r\n"
                               "Unknown Key=stays\r\n"
                               "no equals sign here\r\n"
                               "\r\n"
                               "[Third]\r\nA=1\r\n"
                               "[Config]\r\nWidth=9\r\n";
    WriteFile(Path(), before);
    ::chmod(Path().c_str(), 0644);
    // The file is replaced, not rewritten in place: a reader that opened it before still gets
    // the old bytes whole, and a write that fails half way would leave them on disk.
    std::ifstream earlyReader(Path(), std::ios::binary);
    File().WriteString("Config", "Server", "new");
    File().WriteString("Config", "Login", "added");
    File().WriteString("Fresh", "Key", "v");
    EXPECT_EQ(ReadFile(Path()), "; settings\r\n"
                                "[Other]\r\nServer=keep\r\n"
                                "[config]\r\n"
                                "Server=new\r\n"
                                "Unknown Key=stays\r\n"
                                "no equals sign here\r\n"
                                "Login=added\r\n"
                                "\r\n"
                                "[Third]\r\nA=1\r\n"
                                "[Config]\r\nWidth=9\r\n"
                                "[Fresh]\r\nKey=v\r\n");
    struct stat st;
    ASSERT_EQ(::stat(Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds the password";
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlyReader), {}), before);
    EXPECT_EQ(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files).size(), 1)
        << "no temporary file is left behind";
}

TEST_F(ProfileFileTest, WriteCompletesALastLineWithoutLineEnd) {
    WriteFile(Path(), "[Config]\nA=1");
    File().WriteString("Config", "B", "2");
    EXPECT_EQ(ReadFile(Path()), "[Config]\nA=1\nB=2\n");
    WriteFile(Path(), "[Other]\nA=1");
    File().WriteString("Config", "B", "2");
    EXPECT_EQ(ReadFile(Path()), "[Other]\nA=1\n[Config]\nB=2\n");
}

TEST_F(ProfileFileTest, WriteLeavesALoneCarriageReturnAtTheEndInItsValue) {
    // Only LF ends a line, so that CR belongs to the last line and must not become half of a
    // CR LF when a line is added after it.
    struct Case {
        const char* before;
        const char* section;
        const char* after;
    } cases[] = {
        {"[A]\nx=1\r", "New", "[A]\nx=1\r\r\n[New]\nk=v\n"},
        {"[A]\nx=1\r", "A", "[A]\nx=1\r\r\nk=v\n"},
        {"[A]\r\nx=1\r", "A", "[A]\r\nx=1\r\r\nk=v\r\n"},
        {"[\r", "", "[\r\r\n[]\nk=v\n"}, // a section named CR, then a new one
    };
    for (const Case& c : cases) {
        WriteFile(Path(), c.before);
        File().WriteString(c.section, "k", "v");
        EXPECT_EQ(ReadFile(Path()), c.after) << c.before;
        EXPECT_EQ(File().ReadString(c.section, "k", "missing"), "v") << c.before;
    }
    WriteFile(Path(), "[A]\nx=1\r");
    File().WriteString("B", "k", "v");
    EXPECT_EQ(File().ReadString("A", "x", ""), "1\r");
}

TEST_F(ProfileFileTest, NamesThatWouldNotReadBackAreRefused) {
    const std::string before = "[Config]\nServer=s\n";
    struct Case {
        const char* section;
        const char* key;
    } cases[] = {
        {"Config\r", "k"}, {"Con]fig", "k"},  {" Config", "k"},      {"Config\t", "k"},
        {"\t", "k"},       {"Config", "k\n"}, {"Config", "k=1"},     {"Config", " k"},
        {"Config", "k\t"}, {"Config", "[k"},  {"Config", "[Other]"},
    };
    for (const Case& c : cases) {
        WriteFile(Path(), before);
        EXPECT_THROW(File().WriteString(c.section, c.key, "v"), platform::Exception)
            << "section \"" << c.section << "\", key \"" << c.key << "\"";
        EXPECT_EQ(ReadFile(Path()), before);
    }
    // Blanks and brackets inside names are fine: they read back.
    WriteFile(Path(), before);
    File().WriteString("My Config", "a [b] c", "v");
    File().WriteString("[x", "", "empty key");
    EXPECT_EQ(File().ReadString("my config", "A [B] C", ""), "v");
    EXPECT_EQ(File().ReadString("[X", "", ""), "empty key");
    EXPECT_EQ(File().ReadString("Config", "Server", ""), "s");
}

TEST_F(ProfileFileTest, WriteThroughASymbolicLinkUpdatesItsTarget) {
    WriteFile(dir.File("real.ini"), "[Config]\n");
    std::filesystem::create_symlink(dir.File("real.ini"), Path());
    File().WriteString("Config", "Server", "x");
    EXPECT_TRUE(std::filesystem::is_symlink(Path()));
    EXPECT_EQ(ReadFile(dir.File("real.ini")), "[Config]\nServer=x\n");
}

TEST_F(ProfileFileTest, RefusedWritesRaiseTheErrorAndLeaveTheFileAlone) {
    auto expectRefused = [](const platform::ProfileFile& file, const std::string& value) {
        try {
            file.WriteString("Config", "Password", value);
            ADD_FAILURE() << "write was not refused";
        } catch (const platform::Exception& e) {
            EXPECT_STREQ(e.what(), "Unable to write to Morvandle.ini");
        }
    };
    WriteFile(dir.File("plain-file"), "not a folder");
    expectRefused(platform::ProfileFile(dir.File("plain-file/Morvandle.ini")), "x");
    EXPECT_EQ(ReadFile(dir.File("plain-file")), "not a folder");

    // A value holding a line end would split into a second, injected line.
    WriteFile(Path(), "[Config]\nPassword=old\n");
    expectRefused(File(), "a\r\nServer=evil");
    expectRefused(File(), "a\nb");
    EXPECT_EQ(ReadFile(Path()), "[Config]\nPassword=old\n");

    // A file made read-only stays as it is, though its folder would allow a replacement.
    ::chmod(Path().c_str(), 0400);
    expectRefused(File(), "new");
    EXPECT_EQ(ReadFile(Path()), "[Config]\nPassword=old\n");
}

// A check reads some thirty keys: one parse serves them while the file stays as it is, and
// a change by anyone, however it is made, is read at once.
TEST_F(ProfileFileTest, ReadsParseTheFileOnceAndSeeEveryChange) {
    WriteFile(Path(), "[Config]\nServer=one\n");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ::inotify_add_watch(watch, dir.Path().c_str(), IN_OPEN);
    int opens = 0;
    auto countOpens = [&] {
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (char* at = events; at < events + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                opens += event->len > 0 && std::string(event->name) == "Morvandle.ini";
                at += sizeof(inotify_event) + event->len;
            }
        return opens;
    };
    // Parses are kept only for a file that has been still for a moment.
    auto settled = [&] {
        File().ReadString("Config", "Server", "");
        const int before = countOpens();
        File().ReadString("Config", "Server", "");
        return countOpens() == before;
    };
    ASSERT_TRUE(testsupport::WaitUntil(settled));
    const int before = countOpens();
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(File().ReadString("Config", "Server", ""), "one");
    EXPECT_EQ(File().ReadInteger("config", "Missing", 7), 7);
    EXPECT_EQ(countOpens(), before);

    struct Change {
        const char* what;
        std::function<void()> make;
        const char* value;
    } changes[] = {
        {"rewritten in place, same size", [&] { WriteFile(Path(), "[Config]\nServer=two\n"); },
         "two"},
        {"replaced by another file",
         [&] {
             WriteFile(dir.File("new.ini"), "[Config]\nServer=three\n");
             std::filesystem::rename(dir.File("new.ini"), Path());
         },
         "three"},
        {"its time set back",
         [&] {
             struct stat old;
             ::stat(Path().c_str(), &old);
             WriteFile(Path(), "[Config]\nServer=four!\n");
             const timespec times[2] = {old.st_atim, old.st_mtim};
             ::utimensat(AT_FDCWD, Path().c_str(), times, 0);
         },
         "four!"},
        {"written here", [&] { File().WriteString("Config", "Server", "five"); }, "five"},
        {"removed", [&] { std::filesystem::remove(Path()); }, "undefined"},
    };
    for (const Change& change : changes) {
        ASSERT_TRUE(testsupport::WaitUntil(settled)) << change.what;
        change.make();
        EXPECT_EQ(File().ReadString("Config", "Server", "undefined"), change.value) << change.what;
    }
    ::close(watch);
}

} // namespace
