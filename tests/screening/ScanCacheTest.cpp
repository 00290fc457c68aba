// Checks that screen known messages from the header cache: what goes over the wire, what the
// log says, and what the cache file keeps, against scripted servers and a real Dovecot.

#include "ScanTestSupport.h"
#include "screening/HeaderCache.h"
#include "servers/DovecotServer.h"
#include "support/ScriptedServer.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

struct Msg {
    std::string id;
    int size;
    std::string from;
};

// One check only: login, the listings (or a server without UIDL), the TOPs of `fetch`.
void Mailbox(ScriptedServer& s, const std::vector<Msg>& box, const std::vector<int>& fetch,
             bool uidl = true) {
    ScanFixture::LoggedIn(s);
    testsupport::Pop3Stat(s, int(box.size()));
    s.Expect("UIDL");
    if (!uidl) {
        s.SendLine("-ERR not here");
    } else {
        s.SendLine("+OK");
        for (std::size_t i = 0; i < box.size(); ++i)
            s.SendLine(std::to_string(i + 1) + " " + box[i].id);
        s.SendLine(".").Expect("LIST").SendLine("+OK");
        for (std::size_t i = 0; i < box.size(); ++i)
            s.SendLine(std::to_string(i + 1) + " " + std::to_string(box[i].size));
        s.SendLine(".");
    }
    for (int m : fetch) {
        s.Expect("TOP " + std::to_string(m) + " 0").SendLine("+OK");
        s.SendLine("From: " + box[std::size_t(m) - 1].from).SendLine("").SendLine(".");
    }
    testsupport::Pop3Quit(s);
}

struct ScriptedCache : ScanFixture {
    std::string account = "pop.test";
    ScriptedCache() {
        config.HeaderCache = true;
        config.Quarantine = false;
        config.SpammerList = {"spam.example"};
        config.ListsChanged();
    }
    void Check(const std::vector<Msg>& box, const std::vector<int>& fetch, bool uidl = true) {
        std::filesystem::remove(dir.File("spammers.log"));
        ScriptedServer s;
        Mailbox(s, box, fetch, uidl);
        Serve(s);
        config.Server = account; // the cache's key: the same from one port to the next
        ASSERT_NO_FATAL_FAILURE(Scan(false));
        EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
    }
    bool Logged(const std::string& line) const {
        const std::vector<std::string> log = LogLines();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
};

const Msg a{"id-a", 1001, "friend@home.example"}, b{"id-b", 1002, "pal@b.example"},
    c{"id-c", 1003, "x@spam.example"};

} // namespace

