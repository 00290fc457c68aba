// The update merge: line rules, the duplicate rule, questions and files, and agreement with
// the plain entry-by-entry merge on random data.

#include "LiteralMerge.h"

#include "config/ConfigFixture.h"
#include "log/kelLog.h"
#include "platform/FileInfo.h"
#include "platform/Profile.h"
#include "support/Wait.h"
#include "update/UpdateFile.h"
#include "update/UpdateMerge.h"

#include <QCoreApplication>
#include <QDateTime>
#include <functional>
#include <random>

namespace {

using Lines = std::vector<std::string>;
using namespace update;

struct RecordingView : TUpdateView {
    Lines activities, errors, infos, questions;
    bool answer = true;        // to the timestamp question
    bool deleteAnswer = false; // to the delete question
    int progressMax = -1, steps = 0, enabled = 0;
    bool busy = false;

    void SetActivity(const std::string& t) override { activities.push_back(t); }
    void StartProgress(int max) override { progressMax = max, steps = 0; }
    void StepProgress() override { ++steps; }
    void SetBusyCursor(bool on) override { busy = on; }
    void EnableStartAndCancel() override { ++enabled; }
    bool Confirm(const std::string& t) override {
        questions.push_back(t);
        return t.rfind("Delete", 0) == 0 ? deleteAnswer : answer;
    }
    void ShowError(const std::string& t) override { errors.push_back(t); }
    void ShowInformation(const std::string& t) override { infos.push_back(t); }
};

class UpdateMerge : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        CreateConfigData();
        log.SetOptions({});
        log.SetLogFileName(ProgramFile("spammers.log"));
    }

    TMergeResult Merge(const std::string& bytes, const Lines& list, bool logLevel = false) {
        WriteFile(UpdatePath(), bytes);
        ConfigData->SpammerList = list;
        ConfigData->LogLevel = logLevel;
        std::filesystem::remove(ProgramFile("spammers.log"));
        return MergeUpdateFile(UpdatePath(), usLocalFile, *ConfigData, log, view);
    }
    std::string UpdatePath() const { return dir.File("spamupd.txt"); }
    Lines LogLines() const {
        Lines lines;
        std::string text = ReadFile(ProgramFile("spammers.log"));
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }
    static std::string Joined(const Lines& lines) {
        std::string text;
        for (const auto& l : lines)
            text += l + "\r\n";
        return text;
    }

    TkelLog log;
    RecordingView view;
};

TEST(UpdateFile, LinesEndAtCrLfLfOrCrAndANulEndsTheText) {
    struct Case {
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\n\r\n", {"a", ""}},
        {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},
        {std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
        {"  spaced \t\r\n\x1a", {"  spaced \t", "\x1a"}},
    };
    for (const Case& c : cases) {
        const TUpdateLines lines(c.bytes);
        EXPECT_EQ(Lines(lines.begin(), lines.end()), c.lines) << testing::PrintToString(c.bytes);
        EXPECT_EQ(lines.size(), c.lines.size()) << testing::PrintToString(c.bytes);
    }
}

TEST(UpdateFile, TimestampIsShortDateAndLongTimeWithoutMidnightOrZone) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QDate day(2026, 12, 8);
    EXPECT_EQ(UpdateTimestampText(QDateTime(day, QTime(0, 0)), us), "12/8/26");
    const QDateTime afternoon(day, QTime(14, 5, 9));
    const std::string text = UpdateTimestampText(afternoon, us);
    EXPECT_EQ(text.rfind("12/8/26 2:05:09", 0), 0u) << text;
    // No zone name: the same file must give the same text after a clock change.
    EXPECT_EQ(text.find(afternoon.timeZoneAbbreviation().toStdString()), std::string::npos) << text;
}

