// The per-message results of a check, "Eat marked" against a mailbox that changed, the
// decoding of header text, and reading the quarantine back.

#include "ScanTestSupport.h"
#include "screening/EncodedWords.h"
#include "screening/QuarantineReader.h"
#include "servers/DovecotServer.h"
#include "support/ScriptedServer.h"

#include <QDateTime>

#include <chrono>

using scantest::ScanFixture;
using screening::TMark;
using screening::TScanResult;
using screening::TVerdict;
using testsupport::ScriptedServer;

namespace {

TEST(EncodedWords, DecodesWordsInTheirCharsetsAndKeepsWhatItCannot) {
    // A spammer's header line of 2 MB full of word starts without an end.
    std::string noEnd;
    while (noEnd.size() < 2'000'000)
        noEnd += "=?UTF-8?Q?a";
    const struct {
        std::string raw, decoded;
    } cases[] = {
        {"plain text", "plain text"},
        {"=?UTF-8?B?R3LDvMOfZQ==?=", "Grüße"},
        {"=?iso-8859-1?q?caf=E9_cr=E8me?=", "café crème"},
        {"=?UTF-8?Q?a?= =?UTF-8?Q?b?=", "ab"},                  // blanks between words go
        {"=?UTF-8?B?4oK=?= =?UTF-8?B?rA==?=", "€"},             // a character split in two
        {"Re: =?windows-1252?Q?=80uro?= now", "Re: €uro now"},  // text around a word stays
        {"=?KOI8-R?B?8NLJ18XU?=", "Привет"},                    // a charset beyond Latin
        {"=?x-unknown?Q?abc?=", "=?x-unknown?Q?abc?="},         // unknown charset: raw
        {"=?UTF-8?B?not base64!?=", "=?UTF-8?B?not base64!?="}, // blank inside: no word
        {"=?UTF-8?Q?bad=ZZ?=", "=?UTF-8?Q?bad=ZZ?="},           // broken Q: raw
        {"=?UTF-8*en?Q?hi?=", "hi"},                            // language suffix
        {"caf\xe9", "café"},                                    // 8-bit outside a word
        {noEnd, noEnd},
        {noEnd + "?=", noEnd.substr(0, noEnd.size() - 11) + "a"}, // only the last is a word
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::string decoded = screening::DecodeHeaderText(c.raw);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_TRUE(decoded == c.decoded)
            << c.raw.substr(0, 80) << " gave " << decoded.substr(0, 80);
    }
}

// Messages as a server sends them (lines without ends), written by the quarantine copy and
// read back byte for byte.
TEST(QuarantineReader, GivesBackEveryMessageAsReceived) {
    testsupport::TempDir dir;
    const std::string path = dir.File("quarantine.mbox");
    const std::vector<std::vector<std::string>> older = {
        {"From: =?UTF-8?Q?J=C3=B6rg?= <j@old.example>", "Subject: old", "", "From here on", ""},
    };
    const std::vector<std::vector<std::string>> current = {
        {"Return-Path: <a@x.example>", "From: a@x.example", "Subject: quoting", "",
         "From the start", ">From quoted once", ">>From twice", "From", ">From: no space", ""},
        {"From: b@y.example", "Subject: no body"},
        {"From: c@z.example", "Subject: blank lines at the end", "", "text", "", "", ""},
        {"From: d@w.example", "Subject: no final blank", "", "last line"},
    };
    const QDateTime kept(QDate(2026, 12, 8), QTime(1, 17, 40), Qt::UTC);
    const auto write = [&](const std::string& file, const auto& messages) {
        for (const auto& lines : messages) {
            screening::TQuarantineCopy copy(file, kept);
            for (const std::string& line : lines)
                copy.AddLine(line);
            copy.Commit();
        }
    };
    write(screening::QuarantineOlderPath(path), older);
    write(path, current);

    const std::vector<screening::TQuarantinedMessage> read = screening::ReadQuarantine(path);
    ASSERT_EQ(read.size(), older.size() + current.size());
    std::vector<std::vector<std::string>> all = older;
    all.insert(all.end(), current.begin(), current.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::string expected;
        for (const std::string& line : all[i])
            expected += line + "\n";
        EXPECT_EQ(screening::QuarantinedMessageBytes(read[i]), expected) << i;
        EXPECT_EQ(read[i].Size, expected.size()) << i;
        EXPECT_EQ(read[i].Kept, kept) << i;
    }
    EXPECT_EQ(read[0].From, "Jörg <j@old.example>");
    EXPECT_EQ(read[2].Subject, "no body");

    screening::ExportQuarantinedMessage(read[1], dir.File("one.eml"));
    EXPECT_EQ(testsupport::ReadFile(dir.File("one.eml")),
              screening::QuarantinedMessageBytes(read[1]));
    // Once the file changed under it, a listed message is refused, not some other bytes.
    std::filesystem::resize_file(path, read[4].Separator + 3);
    EXPECT_THROW(screening::QuarantinedMessageBytes(read[4]), platform::EInOutError);
}

TScanResult Marked(std::int32_t number, const std::string& uidl, std::int64_t size,
                   const std::string& from, TVerdict::Kind kind) {
    TVerdict v;
    v.kind = kind;
    return screening::MakeScanResult(number, uidl, size, {"From: " + from, ""}, v);
}

struct EatMarked : ScanFixture {
    EatMarked() { config.Quarantine = false; }
};

// The last check saw five messages; meanwhile the mailbox changed. Only the marked messages
// still there go, by id or by headers, and the rest are counted as no longer found.
TEST_F(EatMarked, DeletesOnlyTheMarkedMessagesStillThere) {
    const TScanResult a = Marked(1, "id-a", 100, "a@spam.example", TVerdict::Spammer),
                      b = Marked(2, "id-b", 200, "b@spam.example", TVerdict::Spammer),
                      c = Marked(3, "id-c", 300, "c@ok.example", TVerdict::Ok),
                      d = Marked(4, "id-d", 400, "d@spam.example", TVerdict::UnknownSender),
                      e = Marked(5, "id-e", 500, "e@ok.example", TVerdict::Ok);
    const std::vector<TScanResult> results = {a, b, c, d, e};
    // b kept by the user, c marked to eat, the others by their verdicts: a, c, d.
    const std::vector<TMark> marks = {TMark::ByVerdict, TMark::Keep, TMark::Eat};
    struct Box {
        std::string id;
        int size;
        std::string from;
    };
    const struct {
        const char* name;
        bool uidl;
        std::vector<Box> box;     // the mailbox now
        std::vector<int> tops;    // header checks, without ids
        std::vector<int> deleted; // DELE, in order
        int notFound;
    } cases[] = {
        // a is gone, a new message came, c and d moved up; b (kept) is never touched.
        {"ids",
         true,
         {{"id-b", 200, "b@spam.example"},
          {"id-c", 300, "c@ok.example"},
          {"id-new", 100, "n@x"},
          {"id-d", 400, "d@spam.example"}},
         {},
         {2, 4},
         1},
        // No ids: message 1 is now another of a's size, a moved to 2; c is gone; d is still
        // message 4 but its size changed, so it is not d.
        {"headers",
         false,
         {{"", 100, "n@x"},
          {"", 100, "a@spam.example"},
          {"", 200, "b@spam.example"},
          {"", 401, "d@spam.example"}},
         {1, 2},
         {2},
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer s;
        LoggedIn(s);
        s.Expect("STAT").SendLine("+OK " + std::to_string(c.box.size()) + " 2000");
        s.Expect("UIDL");
        if (c.uidl) {
            s.SendLine("+OK");
            for (std::size_t i = 0; i < c.box.size(); ++i)
                s.SendLine(std::to_string(i + 1) + " " + c.box[i].id);
            s.SendLine(".");
        } else {
            s.SendLine("-ERR no ids");
        }
        s.Expect("LIST").SendLine("+OK");
        for (std::size_t i = 0; i < c.box.size(); ++i)
            s.SendLine(std::to_string(i + 1) + " " + std::to_string(c.box[i].size));
        s.SendLine(".");
        for (int m : c.tops) {
            s.Expect("TOP " + std::to_string(m) + " 0").SendLine("+OK");
            s.SendLine("From: " + c.box[std::size_t(m) - 1].from).SendLine("").SendLine(".");
        }
        for (int m : c.deleted)
            s.Expect("DELE " + std::to_string(m)).SendLine("+OK");
        testsupport::Pop3Quit(s);
        Serve(s);
        const int before = scanEnds;
        std::vector<TScanResult> marked = screening::MarkedToEat(results, marks);
        if (!c.uidl)
            for (TScanResult& r : marked)
                r.Uidl.clear(); // a check without the header cache lists no ids
        session.StartEatMarked(marked);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return scanEnds > before; }, 20000));
        EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
        EXPECT_EQ(session.MarkedNotFound(), c.notFound);
        EXPECT_EQ(session.EatenCount(), int(c.deleted.size()));
        // The results say which went, so a later "Eat marked" leaves them out.
        EXPECT_EQ(std::count_if(session.Results().begin(), session.Results().end(),
                                [](const TScanResult& r) { return r.Eaten; }),
                  std::ptrdiff_t(c.deleted.size()));
        EXPECT_TRUE(screening::MarkedToEat(session.Results(), {}).empty());
        EXPECT_EQ(view.activities[view.activities.size() - 2],
                  "Marked messages no longer found: " + std::to_string(c.notFound));
    }
}

} // namespace

