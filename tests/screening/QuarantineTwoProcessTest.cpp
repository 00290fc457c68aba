// Two Check and Eat runs at once in one program folder (overlapping cron jobs), each a
// process of its own against its own scripted server. Run A stalls inside a RETR with part
// of the copy on disk while run B wants to copy; then A's connection drops and A cuts its
// partial copy back off. Every message B deleted must have exactly one intact copy.

#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ScriptedServer;

namespace {

std::vector<std::string> Lines(const std::string& id) {
    return {"From: " + id + "@x.example", "Subject: " + id, "", "body", std::string(1000, 'b')};
}

// The copy as the quarantine keeps it, its separator's date left out.
std::string Kept(const std::string& id) {
    std::string text = "From " + id + "@x.example\n";
    for (const std::string& line : Lines(id))
        text += line + "\n";
    return text + "\n";
}

// Message n, headers for TOP, then RETR (all of it) and DELE.
void Serve(ScriptedServer& s, int n, const std::string& id, bool whole = true) {
    const std::string num = std::to_string(n);
    s.Expect("TOP " + num + " 0").SendLine("+OK").SendLine(Lines(id)[0]).SendLine(Lines(id)[1]);
    s.SendLine("").SendLine(".");
    if (!whole) return;
    s.Expect("RETR " + num).SendLine("+OK");
    for (const std::string& line : Lines(id))
        s.SendLine(line);
    s.SendLine(".").Expect("DELE " + num).SendLine("+OK");
}

void Open(ScriptedServer& s) {
    testsupport::Pop3Greeting(s);
    testsupport::Pop3Login(s, "bob", "pw");
    testsupport::Pop3Stat(s, 2);
}

std::unique_ptr<QProcess> Eater(const std::string& folder, const ScriptedServer& server) {
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QUARANTINE_EATER_BINARY,
             {QString::fromStdString(folder), QString::fromStdString(server.PortText())});
    return p;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(QuarantineTwoProcesses, EveryDeletedMessageKeepsOneIntactCopy) {
    const int rounds = std::max(2, qEnvironmentVariableIntValue("MORVANDLE_QUARANTINE_ROUNDS"));
    int deleted = 0, intact = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        testsupport::TempDir dir;
        auto a = std::make_unique<ScriptedServer>();
        Open(*a);
        Serve(*a, 1, "a1");
        Serve(*a, 2, "a2", false);
        // More than the appender holds back, so part of the copy reaches the file.
        std::string part = "+OK\r\nFrom: a2@x.example\r\n\r\n";
        while (part.size() < 400000)
            part += std::string(998, 'p') + "\r\n";
        a->Expect("RETR 2").Send(part).Expect("QUIT"); // stalls until the connection drops
        ScriptedServer b;
        Open(b);
        Serve(b, 1, "b1");
        Serve(b, 2, "b2");
        testsupport::Pop3Quit(b);

        a->Start();
        auto runA = Eater(dir.Path(), *a);
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] {
                std::error_code e;
                return std::filesystem::file_size(dir.File("quarantine.mbox"), e) > 200000 && !e;
            },
            20000))
            << "run A did not stall in its copy";
        b.Start();
        auto runB = Eater(dir.Path(), b);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return b.Received().size() > 4; }, 20000));
        // B copies, deletes and quits while A stalls, if nothing holds it back; what holds
        // it back must give way once A is gone.
        testsupport::WaitUntil([&] { return b.Finished(); }, 1000);
        a.reset(); // drops A's connection in the middle of its RETR
        for (QProcess* p : {runA.get(), runB.get()})
            ASSERT_TRUE(
                testsupport::WaitUntil([&] { return p->state() == QProcess::NotRunning; }, 20000));
        EXPECT_TRUE(b.Failures().empty()) << b.Failures().front();

        const std::string mbox =
            QString::fromStdString(testsupport::ReadFile(dir.File("quarantine.mbox")))
                .replace(
                    QRegularExpression("^(From \\S+) .*$", QRegularExpression::MultilineOption),
                    "\\1")
                .toStdString();
        EXPECT_EQ(mbox, Kept("a1") + Kept("b1") + Kept("b2"));
        const bool quit = b.Received().back() == "QUIT";
        for (const char* id : {"b1", "b2"}) {
            deleted += quit;
            intact += quit && Count(mbox, Kept(id)) == 1;
        }
    }
    EXPECT_EQ(intact, deleted);
    std::printf("copies intact / deleted: %d / %d in %d rounds\n", intact, deleted, rounds);
}
