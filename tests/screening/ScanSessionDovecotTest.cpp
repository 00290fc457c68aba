// The scan against a real Dovecot on 127.0.0.1.

#include "ScanTestSupport.h"
#include "screening/TextMatch.h"
#include "servers/DovecotServer.h"

#include <QProcess>
#include <algorithm>
#include <filesystem>

using scantest::ScanFixture;
using testservers::DovecotEnvironment;
using testservers::DovecotServer;

namespace {

// The one registration of the shared Dovecot for the whole test program (the TLS and
// pipelining tests use it too).
const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new testservers::DovecotEnvironment);

const std::string kPassword = "Sesame-42";

std::string Message(const std::string& from, const std::string& to, const std::string& subject) {
    return "Return-Path: <" + from + ">\nFrom: " + from + "\nTo: " + to + "\nSubject: " + subject +
           "\nMessage-ID: <" + subject + "@test>\n\nBody of " + subject + "\n";
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

struct DovecotScan : ScanFixture {
    DovecotServer* server = nullptr;

    void SetUp() override {
        if (!DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        server = DovecotEnvironment::Server();
        ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
    }

    // Each test has a user of its own, named after the test in small letters (Dovecot
    // folds user names).
    std::string NewUser(const std::vector<std::string>& messages) {
        std::string user =
            screening::LowerCase(::testing::UnitTest::GetInstance()->current_test_info()->name());
        server->AddUser(user, kPassword);
        for (const auto& m : messages)
            server->AddMessage(user, m);
        UseServer(server->Host() + ":" + server->PortText(), user, kPassword);
        return user;
    }
};

} // namespace

TEST_F(DovecotScan, EatModeDeletesTheOneSpamAndReports) {
    config.SpammerList = {"cheap-pills.example"};
    std::string user = NewUser({Message("anna@friends.example", "me@home.example", "one"),
                                Message("sales@cheap-pills.example", "me@home.example", "two"),
                                Message("bob@friends.example", "me@home.example", "three")});
    session.StartScan(true);
    EXPECT_TRUE(session.Busy());
    EXPECT_FALSE(view.commandsEnabled);
    EXPECT_TRUE(view.animating);
    EXPECT_TRUE(view.checkEatMark);
    EXPECT_FALSE(view.checkOnlyMark);
    session.StartScan(false); // refused silently while the first one runs
    session.SetBusy(false);   // as the update dialog does when it closes
    session.StartScan(false); // still refused: a scan runs
    EXPECT_EQ(view.labels, std::vector<std::string>{"Connecting to mail server"});
    ASSERT_NO_FATAL_FAILURE(Scan(true)); // waits for the first scan; this start is refused

    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Connection to mail server established",
                                                    "Spammer Match: cheap-pills.example",
                                                    "Kept in quarantine: "
                                                    "sales@cheap-pills.example - two",
                                                    "Stats: 3 Checked, 2 OK'd, 1 Eaten"}));
    EXPECT_EQ(view.statusBar, "Last Results - 3 Checked, 2 OK'd, 1 Eaten");
    EXPECT_EQ(view.activities.back(), "Scanning Completed - Mailbox Cleaned");
    EXPECT_EQ(view.labels.back(), "Connection inactive");
    EXPECT_TRUE(view.Shown("Retrieving message 3 of 3"));
    EXPECT_TRUE(view.Shown("Headers for message 2 retrieved."));
    EXPECT_TRUE(view.Shown("Message 2 deleted"));
    EXPECT_TRUE(Contains(view.activities, "Found Spammer - Eating Message"));
    EXPECT_EQ(scanEnds, 1);
    EXPECT_EQ(session.ErrorCount(), 0);

    auto left = server->Messages(user);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_NE(left[0].find("Subject: one"), std::string::npos);
    EXPECT_NE(left[1].find("Subject: three"), std::string::npos);
}

TEST_F(DovecotScan, CheckOnlyDeletesNothingAndTheTraceHidesThePassword) {
    config.LogLevel = true;
    config.Unknown = true;
    config.GoodAddrList = {"me@home.example"};
    config.SpammerList = {"cheap-pills.example"};
    std::string user = NewUser({Message("sales@cheap-pills.example", "me@home.example", "spam"),
                                Message("x@y.example", "stranger@elsewhere.example", "unknown")});
    ASSERT_NO_FATAL_FAILURE(Scan(false));

    auto lines = LogLines();
    EXPECT_TRUE(Contains(lines, "> PASS secret"));
    EXPECT_TRUE(Contains(lines, "> TOP 2 0"));
    for (const auto& line : lines) {
        EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
        EXPECT_EQ(line.find("DELE"), std::string::npos) << line;
    }
    EXPECT_TRUE(Contains(lines, "Spammer Match: cheap-pills.example"));
    EXPECT_TRUE(Contains(lines, "Unknown user - assuming spam"));
    EXPECT_TRUE(Contains(lines, "Stats: 2 Checked, 0 OK'd, 0 Eaten"));
    EXPECT_TRUE(Contains(view.activities, "Spammer Found"));
    EXPECT_EQ(view.activities.back(), "Scanning Completed - Checked only");
    EXPECT_EQ(server->Messages(user).size(), 2u);
}

