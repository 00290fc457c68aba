// morvandle-check --list, --list --json, --quarantine and --quarantine-export against a real
// Dovecot, run as users run it.

#include "config/dataConfig.h"
#include "servers/DovecotServer.h"
#include "support/TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

struct Listing : ::testing::Test {
    testsupport::TempDir programDir, configDir;
    struct Output {
        int exitCode = -1;
        std::string out, err;
    };

    void SetUp() override {
        std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    }

    Output Run(const QStringList& args) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(programDir.File("morvandle-check")), args);
        Output o;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "morvandle-check did not finish";
            return o;
        }
        o.exitCode = process.exitCode();
        o.out = process.readAllStandardOutput().toStdString();
        o.err = process.readAllStandardError().toStdString();
        return o;
    }
};

TEST_F(Listing, ListsTheResultsAndTheQuarantine) {
    if (!DovecotServer::Available()) GTEST_SKIP() << "dovecot is not installed";
    DovecotServer* server = DovecotEnvironment::Server();
    ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
    server->AddUser("lister", "pw-list");
    server->AddMessage("lister", "From: anna@friends.example\nSubject: hello\n\nbody\n");
    server->AddMessage("lister", "From: =?UTF-8?Q?Pill_Sh=C3=B6p?= <s@cheap-pills.example>\n"
                                 "Subject: pills\tnow\n\nFrom the shop\n");
    WriteFile(configDir.File("Morvandle.ini"),
              "[Config]\r\nServer=" + server->Host() + ":" + server->PortText() +
                  "\r\nLogin=lister\r\nPassword=" + ScramblePassword("pw-list") +
                  "\r\nUnknown=1\r\n");
    WriteFile(programDir.File("GoodAddr.txt"), "friends.example\r\n");
    WriteFile(programDir.File("spammers.txt"), "cheap-pills.example\r\n");

    const Output list = Run({"--list"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    // Only the list on standard output; a tab in a header becomes a blank.
    EXPECT_EQ(list.out, "1\tOK\tfriends.example in From: anna@friends.example\t"
                        "anna@friends.example\thello\n"
                        "2\tunknown sender\tno valid address\tPill Shöp <s@cheap-pills.example>\t"
                        "pills now\n");
    EXPECT_NE(list.err.find("Last Results - 2 Checked, 1 OK'd, 0 Eaten"), std::string::npos);

    const Output json = Run({"--json", "--list"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const QJsonArray array = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
    ASSERT_EQ(array.size(), 2);
    const QJsonObject second = array[1].toObject();
    EXPECT_EQ(second["number"].toInt(), 2);
    EXPECT_EQ(second["verdict"].toString(), "unknown sender");
    EXPECT_EQ(second["from"].toString(), "Pill Shöp <s@cheap-pills.example>");
    EXPECT_FALSE(second["uidl"].toString().isEmpty()); // the header cache lists ids
    EXPECT_GT(second["size"].toInt(), 0);
    EXPECT_EQ(array[0].toObject()["entry"].toString(), "friends.example");

    ASSERT_EQ(Run({"--eat"}).exitCode, 0);
    const Output kept = Run({"--quarantine"});
    EXPECT_EQ(kept.exitCode, 0) << kept.err;
    EXPECT_NE(kept.out.find("1\t"), std::string::npos);
    EXPECT_NE(kept.out.find("\tPill Shöp <s@cheap-pills.example>\tpills now\t"), std::string::npos)
        << kept.out;
    const std::string eml = configDir.File("one.eml");
    EXPECT_EQ(Run({"--quarantine-export", "1", QString::fromStdString(eml)}).exitCode, 0);
    const std::string bytes = ReadFile(eml);
    EXPECT_NE(bytes.find("Subject: pills\tnow\n\nFrom the shop\n"), std::string::npos) << bytes;
    EXPECT_EQ(Run({"--quarantine-export", "2", QString::fromStdString(eml)}).exitCode, 1);

    for (const QStringList& bad :
         {QStringList{"--json"}, QStringList{"--list", "--eat"}, QStringList{"--list", "--list"},
          QStringList{"--quarantine-export", "x", "f"}, QStringList{"--quarantine-export", "1"},
          QStringList{"--quarantine", "--wait"}, QStringList{"--quarantine", "--all"}})
        EXPECT_EQ(Run(bad).exitCode, 2) << bad.join(' ').toStdString();
}

} // namespace
