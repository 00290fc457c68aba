#include "LogFixture.h"

#include "platform/DateTimeFormat.h"
#include "platform/ErrorReport.h"

#include <cerrno>
#include <memory>
#include <vector>

namespace {
// Locale-free, so the expected lines hold on any machine.
const char* plainFormat = "dd-mm-yyyy hh.nn.ss ";
} // namespace

TEST_F(LogTest, EachOptionSetGivesItsLineFormat) {
    struct Case {
        TLogOptions options;
        std::string source, category, expected;
    };
    const std::vector<Case> cases = {
        {{}, "src", "cat", "text\r\n"},
        {{logTimestamp}, "src", "cat", "06-12-2026 14.05.09 text\r\n"},
        {{logSource}, "src", "cat", "src: text\r\n"},
        {{logCategory}, "src", "cat", "[cat] text\r\n"},
        {{logTimestamp, logSource, logCategory},
         "src",
         "cat",
         "src: 06-12-2026 14.05.09 [cat] text\r\n"},
        // Empty pieces keep their punctuation.
        {{logSource, logTimestamp, logCategory}, "", "", ": 06-12-2026 14.05.09 [] text\r\n"},
    };
    for (const Case& c : cases) {
        QFile::remove(QString::fromStdString(logName));
        TkelLog log;
        log.SetLogFileName(logName);
        log.SetTimestampFormat(plainFormat);
        log.SetOptions(c.options);
        log.AddLine(c.source, c.category, "text");
        EXPECT_EQ(ReadFile(logName), c.expected) << c.expected;
        QFile::remove(QString::fromStdString(logName)); // so destruction adds nothing
    }
}

TEST_F(LogTest, LinesAreAppendedBytesUnchangedAndARunEndsWithAnEmptyLine) {
    WriteFile(logName, "earlier run\r\n\r\n");
    {
        TkelLog log;
        log.SetLogFileName(logName);
        log.SetOptions({});
        log.AddLine("", "", "one");
        log.AddLine("", "", "two\nlines \xe9\xc3\xa4");
        // Complete on disk after each line, not only at the end.
        EXPECT_EQ(ReadFile(logName), "earlier run\r\n\r\none\r\ntwo\nlines \xe9\xc3\xa4\r\n");
    }
    EXPECT_EQ(ReadFile(logName), "earlier run\r\n\r\none\r\ntwo\nlines \xe9\xc3\xa4\r\n\r\n");
}

// One log writing line after line: each line carries the moment it is written at, in the
// format set at that moment.
TEST_F(LogTest, EachLineCarriesTheTimeAndFormatOfItsOwnWrite) {
    struct Case {
        QTime time;
        int daysLater;
        const char* format;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {QTime(14, 5, 9), 0, plainFormat, "06-12-2026 14.05.09 x\r\n"},
        {QTime(14, 5, 9, 999), 0, plainFormat, "06-12-2026 14.05.09 x\r\n"},
        {QTime(14, 5, 10), 0, plainFormat, "06-12-2026 14.05.10 x\r\n"},
        {QTime(14, 5, 10), 0, "hh.nn.ss dd-mm ", "14.05.10 06-12 x\r\n"},
        {QTime(14, 5, 10), 1, "hh.nn.ss dd-mm ", "14.05.10 07-12 x\r\n"},
        {QTime(14, 5, 9), 1, "hh.nn.ss dd-mm ", "14.05.09 07-12 x\r\n"}, // the clock went back
    };
    TkelLog log;
    log.SetLogFileName(logName);
    std::string expected;
    for (const Case& c : cases) {
        platform::SetNowOverride(QDateTime(QDate(2026, 12, 6).addDays(c.daysLater), c.time));
        log.SetTimestampFormat(c.format);
        log.AddLine("", "", "x");
        expected += c.expected;
        EXPECT_EQ(ReadFile(logName), expected);
    }
    QFile::remove(QString::fromStdString(logName)); // so destruction adds nothing
}

