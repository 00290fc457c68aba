// The FTP client against a real vsftpd on 127.0.0.1: anonymous login, folders, sizes,
// downloads (byte-exact, resumed, cancelled), listings, uploads and the folder commands.

#include "FtpTest.h"

#include "servers/VsftpdServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>

namespace {

using ftptest::Recorder;
using testservers::VsftpdEnvironment;
using testservers::VsftpdServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

[[maybe_unused]] auto* const vsftpdEnvironment =
    ::testing::AddGlobalTestEnvironment(new VsftpdEnvironment);

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

class FtpVsftpd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!VsftpdServer::Available())
            GTEST_SKIP() << "vsftpd is not installed: tests against a real FTP server skipped";
        server = VsftpdEnvironment::Server();
        ASSERT_NE(server, nullptr) << VsftpdEnvironment::StartError();
        Configure(cli, *server);
    }

    void Configure(TFtpClient& c, const VsftpdServer& s) {
        c.SetHostName(s.Host());
        c.SetPort(s.PortText());
        c.SetUserName("anonymous");
        c.SetPassWord("morvandle@example.com");
        c.SetHostDirName("/pub/apps");
        c.SetTimeout(20);
    }

    // Puts a file where the server offers downloads.
    std::string Offer(const std::string& name, const std::string& bytes) {
        WriteFile(server->Root() + "/pub/apps/" + name, bytes);
        return bytes;
    }

    // Starts an asynchronous operation and waits for its OnRequestDone; returns its error.
    int Run(void (TCustomFtpCli::*op)()) {
        // The blocking operations return before their own reports come: those go first.
        QCoreApplication::processEvents();
        const std::size_t before = rec.done.size();
        (cli.*op)();
        if (!rec.WaitDone(before + 1, 30000)) return -1;
        return rec.Last().error;
    }

    VsftpdServer* server = nullptr;
    testsupport::TempDir local;
    TFtpClient cli;
    Recorder rec{cli};
};

TEST_F(FtpVsftpd, UpdateSequenceDownloadsTheFile) {
    const std::string text = Offer("spamupd.txt", "spam.example\r\nbad@example.org\r\n");
    cli.SetHostFileName("spamupd.txt");
    cli.SetLocalFileName(local.File("spamupd.txt"));

    ASSERT_TRUE(cli.ConnectSync()) << cli.ErrorMessage();
    EXPECT_TRUE(rec.Displayed("> PASS morvandle@example.com")); // 331 asked for it
    ASSERT_TRUE(cli.CwdSync()) << cli.ErrorMessage();
    ASSERT_TRUE(cli.SizeSync()) << cli.ErrorMessage();
    EXPECT_EQ(cli.RemoteFileSize(), static_cast<int32_t>(text.size()));
    ASSERT_TRUE(cli.TypeBinarySync());
    ASSERT_TRUE(cli.GetSync()) << cli.ErrorMessage();
    EXPECT_EQ(ReadFile(local.File("spamupd.txt")), text);
    EXPECT_TRUE(rec.Displayed("> PORT 127,0,0,1,"));
    EXPECT_TRUE(rec.Displayed("! " + std::to_string(text.size()) + " bytes received/sent in "));
    ASSERT_TRUE(cli.QuitSync());
    EXPECT_FALSE(cli.Connected());
    EXPECT_EQ(cli.LastResponse(), "221 Goodbye.");
    // Every request was reported, from the event loop.
    ASSERT_TRUE(rec.WaitDone(6));
    std::vector<TFtpRequest> kinds;
    for (const auto& d : rec.done)
        kinds.push_back(d.rq);
    EXPECT_EQ(kinds, (std::vector<TFtpRequest>{ftpRqConnect, ftpRqCwd, ftpRqSize, ftpRqTypeSet,
                                               ftpRqGet, ftpRqQuit}));
}

