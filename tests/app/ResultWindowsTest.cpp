// The results window's marks and the quarantine window's copies.

#include "AppTestSupport.h"
#include "app/formQuarantine.h"
#include "app/formResults.h"
#include "screening/Quarantine.h"
#include "screening/QuarantineReader.h"
#include "servers/DovecotServer.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTableWidget>

using screening::TScanResult;
using screening::TVerdict;

namespace {

struct ResultWindows : apptest::WindowFixture {
    void SetUp() override {
        WindowFixture::SetUp();
        CreateConfigData();
    }
};

TScanResult Result(std::int32_t number, const std::string& from, TVerdict::Kind kind) {
    TVerdict v;
    v.kind = kind;
    return screening::MakeScanResult(number, "id" + std::to_string(number), 100,
                                     {"From: " + from, ""}, v);
}

int RowOf(QTableWidget* table, const QString& from) {
    for (int row = 0; row < table->rowCount(); ++row)
        for (int c = 0; c < table->columnCount(); ++c)
            if (table->item(row, c) && table->item(row, c)->text() == from) return row;
    return -1;
}

// Rows move when sorted; the marks must still reach the messages they were set on.
TEST_F(ResultWindows, MarksReachTheirMessagesAfterSorting) {
    TfrmResults results(nullptr);
    std::vector<TResultGroup> marked;
    results.OnEatMarked = [&](std::vector<TResultGroup> m) { marked = std::move(m); };
    TAccountSettings a, b;
    a.AccountName = "A";
    b.AccountName = "B";
    TScanResult gone = Result(2, "gone@spam.example", TVerdict::Spammer);
    gone.Eaten = true;                          // by a Check and Eat: neither kept nor eaten again
    gone.Subject = std::string(4'000'000, 'S'); // a cell the table would take seconds over
    results.ShowResults({{a,
                          {Result(1, "ok@a.example", TVerdict::Ok),
                           Result(2, "kept@spam.example", TVerdict::Spammer),
                           Result(3, "who@x.example", TVerdict::UnknownSender)}},
                         {b, {Result(1, "z@spam.example", TVerdict::Spammer), gone}}});
    auto* table = results.findChild<QTableWidget*>("tblResults");
    ASSERT_EQ(table->rowCount(), 5);
    EXPECT_EQ(table->item(4, 5)->text(), "ok@a.example"); // spam first
    table->sortItems(5);                                  // by From
    const int mark = 3;
    table->item(RowOf(table, "kept@spam.example"), mark)->setCheckState(Qt::Checked); // Keep
    table->item(RowOf(table, "ok@a.example"), mark)->setCheckState(Qt::Checked);      // Eat
    EXPECT_EQ(table->item(RowOf(table, "gone@spam.example"), mark)->text(), "eaten");
    EXPECT_EQ(table->item(RowOf(table, "gone@spam.example"), 6)->text(),
              QString(999, 'S') + QChar(0x2026));
    EXPECT_FALSE(table->item(RowOf(table, "gone@spam.example"), mark)->flags() &
                 Qt::ItemIsUserCheckable);
    results.findChild<QPushButton*>("btnEatMarked")->click();
    ASSERT_EQ(marked.size(), 2u);
    std::vector<std::string> eaten;
    for (const TResultGroup& g : marked)
        for (const TScanResult& r : g.results)
            eaten.push_back(g.account.AccountName + " " + r.From);
    EXPECT_EQ(eaten,
              (std::vector<std::string>{"A ok@a.example", "A who@x.example", "B z@spam.example"}));

    table->selectRow(RowOf(table, "ok@a.example"));
    results.findChild<QPushButton*>("btnAddSender")->click();
    EXPECT_EQ(testsupport::ReadFile(AddressListPath()), "ok@a.example\r\n");
    EXPECT_EQ(ConfigData->GoodAddrList, std::vector<std::string>{"ok@a.example"});
    results.findChild<QPushButton*>("btnAddSender")->click();
    EXPECT_EQ(results.findChild<QLabel*>("lblReport")->text(),
              "ok@a.example is already a valid address");
}

TEST_F(ResultWindows, QuarantineCopiesAreTheMessagesAsReceived) {
    const std::string path = dir.File("quarantine.mbox");
    const std::vector<std::vector<std::string>> messages = {
        {"From: first@x.example", "Subject: one", "", "From me", ""},
        {"From: second@y.example", "Subject: two", "", ">From you"}};
    for (const auto& lines : messages) {
        screening::TQuarantineCopy copy(path, QDateTime::currentDateTimeUtc());
        for (const std::string& line : lines)
            copy.AddLine(line);
        copy.Commit();
    }
    // A further account's file, with a message kept long before: it sorts in by time.
    const std::string other = dir.File("quarantine-Other.mbox");
    screening::TQuarantineCopy old(other, QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC));
    old.AddLine("From: old@z.example");
    old.AddLine("Subject: one"); // at 0 with the subject of the first: opened apart
    old.Commit();
    std::vector<std::string> opened;
    TfrmQuarantine window(nullptr, {{"Main", path}, {"Other", other}},
                          [&](const std::string& f) { opened.push_back(f); });
    window.AskSavePath = [&](const std::string&) { return dir.File("saved.eml"); };
    auto* table = window.findChild<QTableWidget*>("tblQuarantine");
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(2, 0)->text(), "Other"); // oldest last
    EXPECT_EQ(table->item(2, 2)->text(), "old@z.example");
    table->selectRow(RowOf(table, "second@y.example"));
    window.findChild<QPushButton*>("btnSaveAs")->click();
    window.findChild<QPushButton*>("btnOpen")->click();
    const std::string second = "From: second@y.example\nSubject: two\n\n>From you\n";
    EXPECT_EQ(testsupport::ReadFile(dir.File("saved.eml")), second);
    ASSERT_EQ(opened.size(), 1u);
    // Not in the shared /tmp, where others could read it or put a link under its name.
    EXPECT_EQ(QFileInfo(QString::fromStdString(opened[0])).absolutePath(),
              QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    EXPECT_EQ(testsupport::ReadFile(opened[0]), second);
    const char* const atZero[] = {"first@x.example", "old@z.example"};
    for (const char* from : atZero) {
        table->selectRow(RowOf(table, from));
        window.findChild<QPushButton*>("btnOpen")->click();
    }
    ASSERT_EQ(opened.size(), 3u);
    for (int i : {0, 1}) // the second did not replace the first, which may still be open
        EXPECT_EQ(testsupport::ReadFile(opened[1 + i]).rfind(std::string("From: ") + atZero[i], 0),
                  0u);
    for (const std::string& file : opened)
        std::filesystem::remove(file);
}