// The program's own log: a new component's options with the program's format, in the
// system's locale.
TEST_F(LogTest, TheProgramsLogWritesTimestampBlankText) {
    {
        TkelLog log;
        log.SetTimestampFormat("dd mmm yyyy hh:nn:ss ");
        log.SetLogFileName(logName);
        log.AddLine("", "", "Connection to mail server established");
    }
    const QLocale locale = QLocale::system();
    const std::string month = locale.monthName(12, QLocale::ShortFormat).toStdString();
    const std::string sep = platform::TimeSeparator(locale);
    EXPECT_EQ(ReadFile(logName), "06 " + month + " 2026 14" + sep + "05" + sep +
                                     "09 Connection to mail server established\r\n\r\n");
    if (locale.language() == QLocale::C || locale.language() == QLocale::English) {
        EXPECT_EQ(ReadFile(logName),
                  "06 Dec 2026 14:05:09 Connection to mail server established\r\n\r\n");
    }
}

TEST_F(LogTest, DestroyedWithoutAFileItWritesAndCreatesNothing) {
    {
        TkelLog log;
        log.SetLogFileName(logName);
    }
    { TkelLog unnamed; }
    EXPECT_FALSE(Exists(logName));
}

TEST_F(LogTest, FailuresToOpenOrWriteReachTheCallerAndLeaveTheLogUsable) {
    TkelLog log;
    log.SetArchiveMode(bkNone);
    log.SetLogFileName(dir.File("missing/spammers.log"));
    try {
        log.AddLine("", "", "x");
        FAIL() << "no error";
    } catch (const platform::EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, ENOENT);
    }
    EXPECT_FALSE(Exists(dir.Path() + "/missing"));

    // A full disk: the write fails with the system's error code in the message.
    log.SetLogFileName("/dev/full");
    try {
        log.AddLine("", "", "x");
        FAIL() << "no error";
    } catch (const ELogBackupError&) {
        FAIL() << "not a backup error";
    } catch (const ELogError& e) {
        EXPECT_STREQ(e.what(), "Error writing log file (28)");
    }

    // The failed line left no file open behind: the next line goes where it should.
    log.SetLogFileName(logName);
    log.SetOptions({});
    log.AddLine("", "", "after");
    EXPECT_EQ(ReadFile(logName), "after\r\n");
}

TEST_F(LogTest, SettersStoreCompareAndNotifyAsEachPropertyRequires) {
    TkelLog log;
    // The default options and archive mode show in the program's log and the roll-over tests.
    EXPECT_EQ(log.MaxSize(), 524288);
    EXPECT_EQ(log.TimestampFormat(), "dd/mmm/yyyy hh:nn:ss ");

    int changes = 0;
    log.OnChange = [&](TkelLog& sender) {
        EXPECT_EQ(&sender, &log);
        ++changes;
    };
    try {
        log.SetMaxSize(1023);
        FAIL() << "1023 accepted";
    } catch (const ELogError& e) {
        EXPECT_STREQ(e.what(), "Invalid MaxSize value");
    }
    EXPECT_EQ(log.MaxSize(), 524288);
    EXPECT_EQ(changes, 0);
    log.SetMaxSize(1024);
    log.SetMaxSize(1024);
    EXPECT_EQ(log.MaxSize(), 1024);
    EXPECT_EQ(changes, 1);

    log.SetOptions({logTimestamp});
    log.SetArchiveMode(bkSize);
    EXPECT_EQ(changes, 1);
    log.SetOptions({logSource});
    log.SetArchiveMode(bkDaily);
    EXPECT_EQ(changes, 3);

    log.SetLogFileName("/var/log/Spammers.log");
    log.SetLogFileName("/VAR/LOG/spammers.LOG");
    EXPECT_EQ(log.LogFileName(), "/var/log/Spammers.log");
    EXPECT_EQ(changes, 4);
    // Names in an 8-bit character set are no UTF-8: two different ones are two files.
    log.SetLogFileName("/var/log/caf\xe9.log");
    log.SetLogFileName("/var/log/caf\xe8.log");
    EXPECT_EQ(log.LogFileName(), "/var/log/caf\xe8.log");
    log.SetLogFileName("/var/log/Spammers.log");
    EXPECT_EQ(changes, 7);

    log.SetTimestampFormat("hh ");
    log.SetArchiveDir("  /tmp/backups/ \t");
    EXPECT_EQ(log.ArchiveDir(), "/tmp/backups");
    log.SetArchiveDir("/tmp/a//");
    EXPECT_EQ(log.ArchiveDir(), "/tmp/a/");
    log.SetArchiveDir(" \t ");
    EXPECT_EQ(log.ArchiveDir(), "");
    EXPECT_EQ(changes, 7);
}
