// The client's AUTH against scripted servers: the initial response on the AUTH line or after
// "+ ", the failure challenge answered before the -ERR, a further challenge cancelled, a
// server without AUTH, and credentials that never reach the trace.

#include "Pop3Test.h"

#include "net/Pop3Sasl.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

namespace {

using pop3test::Recorder;
using testsupport::ScriptedServer;

const std::string kUser = "u";
const std::string kFailed = "-ERR [AUTH] Authentication failed.";
const std::string k401 = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=";

// The base64 initial response for a client of `server`.
std::string Response(const ScriptedServer& server, const std::string& mechanism,
                     const std::string& secret) {
    return SaslBase64(
        *SaslInitialResponse(mechanism, kUser, secret, "127.0.0.1", server.PortText()));
}

TEST(Pop3AuthScripted, ExchangesEndAsTheServerSays) {
    // A token that just fits the 255 octets of the AUTH line, and one that does not.
    const std::string fits(159, 't'), tooLong(160, 't');
    struct Row {
        const char* name;
        std::string mechanism, secret;
        std::function<void(ScriptedServer&)> script;
        std::uint16_t error;
        std::string errorMessage, status;
    } rows[] = {
        {"one line", "PLAIN", "pw",
         [](ScriptedServer& s) {
             s.Expect("AUTH PLAIN " + Response(s, "PLAIN", "pw")).SendLine("+OK Logged in.");
         },
         0, "", ""},
        {"255 octets on one line", "xoauth2", fits,
         [&](ScriptedServer& s) {
             s.Expect("AUTH XOAUTH2 " + Response(s, "XOAUTH2", fits)).SendLine("+OK Logged in.");
         },
         0, "", ""},
        {"longer: the response after +", "XOAUTH2", tooLong,
         [&](ScriptedServer& s) {
             s.ExpectAlone("AUTH XOAUTH2").SendLine("+ ");
             s.Expect(Response(s, "XOAUTH2", tooLong)).SendLine("+OK Logged in.");
         },
         0, "", ""},
        {"failure challenge", "XOAUTH2", "expired",
         [](ScriptedServer& s) {
             s.Expect("AUTH XOAUTH2 " + Response(s, "XOAUTH2", "expired")).SendLine(k401);
             s.ExpectAlone("").SendLine(kFailed);
         },
         500, kFailed + " (401)", "401"},
        {"failure challenge after the response line", "OAUTHBEARER", tooLong,
         [&](ScriptedServer& s) {
             s.ExpectAlone("AUTH OAUTHBEARER").SendLine("+");
             s.Expect(Response(s, "OAUTHBEARER", tooLong))
                 .SendLine("+ eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=");
             s.ExpectAlone("").SendLine(kFailed);
         },
         500, kFailed + " (invalid_token)", "invalid_token"},
        {"a further challenge is cancelled", "PLAIN", "pw",
         [](ScriptedServer& s) {
             s.Expect("AUTH PLAIN " + Response(s, "PLAIN", "pw")).SendLine("+ ");
             s.ExpectAlone("").SendLine("+ ");
             s.ExpectAlone("*").SendLine("-ERR Authentication aborted by client.");
         },
         500, "-ERR Authentication aborted by client.", ""},
        {"no AUTH", "PLAIN", "pw",
         [](ScriptedServer& s) {
             s.Expect("AUTH PLAIN " + Response(s, "PLAIN", "pw")).SendLine("-ERR Unknown command");
         },
         500, "-ERR Unknown command", ""},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.name);
        ScriptedServer server;
        testsupport::Pop3Greeting(server);
        r.script(server);
        if (r.error == 0) server.Expect("STAT").SendLine("+OK 0 0");
        testsupport::Pop3Quit(server);
        server.Start();

        TPop3Cli cli;
        Recorder rec{cli};
        cli.SetHost("127.0.0.1");
        cli.SetPort(server.PortText());
        cli.SetUserName(kUser);
        cli.SetPassWord(r.secret);
        cli.SetAuthMechanism(r.mechanism);
        cli.Connect();
        ASSERT_TRUE(rec.WaitDone(1));
        cli.Auth();
        ASSERT_TRUE(rec.WaitDone(2));
        EXPECT_EQ(rec.Last().rq, pop3Auth);
        EXPECT_EQ(rec.Last().error, r.error);
        EXPECT_EQ(cli.ErrorMessage(), r.errorMessage);
        EXPECT_EQ(cli.AuthStatus(), r.status);
        if (r.error == 0) {
            EXPECT_EQ(cli.ProtocolState(), pop3Transaction);
            cli.Stat();
            ASSERT_TRUE(rec.WaitDone(3));
        }
        cli.Quit();
        ASSERT_TRUE(rec.WaitDone(r.error == 0 ? 4 : 3));
        EXPECT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }));
        for (const auto& f : server.Failures())
            ADD_FAILURE() << "server: " << f;
        // The trace names the mechanism, never the credentials.
        std::string upper = r.mechanism;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::vector<std::string> masked =
            r.secret.size() < tooLong.size()
                ? std::vector<std::string>{"> AUTH " + upper + " ****"}
                : std::vector<std::string>{"> AUTH " + upper, "> ****"};
        for (const std::string& line : masked)
            EXPECT_NE(std::find(rec.display.begin(), rec.display.end(), line), rec.display.end())
                << line;
        for (const std::string& line : rec.display) {
            EXPECT_EQ(line.find(r.secret), std::string::npos) << line;
            EXPECT_EQ(line.find(Response(server, upper, r.secret)), std::string::npos) << line;
        }
    }
}

TEST(Pop3AuthScripted, RefusesWhatCannotGoOnTheWireAndSendsNothing) {
    ScriptedServer server;
    testsupport::Pop3Greeting(server);
    testsupport::Pop3Quit(server);
    server.Start();
    TPop3Cli cli;
    Recorder rec{cli};
    cli.SetHost("127.0.0.1");
    cli.SetPort(server.PortText());
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(1));
    struct Row {
        std::string mechanism, user, secret;
    } rows[] = {
        {"XOAUTH2", "u", "token\r\nDELE 1"},
        {"PLAIN", std::string("u\0admin", 7), "pw"},
        {"CRAM-MD5", "u", "pw"},
        {"", "u", "pw"},
    };
    for (const Row& r : rows) {
        cli.SetAuthMechanism(r.mechanism);
        cli.SetUserName(r.user);
        cli.SetPassWord(r.secret);
        EXPECT_THROW(cli.Auth(), Pop3Exception) << r.mechanism;
    }
    cli.Quit(); // the server expects nothing before it
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Failures(), std::vector<std::string>{});
}

} // namespace
