// The states a check walks through, one row per kind of conversation, against scripted
// servers.

#include "ScanTestSupport.h"
#include "support/ScriptedServer.h"

#include <functional>

using scantest::ScanFixture;
using testsupport::ScriptedServer;
using State = screening::TScanSession::TScanState;

namespace {

void Top(ScriptedServer& s, int msg, const std::string& from) {
    s.Expect("TOP " + std::to_string(msg) + " 0");
    s.SendLine("+OK").SendLine("From: " + from).SendLine("").SendLine(".");
}

void Login(ScriptedServer& s, int count, const std::vector<std::string>& capabilities = {}) {
    ScanFixture::LoggedIn(s);
    testsupport::Pop3Stat(s, count, capabilities);
}

struct ScanStates : ScanFixture {
    std::vector<State> states;

    ScanStates() {
        config.SpammerList = {"spam.example"};
        config.ListsChanged();
        session.OnStateChange = [this](State s) { states.push_back(s); };
    }
};

} // namespace

namespace screening {
// Row mismatches print the states' numbers.
void PrintTo(TScanSession::TScanState state, std::ostream* os) {
    *os << static_cast<int>(state);
}
} // namespace screening

TEST_F(ScanStates, EachConversationWalksItsRowOfStates) {
    using enum State;
    const struct {
        const char* name;
        bool eat;
        bool quarantine;
        std::function<void(ScriptedServer&)> script;
        std::vector<State> states;
        const char* statusBar;
    } cases[] = {
        {"a check one request at a time",
         false,
         false,
         [](ScriptedServer& s) {
             Login(s, 2);
             Top(s, 1, "friend@home.example");
             Top(s, 2, "offer@spam.example");
             testsupport::Pop3Quit(s);
         },
         {Connecting, LoggingInUser, LoggingInPass, ReadingStatus, AskingCapabilities,
          FetchingHeaders, FetchingHeaders, Quitting, Idle},
         "Last Results - 2 Checked, 1 OK'd, 0 Eaten"},
        {"a pipelined check",
         false,
         false,
         [](ScriptedServer& s) {
             Login(s, 2, {"PIPELINING"});
             s.Expect("TOP 1 0").Expect("TOP 2 0");
             s.SendLine("+OK").SendLine("From: friend@home.example").SendLine("").SendLine(".");
             s.SendLine("+OK").SendLine("From: offer@spam.example").SendLine("").SendLine(".");
             testsupport::Pop3Quit(s);
         },
         {Connecting, LoggingInUser, LoggingInPass, ReadingStatus, AskingCapabilities,
          FetchingHeaders, FetchingHeaders, Quitting, Idle},
         "Last Results - 2 Checked, 1 OK'd, 0 Eaten"},
        {"an eat that keeps a copy first",
         true,
         true,
         [](ScriptedServer& s) {
             Login(s, 1);
             Top(s, 1, "offer@spam.example");
             s.Expect("RETR 1").SendLine("+OK").SendLine("From: offer@spam.example");
             s.SendLine("").SendLine("buy").SendLine(".");
             s.Expect("DELE 1").SendLine("+OK");
             testsupport::Pop3Quit(s);
         },
         {Connecting, LoggingInUser, LoggingInPass, ReadingStatus, FetchingHeaders, Quarantining,
          Deleting, Quitting, Idle},
         "Last Results - 1 Checked, 0 OK'd, 1 Eaten"},
        {"a CAPA the server hangs up on",
         true,
         false,
         [](ScriptedServer& s) {
             LoggedIn(s);
             s.Expect("STAT").SendLine("+OK 3 1000").Expect("CAPA").Close();
         },
         {Connecting, LoggingInUser, LoggingInPass, ReadingStatus, AskingCapabilities, Quitting,
          Idle},
         "Last Results - 0 Checked, 0 OK'd, 0 Eaten"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        c.script(server);
        server.Start();
        config.Quarantine = c.quarantine;
        UseServer("127.0.0.1:" + server.PortText(), "bob", "pw");
        states.clear();
        ASSERT_NO_FATAL_FAILURE(Scan(c.eat));
        EXPECT_EQ(states, c.states);
        EXPECT_EQ(session.State(), Idle);
        EXPECT_EQ(view.statusBar, c.statusBar);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }, 5000));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    }
}
