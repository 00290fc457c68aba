// The client's AUTH against scripted servers: the initial response on the AUTH line or after
// "+ ", the failure challenge answered before the -ERR, a further challenge cancelled, a
// server without AUTH, and credentials that never reach the trace.

#include "Pop3Test.h"

#include "net/Pop3Sasl.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace {

using pop3test::Recorder;
using testsupport::ScriptedServer;

const std::string kFailed = "-ERR [AUTH] Authentication failed.";
const std::string k401 = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=";

std::string XOAuth2(const std::string& token) {
    return SaslBase64(*SaslInitialResponse("XOAUTH2", "u", token, "", ""));
}

// A client connected to `server`, with user "u".
void Connect(TPop3Cli& cli, Recorder& rec, const ScriptedServer& server) {
    cli.SetHost("127.0.0.1");
    cli.SetPort(server.PortText());
    cli.SetUserName("u");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(1));
}

TEST(Pop3AuthScripted, ExchangesEndAsTheServerSays) {
    // A token that just fits the 255 octets of the AUTH line, and one that does not.
    const std::string fits(159, 't'), tooLong(160, 't');
    using Talk = std::vector<std::pair<std::string, std::string>>; // client line, server reply
    struct Row {
        std::string mechanism, secret;
        Talk talk;
        std::string status, trace; // the masked line the trace shows
    } rows[] = {
        {"xoauth2", fits, {{"AUTH XOAUTH2 " + XOAuth2(fits), "+OK"}}, "", "> AUTH XOAUTH2 ****"},
        {"XOAUTH2", tooLong, {{"AUTH XOAUTH2", "+ "}, {XOAuth2(tooLong), "+OK"}}, "", "> ****"},
        {"XOAUTH2",
         tooLong,
         {{"AUTH XOAUTH2", "+"}, {XOAuth2(tooLong), k401}, {"", kFailed}},
         "401",
         "> ****"},
        // A server that does not take the response on the AUTH line asks for it again.
        {"PLAIN", "pw", {{"AUTH PLAIN AHUAcHc=", "+"}, {"AHUAcHc=", "+OK"}}, "", "> ****"},
        {"PLAIN",
         "pw",
         {{"AUTH PLAIN AHUAcHc=", "+ "},
          {"AHUAcHc=", "+ "},
          {"", "+ "},
          {"*", "-ERR Authentication aborted."}},
         "",
         "> AUTH PLAIN ****"},
        {"PLAIN", "pw", {{"AUTH PLAIN AHUAcHc=", "-ERR Unknown command"}}, "", "> AUTH PLAIN ****"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.talk.back().second);
        ScriptedServer server;
        testsupport::Pop3Greeting(server);
        for (const auto& [line, reply] : r.talk)
            server.ExpectAlone(line).SendLine(reply); // the client waits for each reply
        testsupport::Pop3Quit(server);
        server.Start();
        TPop3Cli cli;
        Recorder rec{cli};
        ASSERT_NO_FATAL_FAILURE(Connect(cli, rec, server));
        cli.SetPassWord(r.secret);
        cli.SetAuthMechanism(r.mechanism);
        cli.Auth();
        ASSERT_TRUE(rec.WaitDone(2));
        const std::string& last = r.talk.back().second;
        const bool ok = last == "+OK";
        EXPECT_EQ(rec.Last().rq, pop3Auth);
        EXPECT_EQ(rec.Last().error, ok ? 0 : 500);
        EXPECT_EQ(cli.ProtocolState(), ok ? pop3Transaction : pop3WaitingUser);
        EXPECT_EQ(cli.AuthStatus(), r.status);
        EXPECT_EQ(cli.ErrorMessage(), ok                 ? ""
                                      : r.status.empty() ? last
                                                         : last + " (" + r.status + ")");
        cli.Quit();
        ASSERT_TRUE(rec.WaitDone(3));
        EXPECT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }));
        EXPECT_EQ(server.Failures(), std::vector<std::string>{});
        EXPECT_NE(std::find(rec.display.begin(), rec.display.end(), r.trace), rec.display.end());
        const std::string response = r.mechanism == "PLAIN" ? "AHUAcHc=" : XOAuth2(r.secret);
        for (const std::string& line : rec.display) {
            EXPECT_EQ(line.find(r.secret), std::string::npos) << line;
            EXPECT_EQ(line.find(response), std::string::npos) << line;
        }
    }
}

TEST(Pop3AuthScripted, RefusesWhatCannotGoOnTheWireAndSendsNothing) {
    ScriptedServer server;
    testsupport::Pop3Greeting(server);
    testsupport::Pop3Quit(server); // nothing may come before QUIT
    server.Start();
    TPop3Cli cli;
    Recorder rec{cli};
    ASSERT_NO_FATAL_FAILURE(Connect(cli, rec, server));
    const std::pair<std::string, std::string> rows[] = {
        {"XOAUTH2", "token\r\nDELE 1"}, {"PLAIN", std::string("p\0w", 3)}, {"CRAM-MD5", "pw"}};
    for (const auto& [mechanism, secret] : rows) {
        cli.SetAuthMechanism(mechanism);
        cli.SetPassWord(secret);
        EXPECT_THROW(cli.Auth(), Pop3Exception) << mechanism;
    }
    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Failures(), std::vector<std::string>{});
}

} // namespace