TEST_F(FtpVsftpd, LargeDownloadIsByteExactAndReportsProgress) {
    const std::string data = Offer("big.bin", RandomBytes(20 * 1024 * 1024, 7));
    cli.SetHostFileName("big.bin");
    cli.SetLocalFileName(local.File("big.bin"));
    ASSERT_TRUE(cli.ConnectSync());
    ASSERT_TRUE(cli.CwdSync());
    ASSERT_TRUE(cli.TypeBinarySync());
    ASSERT_TRUE(cli.GetSync()) << cli.ErrorMessage();
    EXPECT_TRUE(ReadFile(local.File("big.bin")) == data);
    ASSERT_FALSE(rec.progress.empty());
    EXPECT_TRUE(std::is_sorted(rec.progress.begin(), rec.progress.end()));
    // However much the platform delivers at once, progress comes every 2048 bytes.
    std::vector<int32_t> steps(rec.progress.size());
    std::adjacent_difference(rec.progress.begin(), rec.progress.end(), steps.begin());
    EXPECT_LE(*std::max_element(steps.begin() + 1, steps.end()), 2048);
    EXPECT_LE(rec.progress.back(), static_cast<int32_t>(data.size()));
    EXPECT_GE(rec.progress.back(), static_cast<int32_t>(data.size()) - 2048);
    cli.QuitSync();
}

TEST_F(FtpVsftpd, ListingsToFileAndToDisplay) {
    Offer("one.txt", "1");
    Offer("two.txt", "22");
    ASSERT_TRUE(cli.ConnectSync());
    ASSERT_TRUE(cli.CwdSync());
    cli.SetLocalFileName(local.File("dir.txt"));
    ASSERT_EQ(Run(&TCustomFtpCli::Dir), 0) << cli.ErrorMessage();
    EXPECT_NE(ReadFile(local.File("dir.txt")).find("two.txt"), std::string::npos);

    cli.SetDisplayFileFlag(true);
    cli.SetLocalFileName("");
    ASSERT_EQ(Run(&TCustomFtpCli::Ls), 0) << cli.ErrorMessage();
    EXPECT_NE(std::find(rec.file.begin(), rec.file.end(), "one.txt"), rec.file.end());
    EXPECT_NE(std::find(rec.file.begin(), rec.file.end(), "two.txt"), rec.file.end());
    cli.QuitSync();
}

TEST_F(FtpVsftpd, UploadsAndFolderCommandsInAWritableFolder) {
    const std::string upload = server->Root() + "/upload/";
    const std::string first = RandomBytes(300000, 1), second = RandomBytes(1500, 2);
    WriteFile(local.File("first"), first);
    WriteFile(local.File("second"), second);
    cli.SetHostDirName("/upload");
    ASSERT_TRUE(cli.ConnectSync());
    ASSERT_TRUE(cli.CwdSync());
    ASSERT_TRUE(cli.TypeBinarySync());

    cli.SetHostFileName("up.bin");
    cli.SetLocalFileName(local.File("first"));
    ASSERT_EQ(Run(&TCustomFtpCli::Put), 0) << cli.ErrorMessage();
    EXPECT_TRUE(ReadFile(upload + "up.bin") == first);
    cli.SetLocalFileName(local.File("second"));
    ASSERT_EQ(Run(&TCustomFtpCli::Append), 0) << cli.ErrorMessage();
    EXPECT_TRUE(ReadFile(upload + "up.bin") == first + second);

    cli.SetHostFileName("new dir");
    ASSERT_EQ(Run(&TCustomFtpCli::Mkd), 0);
    EXPECT_EQ(cli.RemoteDirName(), "/upload/new dir");
    EXPECT_TRUE(std::filesystem::is_directory(upload + "new dir"));
    ASSERT_EQ(Run(&TCustomFtpCli::Rmd), 0);
    EXPECT_FALSE(std::filesystem::exists(upload + "new dir"));

    cli.SetHostFileName("up.bin");
    cli.SetLocalFileName("renamed.bin");
    ASSERT_EQ(Run(&TCustomFtpCli::Ren), 0) << cli.ErrorMessage();
    EXPECT_TRUE(std::filesystem::exists(upload + "renamed.bin"));
    cli.SetHostFileName("renamed.bin");
    ASSERT_EQ(Run(&TCustomFtpCli::Dele), 0);
    EXPECT_FALSE(std::filesystem::exists(upload + "renamed.bin"));
    cli.QuitSync();
}

TEST_F(FtpVsftpd, ResumedDownloadAppendsTheRest) {
    const std::string data = Offer("resume.bin", RandomBytes(100000, 3));
    WriteFile(local.File("resume.bin"), data.substr(0, 30000));
    cli.SetHostFileName("resume.bin");
    cli.SetLocalFileName(local.File("resume.bin"));
    ASSERT_TRUE(cli.ConnectSync());
    ASSERT_TRUE(cli.CwdSync());
    ASSERT_TRUE(cli.TypeBinarySync());
    ASSERT_EQ(Run(&TCustomFtpCli::ResumeGet), 0) << cli.ErrorMessage();
    EXPECT_TRUE(rec.Displayed("> REST 30000"));
    EXPECT_TRUE(ReadFile(local.File("resume.bin")) == data);
    ASSERT_FALSE(rec.progress.empty());
    EXPECT_GE(rec.progress.front(), 30000); // counted from the resume position
    cli.QuitSync();
}