TEST_F(UpdateMerge, AddsWhatNoEntryCoversAndCountsTheRest) {
    struct Case {
        const char* name;
        std::string bytes;
        Lines list;
        bool logLevel;
        Lines after, log;
    } cases[] = {
        {"an entry inside a line, any case; a line inside an entry is new",
         "xVIAGRAx\r\nagra\r\nNewOne\r\n",
         {"viagra"},
         false,
         {"viagra", "agra", "NewOne"},
         {"New Addition: agra", "New Addition: NewOne",
          "Update Summary: 1 Duplicates; 2 Additions"}},
        {"repeats count once",
         "lotto\r\nlotto\r\n",
         {},
         false,
         {"lotto"},
         {"New Addition: lotto", "Update Summary: 1 Duplicates; 1 Additions"}},
        {"verbose logging names the duplicates",
         "axb\nnew\n",
         {"X"},
         true,
         {"X", "new"},
         {"Duplicate skipped: axb", "New Addition: new",
          "Update Summary: 1 Duplicates; 1 Additions"}},
        {"an empty file still saves and records",
         "",
         {"k"},
         false,
         {"k"},
         {"Update Summary: 0 Duplicates; 0 Additions"}},
    };
    for (const Case& c : cases) {
        TMergeResult r = Merge(c.bytes, c.list, c.logLevel);
        EXPECT_TRUE(r.merged) << c.name;
        EXPECT_EQ(ConfigData->SpammerList, c.after) << c.name;
        EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), Joined(c.after)) << c.name;
        EXPECT_EQ(LogLines(), c.log) << c.name;
        EXPECT_EQ(view.infos.back(), c.log.back()) << c.name;
        EXPECT_EQ(view.steps, view.progressMax) << c.name;
        EXPECT_FALSE(view.busy) << c.name;
    }
    const std::string stamp = UpdateTimestampText(*platform::FileLastWriteTime(UpdatePath()));
    EXPECT_EQ(ConfigData->Update, stamp);
    EXPECT_EQ(platform::ProfileFile(IniPath()).ReadString("Config", "Update", ""), stamp);
}

TEST_F(UpdateMerge, SkipsBlankLinesAndLinesThatOrdinaryMailContains) {
    const std::string skipped = "Update line skipped (it occurs in ordinary mail): ";
    struct Case {
        const char* name;
        std::string bytes;
        bool noCase;
        Lines after, log;
    } cases[] = {
        {"blank lines go without a word",
         "\r\n  \r\n\t\r\ncasino\r\n",
         false,
         {"casino"},
         {"New Addition: casino", "Update Summary: 0 Duplicates; 1 Additions"}},
        {"neither duplicates nor additions",
         "Date:\r\n@\r\n a \r\nlotto\r\nDate:\r\n",
         false,
         {"lotto"},
         {skipped + "Date:", skipped + "@", skipped + " a ", "New Addition: lotto",
          skipped + "Date:", "Update Summary: 0 Duplicates; 1 Additions"}},
        {"ignoring case, more is over-broad",
         "spam\r\n",
         true,
         {},
         {skipped + "spam", "Update Summary: 0 Duplicates; 0 Additions"}},
        {"with case, the same line is added",
         "spam\r\n",
         false,
         {"spam"},
         {"New Addition: spam", "Update Summary: 0 Duplicates; 1 Additions"}},
    };
    for (const Case& c : cases) {
        ConfigData->NoCase = c.noCase;
        EXPECT_TRUE(Merge(c.bytes, {}).merged) << c.name;
        EXPECT_EQ(ConfigData->SpammerList, c.after) << c.name;
        EXPECT_EQ(LogLines(), c.log) << c.name;
    }
}

