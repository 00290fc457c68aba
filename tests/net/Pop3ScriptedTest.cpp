// The POP3 client on a real socket: failed lookups and connections, a port that cannot be
// used, and an Abort that must close the connection.

#include "Pop3Test.h"

#include "net/WSocket.h"
#include "platform/ErrorReport.h"

#include "support/LocalResolver.h"
#include "support/ScriptedServer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace {

using pop3test::Recorder;
using testsupport::ScriptedServer;
using Lines = std::vector<std::string>;

class Pop3Scripted : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& f : server.Failures())
            ADD_FAILURE() << "server: " << f;
    }

    void StartClient() {
        cli.SetHost("127.0.0.1");
        cli.SetPort(server.PortText());
        cli.SetUserName("bob");
        cli.SetPassWord("pw");
        server.Start();
    }

    ScriptedServer server;
    TPop3Cli cli;
    Recorder rec{cli};
};

TEST_F(Pop3Scripted, UnknownHostAndRefusedConnectionReportNetworkCodes) {
    testsupport::LocalResolver resolver;
    cli.SetHost("no-such-host.invalid");
    cli.SetPort("110");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(1));
    EXPECT_EQ(rec.Last().rq, pop3Connect);
    EXPECT_EQ(rec.Last().error, 11001);
    EXPECT_EQ(cli.LastResponse(), "-ERR Host not found (Winsock error #11001)");
    EXPECT_EQ(cli.ErrorMessage(), cli.LastResponse());

    // Nothing listens on port 1 of the loopback address.
    cli.SetHost("127.0.0.1");
    cli.SetPort("1");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 10061);
    EXPECT_EQ(cli.LastResponse(), "-ERR Connection refused (Winsock error #10061)");
    EXPECT_EQ(cli.ErrorMessage(), "-ERR Host not found (Winsock error #11001)"); // first wins
    EXPECT_EQ(cli.State(), pop3Ready);
}

TEST_F(Pop3Scripted, APortTheSocketRefusesIsAFailedConnect) {
    // One line, as it goes into the log.
    const std::string refusal =
        "Error 11004 attempting connection (invalid port 'no-such-service')";
    // With a name to look up or an address, the port is refused before anything is sent.
    for (const char* host : {"localhost", "127.0.0.1"}) {
        cli.SetHost(host);
        cli.SetPort("no-such-service");
        cli.Connect();
        EXPECT_EQ(cli.State(), pop3Ready);
        ASSERT_TRUE(rec.WaitDone(rec.done.size() + 1));
        EXPECT_EQ(rec.Last().rq, pop3Connect);
        EXPECT_EQ(rec.Last().error, 11004);
        EXPECT_EQ(cli.LastResponse(), "-ERR No Data (Winsock error #11004)");
        EXPECT_EQ(cli.ConnectFailure(), refusal);
    }

    // The client is ready for the next attempt.
    testsupport::Pop3Greeting(server);
    StartClient();
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(cli.ConnectFailure(), "");
}

TEST_F(Pop3Scripted, AbortEndsLoginWith426) {
    StartClient(); // the server accepts but never greets
    cli.Login();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return cli.State() == pop3WaitingBanner; }));
    cli.Abort();
    EXPECT_EQ(cli.State(), pop3Ready);
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.done.size(), 1u);
    EXPECT_EQ(rec.Last().rq, pop3Login);
    EXPECT_EQ(rec.Last().error, 426);
    EXPECT_EQ(cli.ErrorMessage(), "426 Operation aborted.");
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ClientClosed(); }));

    // With nothing outstanding, Abort reports nothing.
    cli.Abort();
    testsupport::RunEventLoopFor(50);
    EXPECT_EQ(rec.done.size(), 1u);
}

} // namespace
