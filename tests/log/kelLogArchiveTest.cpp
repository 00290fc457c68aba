#include "LogFixture.h"

#include "platform/ErrorReport.h"

#include <QDir>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <vector>

namespace {

class ArchiveTest : public LogTest {
  protected:
    void SetUp() override {
        LogTest::SetUp();
        log.SetLogFileName(logName);
        log.SetOptions({});
        log.SetMaxSize(1024);
    }
    void TearDown() override {
        log.SetArchiveMode(bkNone);
        LogTest::TearDown();
    }
    std::string Backup(const std::string& name) const { return dir.File(name); }

    TkelLog log;
};

void SetWriteTime(const std::string& path, const QDateTime& t) {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(t, QFileDevice::FileModificationTime));
}

} // namespace

TEST_F(ArchiveTest, AFileOfMaxSizeRollsBesideTheLogAndOneByteLessDoesNot) {
    WriteFile(logName, std::string(1023, 'a'));
    log.AddLine("", "", "next");
    EXPECT_EQ(ReadFile(logName), std::string(1023, 'a') + "next\r\n");
    EXPECT_FALSE(Exists(Backup("12-2026-spammers.log.1")));

    // The backup goes beside the log, whatever the process's current folder is.
    testsupport::TempDir elsewhere;
    const QString previousFolder = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(elsewhere.Path())));
    WriteFile(logName, std::string(1024, 'b'));
    log.AddLine("", "", "first of the new file");
    QDir::setCurrent(previousFolder);
    EXPECT_EQ(ReadFile(Backup("12-2026-spammers.log.1")), std::string(1024, 'b'));
    EXPECT_EQ(ReadFile(logName), "first of the new file\r\n");
    EXPECT_FALSE(Exists(elsewhere.File("12-2026-spammers.log.1")));
}

// The program's own log keeps one backup, spammers.log.1, whatever the month.
TEST_F(ArchiveTest, ASingleBackupReplacesTheOneBefore) {
    log.SetSingleBackup(true);
    struct Case {
        const char* name;
        std::size_t size;
        std::string backupBefore, backupAfter, logAfter;
    } cases[] = {
        {"below the limit", 1023, "<missing>", "<missing>", std::string(1023, 'a') + "next\r\n"},
        {"at the limit", 1024, "<missing>", std::string(1024, 'a'), "next\r\n"},
        {"an older backup", 1500, "older", std::string(1500, 'a'), "next\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(QString::fromStdString(Backup("spammers.log.1")));
        if (c.backupBefore != "<missing>") WriteFile(Backup("spammers.log.1"), c.backupBefore);
        WriteFile(logName, std::string(c.size, 'a'));
        log.AddLine("", "", "next");
        EXPECT_EQ(ReadFile(Backup("spammers.log.1")), c.backupAfter);
        EXPECT_EQ(ReadFile(logName), c.logAfter);
        EXPECT_FALSE(Exists(Backup("12-2026-spammers.log.1")));
    }
}

TEST_F(ArchiveTest, BackupsCountUpSkipTakenNamesAndRestartInANewMonth) {
    WriteFile(Backup("12-2026-spammers.log.1"), "from an earlier run");
    WriteFile(logName, std::string(1024, 'x'));
    log.AddLine("", "", "a");
    WriteFile(logName, std::string(1500, 'y'));
    log.AddLine("", "", "b");
    EXPECT_EQ(ReadFile(Backup("12-2026-spammers.log.1")), "from an earlier run");
    EXPECT_EQ(ReadFile(Backup("12-2026-spammers.log.2")), std::string(1024, 'x'));
    EXPECT_EQ(ReadFile(Backup("12-2026-spammers.log.3")), std::string(1500, 'y'));

    platform::SetNowOverride(QDateTime(QDate(2027, 1, 2), QTime(0, 0, 1)));
    WriteFile(logName, std::string(1024, 'z'));
    log.AddLine("", "", "c");
    EXPECT_EQ(ReadFile(Backup("01-2027-spammers.log.1")), std::string(1024, 'z'));
    EXPECT_EQ(ReadFile(logName), "c\r\n");
}

TEST_F(ArchiveTest, ArchiveDirIsCreatedOneLevelDeep) {
    log.SetArchiveDir(" " + dir.File("old") + "/ ");
    WriteFile(logName, std::string(2000, 'x'));
    log.AddLine("", "", "a");
    EXPECT_EQ(ReadFile(dir.File("old/12-2026-spammers.log.1")), std::string(2000, 'x'));
}

TEST_F(ArchiveTest, AFailedMoveKeepsTheLogAndDropsTheLine) {
    // A file stands where the archive folder's parent should be: no folder, no move.
    WriteFile(dir.File("plain"), "");
    log.SetArchiveDir(dir.File("plain/old"));
    WriteFile(logName, std::string(1024, 'x'));
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            log.AddLine("", "", "lost");
            FAIL() << "no error";
        } catch (const ELogBackupError& e) {
            EXPECT_STREQ(e.what(), "Error saving log backup");
        }
        EXPECT_EQ(ReadFile(logName), std::string(1024, 'x'));
    }
    // A handler for ELogError receives it too.
    EXPECT_THROW(log.AddLine("", "", "lost"), ELogError);
}