TEST_F(UpdateMerge, QuestionsDecideWhetherToMergeAndWhetherToDelete) {
    // Missing file: the error box, Start and Cancel enabled again, nothing changed.
    TMergeResult r = MergeUpdateFile(dir.File("none.txt"), usLocalFile, *ConfigData, log, view);
    EXPECT_FALSE(r.merged);
    EXPECT_EQ(view.errors, Lines{"Unable to locate update file:\r\n" + dir.File("none.txt")});
    EXPECT_EQ(view.enabled, 1);

    // First run: no timestamp question; the delete question answered No keeps the file.
    EXPECT_TRUE(Merge("lottery\r\n", {}).merged);
    EXPECT_EQ(view.questions, Lines{"Delete the update file?\r\n(" + UpdatePath() + ")"});
    EXPECT_TRUE(std::filesystem::exists(UpdatePath()));

    // Same file again: the timestamp question; No changes nothing.
    view.questions.clear();
    view.answer = false;
    EXPECT_FALSE(MergeUpdateFile(UpdatePath(), usLocalFile, *ConfigData, log, view).merged);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].rfind("The current update file timestamp matches your\r\n", 0), 0u);
    EXPECT_EQ(ConfigData->SpammerList, Lines{"lottery"});
    EXPECT_EQ(view.enabled, 2);

    // Yes proceeds (every line a duplicate now); the delete question answered Yes removes it.
    view.answer = true;
    view.deleteAnswer = true;
    r = MergeUpdateFile(UpdatePath(), usLocalFile, *ConfigData, log, view);
    EXPECT_TRUE(r.merged);
    EXPECT_EQ(r.duplicates, 1);
    EXPECT_FALSE(std::filesystem::exists(UpdatePath()));
}

TEST_F(UpdateMerge, AgreesWithThePlainMergeOnRandomData) {
    std::mt19937 rng(20261208);
    const std::string alphabet = "abAB.@";
    auto word = [&](int maxLen) {
        std::string w(rng() % (maxLen + 1), ' ');
        for (char& c : w)
            c = alphabet[rng() % alphabet.size()];
        return w;
    };
    for (int round = 0; round < 40; ++round) {
        Lines list, lines;
        for (int i = rng() % 30; i > 0; --i)
            list.push_back(word(4));
        std::string bytes;
        for (int i = rng() % 60; i > 0; --i) {
            lines.push_back(word(7));
            bytes += lines.back() + "\r\n";
        }
        const bool verbose = round % 2;
        updatetest::LiteralOutcome expected =
            updatetest::LiteralMerge(list, lines, verbose, ConfigData->NoCase);
        TMergeResult r = Merge(bytes, list, verbose);
        ASSERT_EQ(ConfigData->SpammerList, expected.list) << "round " << round;
        Lines log = LogLines();
        log.pop_back(); // the summary
        ASSERT_EQ(log, expected.log) << "round " << round;
        ASSERT_EQ(r.duplicates, expected.duplicates);
        ASSERT_EQ(r.additions, expected.additions);
    }
}

// The save and the merge run in one go: nothing the event loop holds (a click, a scan's reply)
// runs in the middle of them and meets a list half saved or half merged.
TEST_F(UpdateMerge, SaveAndMergeLetNothingElseRunMeanwhile) {
    Lines list;
    std::string file, update;
    for (int i = 0; i < 50000; ++i) {
        list.push_back("spammer" + std::to_string(i) + "@bulk.example");
        file += list.back() + "\r\n";
    }
    for (int i = 0; i < 2000; ++i)
        update += "offer" + std::to_string(i) + "@new.example\r\n";
    WriteFile(ProgramFile("spammers.txt"), file);
    LoadSpammerList();
    const struct {
        const char* name;
        std::function<void()> work;
    } cases[] = {
        {"save", [] { EXPECT_TRUE(SaveSpammerList()); }},
        {"merge", [&] { EXPECT_TRUE(Merge(update, list).merged); }},
    };
    for (const auto& c : cases) {
        bool ran = false;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&ran] { ran = true; }, Qt::QueuedConnection);
        c.work();
        EXPECT_FALSE(ran) << c.name;
        EXPECT_TRUE(testsupport::WaitUntil([&ran] { return ran; })) << c.name;
    }
    EXPECT_EQ(ConfigData->SpammerList.size(), 52000u);
}

} // namespace