TEST_F(DovecotScan, UnknownUserIsEatenWithoutTheSpammerSearch) {
    config.Unknown = true;
    config.GoodAddrList = {"Me@Home.example"};
    config.SpammerList = {"friends.example"}; // would match both messages
    std::string user = NewUser({Message("a@friends.example", "stranger@elsewhere.example", "gone"),
                                Message("b@friends.example", "me@home.example", "kept")});
    ASSERT_NO_FATAL_FAILURE(Scan(true));

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "Connection to mail server established", "Unknown user - assuming spam",
                  "Kept in quarantine: a@friends.example - gone", "Valid Address: Me@Home.example",
                  "Spammer Match: friends.example", "Kept in quarantine: b@friends.example - kept",
                  "Stats: 2 Checked, 0 OK'd, 2 Eaten"}));
    EXPECT_TRUE(Contains(view.activities, "Unknown user - Assuming Spammer"));
    EXPECT_TRUE(Contains(view.activities, "Valid Addr: Me@Home.example"));
    EXPECT_TRUE(server->Messages(user).empty());
}

TEST_F(DovecotScan, EmptyMailboxQuitsAfterStatAndAHiddenWindowStaysHidden) {
    NewUser({});
    view.hidden = true;
    ASSERT_NO_FATAL_FAILURE(Scan(true));
    EXPECT_EQ(view.hideCalls, 1);
    EXPECT_TRUE(Contains(view.activities, "No messages waiting on server."));
    EXPECT_EQ(view.activities.back(), "Scanning Completed - No Spam found");
    EXPECT_EQ(view.statusBar, "Last Results - 0 Checked, 0 OK'd, 0 Eaten");
    EXPECT_EQ(LogLines().back(), "Stats: 0 Checked, 0 OK'd, 0 Eaten");
}

TEST_F(DovecotScan, WrongPasswordQuitsAndReportsZeros) {
    std::string user = NewUser({Message("a@b.example", "me@home.example", "one")});
    UseServer(server->Host() + ":" + server->PortText(), user, "wrong");
    ASSERT_NO_FATAL_FAILURE(Scan(true));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Connection to mail server established",
                                                    "Error 500 during authentication",
                                                    "Stats: 0 Checked, 0 OK'd, 0 Eaten"}));
    EXPECT_TRUE(view.Shown("Error 500 during authentication"));
    EXPECT_EQ(view.statusBar, "Last Results - 0 Checked, 0 OK'd, 0 Eaten");
    EXPECT_TRUE(session.ReachedReport());
    EXPECT_EQ(session.ErrorCount(), 1);
    EXPECT_EQ(server->Messages(user).size(), 1u);
}

TEST_F(DovecotScan, ConnectFailuresEndWithoutStatsAndTheNextScanWorks) {
    // Nothing listens on port 1 of the loopback address.
    UseServer("127.0.0.1:1", "nobody", "pw");
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_EQ(view.statusBar, "Last Results - unable to locate server");
    EXPECT_EQ(view.labels.back(), "Error 10061 attempting connection");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Error 10061 attempting connection"});
    EXPECT_EQ(view.activities, std::vector<std::string>{""});
    EXPECT_FALSE(session.ReachedReport());

    // A server name the client refuses outright (raises in Connect).
    UseServer("", "nobody", "pw");
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_EQ(view.statusBar, "Last Results - unable to locate server");
    EXPECT_EQ(LogLines().back(), view.labels.back());
    EXPECT_NE(view.labels.back(), "Connecting to mail server");
    EXPECT_FALSE(session.ReachedReport());
    EXPECT_EQ(session.ErrorCount(), 1);

    // A port the socket does not know, with a name to look up first: refused at the start,
    // not from inside the lookup's event where it would leave the scan waiting.
    UseServer("localhost:no-such-service", "nobody", "pw");
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_EQ(view.statusBar, "Last Results - unable to locate server");
    EXPECT_NE(view.labels.back().find("no-such-service"), std::string::npos);

    // The client is ready again for a good server.
    NewUser({});
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_EQ(view.statusBar, "Last Results - 0 Checked, 0 OK'd, 0 Eaten");
    EXPECT_EQ(session.ErrorCount(), 0);
}