TEST_F(ScriptedCache, KnownMessagesAreScreenedFromTheCacheUnderTodaysLists) {
    const struct {
        const char* name;
        std::function<void(ScriptedCache&)> between; // after the first check
        std::vector<Msg> box;                        // the second check's mailbox
        std::vector<int> fetch;                      // ... and its TOPs
        bool uidl;
        std::vector<std::string> logged; // lines its log must hold
        std::vector<std::string> kept;   // the ids its cache keeps
        bool rewritten = true;           // ... in a file written anew (unused: left alone)
    } cases[] = {
        {"hit",
         {},
         {a, b, c},
         {},
         true,
         {"Headers from cache: 3 of 3 checked", "Stats: 3 Checked, 2 OK'd, 0 Eaten"},
         {"id-a", "id-b", "id-c"},
         false},
        {"miss: a new message is fetched",
         {},
         {a, b, c, {"id-d", 9, "y@spam.example"}},
         {4},
         true,
         {"Headers from cache: 3 of 4 checked", "Stats: 4 Checked, 2 OK'd, 0 Eaten"},
         {"id-a", "id-b", "id-c", "id-d"}},
        {"list change applies to cached headers",
         [](ScriptedCache& t) {
             t.config.SpammerList = {"spam.example", "b.example"};
             t.config.ListsChanged();
         },
         {a, b, c},
         {},
         true,
         {"Stats: 3 Checked, 1 OK'd, 0 Eaten"},
         {"id-a", "id-b", "id-c"},
         false},
        {"message gone is pruned",
         {},
         {a, c},
         {},
         true,
         {"Headers from cache: 2 of 2 checked", "Stats: 2 Checked, 1 OK'd, 0 Eaten"},
         {"id-a", "id-c"}},
        {"id reused for another message",
         {},
         {a, {"id-b", 77, "z@spam.example"}, c},
         {2},
         true,
         {"Stats: 3 Checked, 1 OK'd, 0 Eaten"},
         {"id-a", "id-b", "id-c"}},
        {"corrupt file",
         [](ScriptedCache& t) {
             std::fstream f(t.dir.File("headers.cache"), std::ios::in | std::ios::out);
             f.seekp(40);
             f.put('#');
         },
         {a, b, c},
         {1, 2, 3},
         true,
         {"Header cache damaged - starting a new one", "Headers from cache: 0 of 3 checked"},
         {"id-a", "id-b", "id-c"}},
        {"truncated file",
         [](ScriptedCache& t) { std::filesystem::resize_file(t.dir.File("headers.cache"), 20); },
         {a, b, c},
         {1, 2, 3},
         true,
         {"Header cache of an unknown format - starting a new one"},
         {"id-a", "id-b", "id-c"}},
        {"another server starts a new cache",
         [](ScriptedCache& t) { t.account = "pop2.test"; },
         {a, b, c},
         {1, 2, 3},
         true,
         {"Header cache of another account - starting a new one"},
         {"id-a", "id-b", "id-c"}},
        {"no UIDL support",
         {},
         {a, b, c},
         {1, 2, 3},
         false,
         {"Server lists no message ids - header cache not used",
          "Stats: 3 Checked, 2 OK'd, 0 Eaten"},
         {"id-a", "id-b", "id-c"},
         false},
        {"duplicate id",
         {},
         {a, {"id-a", 1001, "z@spam.example"}, c},
         {1, 2, 3},
         true,
         {"A message id is listed twice - header cache not used for this check",
          "Stats: 3 Checked, 1 OK'd, 0 Eaten"},
         {"id-a", "id-b", "id-c"},
         false},
    };
    for (const auto& c0 : cases) {
        SCOPED_TRACE(c0.name);
        std::filesystem::remove(dir.File("headers.cache"));
        account = "pop.test";
        config.SpammerList = {"spam.example"};
        config.ListsChanged();
        ASSERT_NO_FATAL_FAILURE(Check({a, b, c}, {1, 2, 3}));
        EXPECT_TRUE(Logged("Header cache not found - starting a new one"));
        EXPECT_TRUE(Logged("Headers from cache: 0 of 3 checked"));
        struct stat before {};
        ::stat(dir.File("headers.cache").c_str(), &before);
        if (c0.between) c0.between(*this);
        ASSERT_NO_FATAL_FAILURE(Check(c0.box, c0.fetch, c0.uidl));
        for (const std::string& line : c0.logged)
            EXPECT_TRUE(Logged(line)) << line;
        const screening::THeaderCacheLoad kept = screening::LoadHeaderCache(
            dir.File("headers.cache"), config.Server + "\n" + config.Login);
        EXPECT_EQ(kept.Problem, "");
        std::vector<std::string> ids;
        for (const auto& [id, header] : kept.Headers)
            ids.push_back(id);
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, c0.kept);
        struct stat after {};
        ::stat(dir.File("headers.cache").c_str(), &after);
        EXPECT_EQ(after.st_ino != before.st_ino, c0.rewritten);
        EXPECT_EQ(session.ErrorCount(), 0);
    }
    EXPECT_EQ(std::filesystem::status(dir.File("headers.cache")).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

namespace {

struct DovecotCache : ScanFixture {
    testservers::DovecotServer* server = nullptr;

    void SetUp() override {
        if (!testservers::DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        server = testservers::DovecotEnvironment::Server();
        ASSERT_NE(server, nullptr) << testservers::DovecotEnvironment::StartError();
    }

    void AddMessages(const std::string& user, int from, int to) {
        for (int i = from; i <= to; ++i) {
            const std::string sender = i % 5 == 0 ? "offer@spam.example" : "friend@home.example";
            const std::string rcpt = i % 7 == 0 ? "someone@else.example" : "me@home.example";
            server->AddMessage(user, "From: " + sender + "\nTo: " + rcpt + "\nSubject: message " +
                                         std::to_string(i) + "\n\nbody\n");
        }
    }

    struct Outcome {
        std::vector<std::string> log, labels, activities;
        std::string statusBar;
        std::vector<std::string> left;
    };
    // The log without the cache's own lines, which are all a user sees of it.
    Outcome Run(const std::string& user, bool eat, bool cache) {
        std::filesystem::remove(dir.File("spammers.log"));
        view = {};
        config.HeaderCache = cache;
        UseServer(server->Host() + ":" + server->PortText(), user, "pw");
        Scan(eat);
        Outcome out{{}, view.labels, view.activities, view.statusBar, server->Messages(user)};
        for (const std::string& line : LogLines())
            if (line.rfind("Header", 0) != 0) out.log.push_back(line);
        return out;
    }
};

} // namespace

TEST_F(DovecotCache, CheckAndEatAfterAListChangeEqualsAnUncachedOne) {
    config.Unknown = true;
    config.Quarantine = false;
    config.GoodAddrList = {"me@home.example"};
    config.SpammerList = {"spam.example"};
    config.ListsChanged();
    for (const char* user : {"cached", "fetched"}) {
        server->AddUser(user, "pw");
        AddMessages(user, 1, 40);
    }
    Run("cached", false, true); // fills the cache
    std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Headers from cache: 0 of 40 checked"), log.end());
    // Three known messages turn into spam; ten new ones arrive, two of them spam.
    config.SpammerList = {"spam.example", "message 11", "message 22", "message 33"};
    config.ListsChanged();
    for (const char* user : {"cached", "fetched"})
        AddMessages(user, 41, 50);
    const Outcome cached = Run("cached", true, true);
    log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Headers from cache: 40 of 50 checked"), log.end());
    const Outcome fetched = Run("fetched", true, false);
    EXPECT_EQ(cached.log, fetched.log);
    EXPECT_EQ(cached.labels, fetched.labels);
    EXPECT_EQ(cached.activities, fetched.activities);
    EXPECT_EQ(cached.statusBar, fetched.statusBar);
    EXPECT_EQ(cached.left, fetched.left);
    // 10 senders of spam.example, 7 strangers (35 is both), and messages 11, 22 and 33.
    EXPECT_EQ(cached.left.size(), 50u - 10u - 7u + 1u - 3u);
    EXPECT_EQ(session.ErrorCount(), 0);
}