// The window end to end: a Check Only that finds spam opens the results, and "Eat marked"
// deletes the spam the user did not keep, with its quarantine copy.
TEST_F(ResultWindows, EatMarkedFromTheWindowSparesTheKeptSpam) {
    if (!testservers::DovecotServer::Available()) GTEST_SKIP() << "dovecot is not installed";
    testservers::DovecotServer* server = testservers::DovecotEnvironment::Server();
    ASSERT_NE(server, nullptr) << testservers::DovecotEnvironment::StartError();
    const std::string user = "eatmarkedwindow";
    server->AddUser(user, "pw-eat");
    for (const char* from :
         {"anna@friends.example", "sales@cheap-pills.example", "deals@cheap-pills.example"})
        server->AddMessage(user, std::string("From: ") + from + "\nSubject: s\n\nbody\n");
    DestroyConfigData();
    testsupport::WriteFile(dir.File("spammers.txt"), "cheap-pills.example\r\n");
    MakeWindow("Server=" + server->Host() + ":" + server->PortText() + "\r\nLogin=" + user +
               "\r\nPassword=" + ScramblePassword("pw-eat") + "\r\n");
    Click("btnCheck");
    TfrmResults* results = nullptr;
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        results = window->findChild<TfrmResults*>("frmResults");
        return results && results->isVisible();
    }));
    auto* table = results->findChild<QTableWidget*>("tblResults");
    ASSERT_EQ(table->rowCount(), 3);
    table->item(RowOf(table, "deals@cheap-pills.example"), 3)->setCheckState(Qt::Checked);
    results->findChild<QPushButton*>("btnEatMarked")->click();
    auto* report = results->findChild<QLabel*>("lblReport");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return report->text().startsWith("Eat marked:"); }));
    EXPECT_EQ(report->text(), "Eat marked: 1 eaten, 0 marked messages no longer found");
    const std::vector<std::string> left = server->Messages(user);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_NE(left[1].find("deals@cheap-pills.example"), std::string::npos);
    const auto kept = screening::ReadQuarantine(screening::QuarantinePath());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].From, "sales@cheap-pills.example");
    EXPECT_EQ(table->rowCount(), 0); // the old numbers no longer hold
}

} // namespace
