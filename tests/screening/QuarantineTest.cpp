// The quarantine file's format and the guarantees of one copy, without a server.

#include "screening/Quarantine.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using screening::TQuarantineCopy;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {
const QDateTime kNow(QDate(2026, 3, 5), QTime(23, 4, 5), Qt::UTC);
const std::string kSeparator = "From a@b.example Thu Mar  5 23:04:05 2026\n";

std::string Keep(const std::string& path, const std::vector<std::string>& lines) {
    TQuarantineCopy copy(path, kNow);
    for (const auto& line : lines)
        copy.AddLine(line);
    copy.Commit();
    return copy.Summary();
}
} // namespace

// Separator lines (the quoting and the plain cases run against the real server).
TEST(Mbox, SeparatorLines) {
    struct Sender {
        std::vector<std::string> headers;
        std::string envelope;
    };
    for (const Sender& s : std::vector<Sender>{
             {{"return-path: <>", "FROM: Ann <ann@x.example>"}, "ann@x.example"},
             {{"From: ann@x.example (Ann)"}, "ann@x.example"},
             {{"From: \"Ann\"", "\t<ann@x.example>"}, "ann@x.example"},
             {{"From: <a b@x.example>"}, "MAILER-DAEMON"},
             {{"Subject: hi", "", "From: late@x.example"}, "MAILER-DAEMON"},
             {{}, "MAILER-DAEMON"},
         })
        EXPECT_EQ(screening::MboxEnvelopeSender(s.headers), s.envelope) << s.envelope;

    EXPECT_EQ(screening::MboxDate(
                  QDateTime(QDate(2026, 12, 31), QTime(23, 30, 0), Qt::OffsetFromUTC, -3600)),
              "Fri Jan  1 00:30:00 2027");
}

// Whatever the file ended with, the new separator starts on a line of its own behind a
// blank line; a copy that is not committed leaves no trace.
TEST(QuarantineCopy, AppendsSafelyBehindAnyEnding) {
    testsupport::TempDir dir;
    const std::string path = dir.File("quarantine.mbox");
    const std::vector<std::string> message = {"From: a@b.example", "Subject: s", "", "From x"};
    const std::string stored = "From: a@b.example\nSubject: s\n\n>From x\n\n";
    struct Case {
        std::string before, between;
    };
    for (const Case& c :
         std::vector<Case>{{"", ""}, {"old\n\n", ""}, {"old\n", "\n"}, {"torn lin", "\n\n"}}) {
        WriteFile(path, c.before);
        {
            TQuarantineCopy abandoned(path, kNow);
            abandoned.AddLine("From: a@b.example");
            abandoned.AddLine("");
            abandoned.AddLine(std::string(300000, 'z')); // reaches the disk before the end
        }
        EXPECT_EQ(ReadFile(path), c.before);
        EXPECT_EQ(Keep(path, message), "a@b.example - s");
        EXPECT_EQ(ReadFile(path), c.before + c.between + kSeparator + stored) << c.before;
    }
    // Headers alone, no body.
    WriteFile(path, "");
    Keep(path, {"From: a@b.example"});
    EXPECT_EQ(ReadFile(path), kSeparator + "From: a@b.example\n\n");
}

TEST(QuarantineCopy, AFileGrownPastTheLimitMakesWayForANewOne) {
    testsupport::TempDir dir;
    const std::string path = dir.File("quarantine.mbox");
    const std::string older = dir.File("quarantine.1.mbox");
    WriteFile(older, "oldest\n");
    for (std::uint64_t size :
         {screening::QuarantineRotateSize, screening::QuarantineRotateSize + 1}) {
        WriteFile(path, "");
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0); // sparse: no disk used
        Keep(path, {"From: a@b.example"});
        const bool rotated = size > screening::QuarantineRotateSize;
        EXPECT_EQ(std::filesystem::file_size(path),
                  rotated ? kSeparator.size() + 19 : size + 2 + kSeparator.size() + 19);
        EXPECT_EQ(std::filesystem::file_size(older), rotated ? size : 7u);
    }
}