namespace {

struct DovecotResults : ScanFixture {
    void SetUp() override {
        if (!testservers::DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        ASSERT_NE(testservers::DovecotEnvironment::Server(), nullptr)
            << testservers::DovecotEnvironment::StartError();
    }
};

// Each rule's verdict with its reason, and From and Subject as a person reads them.
TEST_F(DovecotResults, TheResultsNameEachVerdictAndItsReason) {
    testservers::DovecotServer& server = *testservers::DovecotEnvironment::Server();
    const std::string user = "resultlist";
    server.AddUser(user, "pw-results");
    for (const std::string& m :
         {std::string("From: anna@friends.example\nTo: me@home.example\nSubject: hello\n"
                      "Date: Tue, 8 Dec 2026 10:00:00 +0000\n\nbody\n"),
          std::string("From: sales@cheap-pills.example\nTo: me@friends.example\n"
                      "Subject: pills\n\nbody\n"),
          std::string("From: x@nowhere.example\nTo: me@home.example\nSubject: who\n\nbody\n"),
          std::string("From: =?UTF-8?Q?J=C3=B6rg?= <jorg@friends.example>\n"
                      "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\n\nbody\n")})
        server.AddMessage(user, m);
    UseServer(server.Host() + ":" + server.PortText(), user, "pw-results");
    config.GoodAddrList = {"friends.example"};
    config.SpammerList = {"cheap-pills.example"};
    config.HeaderCache = true;
    const struct {
        bool unknown, strict;           // the address checks
        std::vector<std::string> lines; // verdict, reason, From, Subject per message
    } cases[] = {
        {true,
         false,
         {"OK|friends.example in From: anna@friends.example|anna@friends.example|hello",
          "spammer|cheap-pills.example in From: sales@cheap-pills.example|"
          "sales@cheap-pills.example|pills",
          "unknown sender|no valid address|x@nowhere.example|who",
          "OK|friends.example in From: =?UTF-8?Q?J=C3=B6rg?= <jorg@friends.example>|"
          "Jörg <jorg@friends.example>|Grüße"}},
        // The strict check looks for the address in "To:" lines only.
        {false,
         true,
         {"unknown sender|no valid address|anna@friends.example|hello",
          "spammer|cheap-pills.example in From: sales@cheap-pills.example|"
          "sales@cheap-pills.example|pills",
          "unknown sender|no valid address|x@nowhere.example|who",
          "unknown sender|no valid address|Jörg <jorg@friends.example>|Grüße"}},
        {false,
         false,
         {"check skipped||anna@friends.example|hello",
          "spammer|cheap-pills.example in From: sales@cheap-pills.example|"
          "sales@cheap-pills.example|pills",
          "check skipped||x@nowhere.example|who",
          "check skipped||Jörg <jorg@friends.example>|Grüße"}},
    };
    for (const auto& c : cases) {
        config.Unknown = c.unknown;
        config.Strict = c.strict;
        config.ListsChanged();
        ASSERT_NO_FATAL_FAILURE(Scan(false));
        std::vector<std::string> lines;
        for (const TScanResult& r : session.Results()) {
            lines.push_back(screening::VerdictText(r.Verdict.kind) + "|" +
                            screening::ReasonText(r) + "|" + r.From + "|" + r.Subject);
            EXPECT_EQ(r.Number, int(lines.size()));
            EXPECT_FALSE(r.Uidl.empty());
            EXPECT_GT(r.Size, 0);
        }
        EXPECT_EQ(lines, c.lines) << "unknown " << c.unknown << ", strict " << c.strict;
        ASSERT_FALSE(session.Results().empty());
        EXPECT_EQ(session.Results()[0].Date, "Tue, 8 Dec 2026 10:00:00 +0000");
    }
}

} // namespace