namespace {

// What python3's mailbox module reads back from an mbox file: each message's separator line
// and its bytes with the mboxrd quoting undone, one "sep"/"msg" pair per message.
struct MboxReadBack {
    bool ok = false;
    std::string error;
    std::vector<std::string> separators, messages;
};

MboxReadBack ReadWithPython(const std::string& mbox, const std::string& outDir) {
    const char* script = R"(
import mailbox, re, sys
box = mailbox.mbox(sys.argv[1], create=False)
for i, key in enumerate(box.keys()):
    data = box.get_bytes(key)
    open('%s/%d.msg' % (sys.argv[2], i), 'wb').write(re.sub(rb'(?m)^>(>*From )', rb'\1', data))
    print(box.get_message(key).get_from())
)";
    QProcess python;
    python.start("python3",
                 {"-c", script, QString::fromStdString(mbox), QString::fromStdString(outDir)});
    MboxReadBack r;
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        r.error = python.readAllStandardError().toStdString();
        return r;
    }
    for (const QString& line : QString::fromUtf8(python.readAllStandardOutput()).split('\n'))
        if (!line.isEmpty()) r.separators.push_back(line.toStdString());
    for (std::size_t i = 0; i < r.separators.size(); ++i)
        r.messages.push_back(testsupport::ReadFile(outDir + "/" + std::to_string(i) + ".msg"));
    r.ok = true;
    return r;
}

} // namespace

// The copy must be the message as the server gave it: separator-like and dot lines, 8-bit
// bytes and a large message all come back unchanged.
TEST_F(DovecotScan, CheckAndEatKeepsEveryDeletedMessageByteForByte) {
    config.SpammerList = {"spam.example"};
    config.LogLevel = true; // the trace shows the RETR like every other command
    const std::string tricky =
        "Return-Path: <bulk@spam.example>\nFrom: Bulk Sender <bulk@spam.example>\n"
        "To: me@home.example\nSubject: tricky\n\nFrom the desk of the director\n"
        ">From a quoted line\n>>From twice quoted\n.\n..two dots\n.leading dot\n"
        "8-bit: \xe9\xe8\xff\x80\x01 done\n\nFrom \n";
    std::string large = "From: huge@spam.example\nTo: me@home.example\nSubject: large\n\n";
    for (int i = 0; large.size() < 5 * 1024 * 1024; ++i)
        large += (i % 1000 == 0  ? "From here on, line " + std::to_string(i)
                  : i % 777 == 0 ? "." + std::to_string(i)
                                 : "line " + std::to_string(i) + std::string(70, 'x')) +
                 "\n";
    const std::string orphan = "Received: from relay.spam.example\nSubject: no sender\n\nhi\n";
    std::string user = NewUser(
        {tricky, Message("anna@friends.example", "me@home.example", "good"), large, orphan});
    ASSERT_NO_FATAL_FAILURE(Scan(true));
    EXPECT_EQ(view.statusBar, "Last Results - 4 Checked, 1 OK'd, 3 Eaten");
    EXPECT_EQ(session.ErrorCount(), 0);
    ASSERT_EQ(server->Messages(user).size(), 1u);
    auto lines = LogLines();
    EXPECT_TRUE(Contains(lines, "Kept in quarantine: Bulk Sender <bulk@spam.example> - tricky"));
    EXPECT_TRUE(Contains(lines, "Kept in quarantine:  - no sender"));
    EXPECT_TRUE(Contains(lines, "> RETR 3"));
    // Message lines are no part of the trace.
    for (const auto& line : lines)
        EXPECT_EQ(line.find("line 7"), std::string::npos) << line;

    MboxReadBack back = ReadWithPython(dir.File("quarantine.mbox"), dir.Path());
    ASSERT_TRUE(back.ok) << back.error;
    ASSERT_EQ(back.messages.size(), 3u);
    EXPECT_EQ(back.messages[0], tricky);
    EXPECT_TRUE(back.messages[1] == large) << "the 5 MB message differs";
    EXPECT_EQ(back.messages[2], orphan);
    EXPECT_EQ(back.separators[0].substr(0, 17), "bulk@spam.example");
    EXPECT_EQ(back.separators[1].substr(0, 17), "huge@spam.example");
    EXPECT_EQ(back.separators[2].substr(0, 14), "MAILER-DAEMON ");

    // A second scan appends behind the first scan's messages.
    server->AddMessage(user, Message("again@spam.example", "me@home.example", "later"));
    ASSERT_NO_FATAL_FAILURE(Scan(true));
    back = ReadWithPython(dir.File("quarantine.mbox"), dir.Path());
    ASSERT_TRUE(back.ok) << back.error;
    ASSERT_EQ(back.messages.size(), 4u);
    EXPECT_EQ(back.messages[0], tricky);
    EXPECT_EQ(back.messages[3], Message("again@spam.example", "me@home.example", "later"));
}

TEST_F(DovecotScan, WithoutQuarantineNoMessageIsFetched) {
    config.Quarantine = false;
    config.LogLevel = true;
    config.SpammerList = {"spam.example"};
    std::string user = NewUser({Message("x@spam.example", "me@home.example", "spam")});
    ASSERT_NO_FATAL_FAILURE(Scan(true));
    EXPECT_EQ(view.statusBar, "Last Results - 1 Checked, 0 OK'd, 1 Eaten");
    auto lines = LogLines();
    EXPECT_TRUE(Contains(lines, "> DELE 1"));
    for (const auto& line : lines)
        EXPECT_EQ(line.find("RETR"), std::string::npos) << line;
    EXPECT_FALSE(std::filesystem::exists(dir.File("quarantine.mbox")));
    EXPECT_TRUE(server->Messages(user).empty());
}
