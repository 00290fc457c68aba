// Two Check and Eat runs at once in one program folder (two overlapping cron jobs, or one
// beside the desktop program), each a process of its own against its own scripted server.
// Run A stalls inside a RETR, with part of the message already on disk, while run B wants to
// copy; then A's connection drops and A cuts its partial copy back off the file. Every
// message the server deleted must have exactly one intact copy in quarantine.mbox.

#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

using testsupport::ScriptedServer;

namespace {

std::vector<std::string> Lines(char run, int msg) {
    const std::string id = run + std::to_string(msg);
    return {"From: " + id + "@x.example", "Subject: number " + id, "", "body " + id,
            std::string(1000, run)};
}

// The message as the quarantine keeps it (the clock is real: any date on the separator).
bool KeptAt(const std::string& mbox, std::size_t at, char run, int msg, std::size_t* end) {
    const std::string start = "From " + std::string(1, run) + std::to_string(msg) + "@x.example ";
    if (mbox.compare(at, start.size(), start) != 0) return false;
    const std::size_t eol = mbox.find('\n', at);
    if (eol == std::string::npos) return false;
    std::string text;
    for (const std::string& line : Lines(run, msg))
        text += line + "\n";
    text += "\n";
    if (mbox.compare(eol + 1, text.size(), text) != 0) return false;
    *end = eol + 1 + text.size();
    return true;
}

void Headers(ScriptedServer& s, char run, int msg) {
    s.Expect("TOP " + std::to_string(msg) + " 0").SendLine("+OK");
    for (const std::string& line : Lines(run, msg)) {
        if (line.empty()) break;
        s.SendLine(line);
    }
    s.SendLine("").SendLine(".");
}

void Eaten(ScriptedServer& s, char run, int msg) {
    Headers(s, run, msg);
    s.Expect("RETR " + std::to_string(msg)).SendLine("+OK");
    for (const std::string& line : Lines(run, msg))
        s.SendLine(line);
    s.SendLine(".").Expect("DELE " + std::to_string(msg)).SendLine("+OK");
}

void Open(ScriptedServer& s) {
    testsupport::Pop3Greeting(s);
    testsupport::Pop3Login(s, "bob", "pw");
    testsupport::Pop3Stat(s, 2);
}

bool Sent(const ScriptedServer& s, const std::string& command) {
    const auto r = s.Received();
    return std::find(r.begin(), r.end(), command) != r.end();
}

std::unique_ptr<QProcess> Eater(const std::string& folder, const ScriptedServer& server) {
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QUARANTINE_EATER_BINARY,
             {QString::fromStdString(folder), QString::fromStdString(server.PortText())});
    return p;
}

} // namespace

TEST(QuarantineTwoProcesses, EveryDeletedMessageKeepsOneIntactCopy) {
    const int rounds = qEnvironmentVariableIntValue("MORVANDLE_QUARANTINE_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("MORVANDLE_QUARANTINE_ROUNDS")
                           : 2;
    int deleted = 0, intact = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        testsupport::TempDir dir;
        const std::string mboxPath = dir.File("quarantine.mbox");

        auto a = std::make_unique<ScriptedServer>();
        Open(*a);
        Eaten(*a, 'a', 1);
        Headers(*a, 'a', 2);
        // More than the appender holds back, so part of the copy is in the file.
        std::string part = "+OK\r\nFrom: a2@x.example\r\n\r\n";
        while (part.size() < 400000)
            part += std::string(998, 'p') + "\r\n";
        a->Expect("RETR 2").Send(part).Expect("QUIT"); // stalls until the connection drops
        ScriptedServer b;
        Open(b);
        Eaten(b, 'b', 1);
        Eaten(b, 'b', 2);
        testsupport::Pop3Quit(b);

        a->Start();
        auto runA = Eater(dir.Path(), *a);
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] {
                std::error_code e;
                return std::filesystem::file_size(mboxPath, e) > 200000 && !e;
            },
            20000))
            << "run A did not stall in its copy; its server got "
            << testing::PrintToString(a->Received()) << testing::PrintToString(a->Failures());
        b.Start();
        auto runB = Eater(dir.Path(), b);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return Sent(b, "TOP 1 0"); }, 20000));
        // B copies, deletes and quits while A stalls, if nothing holds it back; what holds
        // it back must give way once A is gone.
        testsupport::WaitUntil([&] { return b.Finished(); }, 1000);
        const std::vector<std::string> receivedA = a->Received();
        a.reset(); // drops A's connection in the middle of its RETR

        for (QProcess* p : {runA.get(), runB.get()})
            ASSERT_TRUE(
                testsupport::WaitUntil([&] { return p->state() == QProcess::NotRunning; }, 20000));
        EXPECT_TRUE(b.Failures().empty()) << b.Failures().front();

        // The file is a sequence of intact copies, each message at most once.
        const std::string mbox = testsupport::ReadFile(mboxPath);
        std::map<std::string, int> copies;
        for (std::size_t at = 0, end = 0; at < mbox.size(); at = end) {
            bool found = false;
            for (char run : {'a', 'b'})
                for (int msg : {1, 2})
                    if (!found && KeptAt(mbox, at, run, msg, &end)) {
                        ++copies[run + std::to_string(msg)];
                        found = true;
                    }
            ASSERT_TRUE(found) << "damaged at byte " << at << " of " << mbox.size();
        }
        for (const auto& [id, n] : copies)
            EXPECT_EQ(n, 1) << id;
        // Deletions take effect with QUIT: only B's count.
        EXPECT_FALSE(std::find(receivedA.begin(), receivedA.end(), "QUIT") != receivedA.end());
        for (int msg : {1, 2}) {
            if (!Sent(b, "DELE " + std::to_string(msg)) || !Sent(b, "QUIT")) continue;
            ++deleted;
            const bool kept = copies["b" + std::to_string(msg)] == 1;
            intact += kept;
            EXPECT_TRUE(kept) << "b" << msg << " deleted without a copy";
        }
    }
    std::printf("copies intact / deleted: %d / %d in %d rounds\n", intact, deleted, rounds);
}
