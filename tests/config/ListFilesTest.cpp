#include "ConfigFixture.h"

#include "platform/Exception.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;

class ListFilesTest : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        CreateConfigData();
    }
};

TEST_F(ListFilesTest, LoadFollowsTheLineRulesToTheByte) {
    std::string longEntry(300, 'L');
    WriteFile(ProgramFile("spammers.txt"), "first\r\n\r\ndup\r\ndup\r\n" + longEntry +
                                               "\r\nlf\nonly\n\r\n  blanks kept \r\nlast");
    LoadSpammerList();
    EXPECT_EQ(ConfigData->SpammerList, (Lines{"first", "", "dup", "dup", longEntry, "lf", "only",
                                              "", "  blanks kept ", "last"}));

    // As a Linux editor writes it: one address a line, each ended by a lone LF.
    WriteFile(ProgramFile("GoodAddr.txt"), "alice@example.test\nbob@example.test\n");
    LoadAddressList();
    EXPECT_EQ(ConfigData->GoodAddrList, (Lines{"alice@example.test", "bob@example.test"}));

    WriteFile(ProgramFile("GoodAddr.txt"), "\r\n");
    LoadAddressList();
    EXPECT_EQ(ConfigData->GoodAddrList, Lines{""});
    WriteFile(ProgramFile("GoodAddr.txt"), "");
    LoadAddressList();
    EXPECT_EQ(ConfigData->GoodAddrList, Lines{});
}

TEST_F(ListFilesTest, ReloadReplacesTheListAndAMissingFileKeepsIt) {
    ConfigData->GoodAddrList = {"kept"};
    ConfigData->SpammerList = {"a", "b", "c", "d"};
    LoadAddressList();
    EXPECT_EQ(ConfigData->GoodAddrList, Lines{"kept"});
    WriteFile(ProgramFile("spammers.txt"), "x\r\ny\r\n");
    LoadSpammerList();
    EXPECT_EQ(ConfigData->SpammerList, (Lines{"x", "y"}));
}

TEST_F(ListFilesTest, SaveWritesEveryEntryWithCrLf) {
    ConfigData->SpammerList = {"a", "", "b c", "lf\ninside"};
    SaveSpammerList();
    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "a\r\n\r\nb c\r\nlf\ninside\r\n");

    ConfigData->SpammerList.clear();
    SaveSpammerList();
    EXPECT_TRUE(std::filesystem::exists(ProgramFile("spammers.txt")));
    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ProgramDir()), {}), 2)
        << "no temporary file is left behind, only the list and the writers' lock file";
}

TEST_F(ListFilesTest, TextAfterCtrlZIsDroppedByTheNextSave) {
    WriteFile(ProgramFile("spammers.txt"), "one\r\ntwo\x1a"
                                           "three\r\nfour\r\n");
    LoadSpammerList();
    EXPECT_EQ(ConfigData->SpammerList, (Lines{"one", "two"}));
    SaveSpammerList();
    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "one\r\ntwo\r\n");
}

// Nothing waiting in the event loop runs in the middle of a load and meets a list half read.
TEST_F(ListFilesTest, SpammersLoadRunsInOneGo) {
    WriteFile(ProgramFile("spammers.txt"), "a\r\n");
    bool ran = false;
    QObject context; // a call left pending ends with the test instead of writing to its frame
    QTimer::singleShot(0, &context, [&] { ran = true; });
    LoadSpammerList();
    EXPECT_FALSE(ran);
    EXPECT_TRUE(testsupport::WaitUntil([&ran] { return ran; }));
}

// A write that fails half way (here: the file size limit) must not cost the old list.
TEST_F(ListFilesTest, FailedSaveRaisesAnInOutErrorAndKeepsTheOldFile) {
    WriteFile(ProgramFile("spammers.txt"), "old\r\n");
    for (int i = 0; i < 100000; ++i)
        ConfigData->SpammerList.push_back("entry " + std::to_string(i));
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previousLimit;
    ::getrlimit(RLIMIT_FSIZE, &previousLimit);
    rlimit small = previousLimit;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(SaveSpammerList(), platform::EInOutError);
    ::setrlimit(RLIMIT_FSIZE, &previousLimit);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "old\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ProgramDir()), {}), 1)
        << "no temporary file is left behind";

    // A list made read-only is not replaced behind its back.
    ::chmod(ProgramFile("spammers.txt").c_str(), 0444);
    try {
        SaveSpammerList();
        ADD_FAILURE() << "a read-only list was replaced";
    } catch (const platform::EInOutError& e) {
        EXPECT_STREQ(e.what(), "File access denied");
    }
    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "old\r\n");
}

} // namespace