TEST_F(FtpVsftpd, WholeSessionsAsSingleRequests) {
    const std::string data = Offer("single.txt", "single request\r\n");
    cli.SetHostFileName("single.txt");
    cli.SetLocalFileName(local.File("single.txt"));
    ASSERT_EQ(Run(&TCustomFtpCli::DownloadFile), 0) << cli.ErrorMessage();
    EXPECT_EQ(rec.Last().rq, ftpRqDownloadFile);
    EXPECT_EQ(ReadFile(local.File("single.txt")), data);
    EXPECT_FALSE(cli.Connected());
    // The request reports the reply of the step before QUIT.
    EXPECT_EQ(cli.LastResponse(), "226 Transfer complete.");

    ASSERT_EQ(Run(&TCustomFtpCli::QueryFileSize), 0) << cli.ErrorMessage();
    EXPECT_EQ(rec.Last().rq, ftpRqQueryFileSize);
    EXPECT_EQ(cli.RemoteFileSize(), static_cast<int32_t>(data.size()));
    EXPECT_FALSE(cli.Connected());
}

TEST_F(FtpVsftpd, SizeOfAMissingFileFails) {
    cli.SetHostFileName("missing.txt");
    ASSERT_TRUE(cli.ConnectSync());
    ASSERT_TRUE(cli.CwdSync());
    EXPECT_FALSE(cli.SizeSync());
    EXPECT_EQ(cli.ErrorMessage(), "550 Could not get file size.");
    EXPECT_EQ(cli.RequestResult(), 550);
    EXPECT_EQ(cli.RemoteFileSize(), 0);
    EXPECT_TRUE(cli.QuitSync());
}

TEST_F(FtpVsftpd, GetSyncCancelledFromProgressOnASlowTransfer) {
    VsftpdServer* slow = VsftpdEnvironment::SlowServer();
    ASSERT_NE(slow, nullptr) << VsftpdEnvironment::StartError();
    WriteFile(slow->Root() + "/pub/apps/slow.bin", RandomBytes(2 * 1024 * 1024, 4));
    Configure(cli, *slow);
    cli.SetHostFileName("slow.bin");
    cli.SetLocalFileName(local.File("slow.bin"));
    ASSERT_TRUE(cli.ConnectSync());
    ASSERT_TRUE(cli.CwdSync());
    rec.abortAt = 100000;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(cli.GetSync());
    EXPECT_LT(timer.elapsed(), 3000); // the whole file would take about 4 s
    EXPECT_TRUE(rec.Displayed("! Abort requested"));
    EXPECT_NE(cli.RequestResult(), 0);
    EXPECT_FALSE(cli.ErrorMessage().empty());
    // The file holds exactly the blocks before the one the abort refused.
    EXPECT_EQ(std::filesystem::file_size(local.File("slow.bin")),
              std::uintmax_t(rec.progress.back()));
    // The control connection stays usable.
    EXPECT_TRUE(cli.QuitSync());
}

} // namespace

// Over IPv6 the data port is announced with EPRT and the local IPv6 address, which PORT
// cannot carry.
TEST_F(FtpVsftpd, DownloadOverIpv6AnnouncesTheDataPortWithEprt) {
    VsftpdServer* six = VsftpdEnvironment::Ipv6Server();
    ASSERT_NE(six, nullptr) << VsftpdEnvironment::StartError();
    Configure(cli, *six);
    WriteFile(six->Root() + "/pub/apps/spamupd.txt", "spam.example\r\n");
    cli.SetHostFileName("spamupd.txt");
    cli.SetLocalFileName(local.File("spamupd.txt"));
    ASSERT_TRUE(cli.ConnectSync()) << cli.ErrorMessage();
    ASSERT_TRUE(cli.CwdSync()) << cli.ErrorMessage();
    ASSERT_TRUE(cli.GetSync()) << cli.ErrorMessage();
    EXPECT_EQ(ReadFile(local.File("spamupd.txt")), "spam.example\r\n");
    EXPECT_TRUE(rec.Displayed("> EPRT |2|::1|"));
    EXPECT_FALSE(rec.Displayed("> PORT"));
    EXPECT_TRUE(cli.QuitSync());
}