TEST_F(ArchiveTest, AFolderNamedLikeTheLogNeverRolls) {
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(logName)));
    EXPECT_THROW(log.AddLine("", "", "a"), platform::EInOutError);
    EXPECT_TRUE(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files).isEmpty());
}

TEST_F(ArchiveTest, BetweenFileSystemsTheMoveCopiesAndDeletes) {
    struct stat here {};
    struct stat shm {};
    if (::stat(dir.Path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    QTemporaryDir other("/dev/shm/morvandle-XXXXXX");
    ASSERT_TRUE(other.isValid());
    log.SetArchiveDir(other.path().toStdString());
    WriteFile(logName, std::string(1024, 'x'));
    log.AddLine("", "", "a");
    EXPECT_EQ(ReadFile(other.path().toStdString() + "/12-2026-spammers.log.1"),
              std::string(1024, 'x'));
    EXPECT_EQ(ReadFile(logName), "a\r\n");
}

TEST_F(ArchiveTest, DateModesRollByWholeDaysSinceTheLastWrite) {
    struct Case {
        TLogArchiveMode mode;
        QDate today;
        QDateTime written;
        bool rolls;
    };
    const QTime noon(12, 0);
    const std::vector<Case> cases = {
        {bkDaily, {2026, 12, 6}, {{2026, 12, 5}, {23, 59, 59}}, true},
        {bkDaily, {2026, 12, 6}, {{2026, 12, 6}, {0, 0, 1}}, false},
        {bkDaily, {2026, 12, 6}, {{2026, 12, 9}, noon}, false}, // written "in the future"
        {bkWeekly, {2026, 12, 6}, {{2026, 11, 30}, noon}, false},
        {bkWeekly, {2026, 12, 6}, {{2026, 11, 29}, noon}, true},
        {bkMonthly, {2026, 12, 6}, {{2026, 11, 6}, noon}, false}, // 30 days, December has 31
        {bkMonthly, {2026, 12, 6}, {{2026, 11, 5}, noon}, true},
        {bkMonthly, {2028, 2, 15}, {{2028, 1, 18}, noon}, false}, // 28 days, leap February
        {bkMonthly, {2028, 2, 15}, {{2028, 1, 17}, noon}, true},
        {bkMonthly, {2100, 2, 15}, {{2100, 1, 18}, noon}, true}, // 2100 is no leap year
    };
    for (const Case& c : cases) {
        const std::string label =
            std::to_string(c.mode) + " " + c.written.toString(Qt::ISODate).toStdString();
        platform::SetNowOverride(QDateTime(c.today, QTime(0, 0, 1)));
        log.SetArchiveMode(c.mode);
        WriteFile(logName, "old\r\n");
        SetWriteTime(logName, c.written);
        log.AddLine("", "", "new");
        const std::string stamp = c.today.toString("MM-yyyy").toStdString();
        const std::string backup = Backup(stamp + "-spammers.log.1");
        EXPECT_EQ(Exists(backup), c.rolls) << label;
        EXPECT_EQ(ReadFile(logName), c.rolls ? "new\r\n" : "old\r\nnew\r\n") << label;
        QFile::remove(QString::fromStdString(backup));
    }
}

TEST_F(ArchiveTest, DateModesLeaveAMissingFileAlone) {
    log.SetArchiveMode(bkMonthly);
    log.AddLine("", "", "first");
    EXPECT_EQ(ReadFile(logName), "first\r\n");
}

TEST_F(ArchiveTest, DestructionRollsFirstAndReportsWhatItCannotThrow) {
    {
        TkelLog rolling;
        rolling.SetLogFileName(logName);
        rolling.SetMaxSize(1024);
        WriteFile(logName, std::string(1024, 'x'));
    }
    // Rolled away: neither the backup nor a new file gets the empty line.
    EXPECT_EQ(ReadFile(Backup("12-2026-spammers.log.1")), std::string(1024, 'x'));
    EXPECT_FALSE(Exists(logName));

    std::vector<std::string> shown;
    platform::ScopedErrorReporter reporter([&](const std::string& m) { shown.push_back(m); });
    WriteFile(dir.File("plain"), "");
    WriteFile(logName, std::string(1024, 'y'));
    {
        TkelLog failing;
        failing.SetLogFileName(logName);
        failing.SetMaxSize(1024);
        failing.SetArchiveDir(dir.File("plain/old"));
    }
    EXPECT_EQ(shown, std::vector<std::string>{"Error saving log backup"});
    EXPECT_EQ(ReadFile(logName), std::string(1024, 'y'));
}
