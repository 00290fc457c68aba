// The POP3 client reaching real Dovecot servers over IPv6, over names with addresses of both
// families, and with TLS to an IPv6 address.

#include "Pop3Test.h"

#include "servers/DovecotServer.h"
#include "servers/Pop3HeaderScan.h"
#include "support/LocalResolver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using testservers::DovecotEnvironment;
using testservers::DovecotServer;

[[maybe_unused]] auto* const dovecotEnvironment =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

// Each server on the family its row names; the name's other address has nothing listening.
TEST(Pop3Ipv6, HeaderScanReachesItsEndOverEitherFamily) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "dovecot is not installed (Debian packages dovecot-core, dovecot-pop3d)";
    testsupport::LocalResolver names{{"six-first.test", "::1 127.0.0.1"},
                                     {"four-first.test", "127.0.0.1 ::1"}};
    enum Which { plain, ipv6Only, tls };
    struct Case {
        const char* host;
        Which server;
    } cases[] = {
        {"::1", ipv6Only},
        {"four-first.test", ipv6Only},
        {"six-first.test", plain},
        {"::1", tls},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " server " + std::to_string(c.server));
        DovecotServer* server = c.server == plain      ? DovecotEnvironment::Server()
                                : c.server == ipv6Only ? DovecotEnvironment::Ipv6Server()
                                                       : DovecotEnvironment::TlsServer();
        ASSERT_NE(server, nullptr)
            << DovecotEnvironment::StartError() << DovecotEnvironment::Ipv6StartError()
            << DovecotEnvironment::TlsStartError();
        const std::string user = "ipv6scan" + std::to_string(++run);
        server->AddUser(user, "secret");
        server->AddMessage(user, "From: a@example.com\nSubject: over " + std::string(c.host) +
                                     "\n\nHello.\n");
        TPop3Cli cli;
        pop3test::Recorder rec{cli};
        cli.SetHost(c.host);
        cli.SetUserName(user);
        cli.SetPassWord("secret");
        if (c.server == tls) {
            cli.SetSecurity(secTls);
            cli.SetCAFile(server->CaFile());
            cli.SetPort(server->TlsPortText());
        } else {
            cli.SetPort(server->PortText());
        }
        bool finished = false;
        testservers::ChainHeaderScan(cli, [&] { finished = true; });
        cli.Connect();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return finished; }, 10000));
        ASSERT_FALSE(rec.done.empty());
        EXPECT_EQ(rec.Last().rq, pop3Quit) << cli.LastResponse();
        EXPECT_EQ(rec.Last().error, 0) << cli.LastResponse();
        EXPECT_NE(
            std::find(rec.lines.begin(), rec.lines.end(), "Subject: over " + std::string(c.host)),
            rec.lines.end());
    }
}

} // namespace
