// The scan over TLS and STLS against a real Dovecot that requires TLS, with certificates of
// a test CA.

#include "ScanTestSupport.h"
#include "servers/DovecotServer.h"

#include <QProcess>

#include <cstdio>

using scantest::ScanFixture;
using testservers::DovecotEnvironment;
using testservers::DovecotServer;

namespace {

const std::string kPassword = "Tls-Sesame-7";

std::string Message(const std::string& from, const std::string& subject) {
    return "From: " + from + "\nTo: me@home.example\nSubject: " + subject + "\nMessage-ID: <" +
           subject + "@test>\n\nBody of " + subject + "\n";
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Points OpenSSL's trust folder elsewhere for the scope; an empty path changes nothing.
struct ScopedCertDir {
    explicit ScopedCertDir(const std::string& path) : set(!path.empty()) {
        if (set) qputenv("SSL_CERT_DIR", QByteArray::fromStdString(path));
    }
    ~ScopedCertDir() {
        if (set) qunsetenv("SSL_CERT_DIR");
    }
    bool set;
};

struct TlsScan : ScanFixture {
    DovecotServer* server = nullptr;

    void SetUp() override {
        if (!DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        server = DovecotEnvironment::TlsServer();
        ASSERT_NE(server, nullptr) << DovecotEnvironment::TlsStartError();
    }

    // A user of its own for every scan; the trace goes to the log, so a test sees every
    // command the client sent.
    std::string Use(const std::string& host, int port, int security, const std::string& caFile,
                    const std::vector<std::string>& messages = {}) {
        static int users = 0;
        const std::string user = "tls" + std::to_string(++users);
        server->AddUser(user, kPassword);
        for (const auto& m : messages)
            server->AddMessage(user, m);
        config.Security = security;
        config.CAFile = caFile;
        config.LogLevel = true;
        UseServer(host + ":" + std::to_string(port), user, kPassword);
        return user;
    }

    // A scan ends when QUIT is answered; the client counts as connected until the server's
    // close (after its close alert) has come in, and only then takes the next Connect.
    bool ClosedAfterQuit() {
        return testsupport::WaitUntil([&] { return client.ConnectionClosed(); });
    }
};

TEST_F(TlsScan, CheckAndEatOverTlsAndStlsWithTheTestCa) {
    // A system trust store that holds the test CA, in the hashed form OpenSSL looks up.
    testsupport::TempDir systemStore;
    const std::string store = systemStore.Path();
    ASSERT_EQ(QProcess::execute(
                  "sh", {"-c", QString::fromStdString("cp '" + server->CaFile() + "' '" + store +
                                                      "/' && openssl rehash '" + store + "'")}),
              0);
    struct Case {
        const char* name;
        std::string host;
        int port;
        int security;
        bool systemTrust = false; // the CA in the system's store, not in CAFile
    } cases[] = {
        {"POP3S to the address", "127.0.0.1", server->TlsPort(), 1},
        {"STLS to the name", "localhost", server->Port(), 2},
        {"POP3S, the CA in the system's store", "127.0.0.1", server->TlsPort(), 1, true},
    };
    config.SpammerList = {"cheap-pills.example"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string logBefore = server->LogText();
        ScopedCertDir certDir(c.systemTrust ? store : "");
        const std::string user = Use(
            c.host, c.port, c.security, c.systemTrust ? "" : server->CaFile(),
            {Message("anna@friends.example", "one"), Message("ads@cheap-pills.example", "two")});
        ASSERT_NO_FATAL_FAILURE(Scan(false));
        EXPECT_EQ(view.statusBar, "Last Results - 2 Checked, 1 OK'd, 0 Eaten");
        ASSERT_TRUE(ClosedAfterQuit());
        ASSERT_NO_FATAL_FAILURE(Scan(true));
        EXPECT_EQ(view.statusBar, "Last Results - 2 Checked, 1 OK'd, 1 Eaten");
        ASSERT_TRUE(ClosedAfterQuit());
        EXPECT_EQ(server->Messages(user).size(), 1u);
        // Dovecot marks a login over TLS with "TLS" (it would take a plain one from the
        // loopback too, so the scan's success alone proves nothing).
        const std::string log = server->LogText().substr(logBefore.size());
        EXPECT_EQ(Count(log, "Login: user=<" + user + ">"), 2) << log;
        EXPECT_EQ(Count(log, ", TLS, session=<"), 2) << log;
        std::remove(dir.File("spammers.log").c_str());
    }
}

TEST_F(TlsScan, CertificatesThatFailVerificationEndTheCheckBeforeLogin) {
    const std::string verifyFailed = "TLS error: certificate verify failed ";
    struct Case {
        const char* name;
        std::string host;
        int port;
        int security;
        std::string caFile;
        std::string error;
    } cases[] = {
        {"TLS without the CA", "127.0.0.1", server->TlsPort(), 1, "",
         verifyFailed + "(unable to get local issuer certificate)"},
        {"STLS without the CA", "127.0.0.1", server->Port(), 2, "",
         verifyFailed + "(unable to get local issuer certificate)"},
        {"another name", DovecotServer::OtherNameHost(), server->TlsPort(), 1, server->CaFile(),
         verifyFailed + "(IP address mismatch)"},
        {"expired", DovecotServer::ExpiredHost(), server->TlsPort(), 1, server->CaFile(),
         verifyFailed + "(certificate has expired)"},
        {"CA file missing", "127.0.0.1", server->TlsPort(), 1, dir.File("none.pem"),
         "TLS error: cannot read the CA file " + dir.File("none.pem") +
             " (No such file or directory)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Use(c.host, c.port, c.security, c.caFile);
        view.labels.clear();
        ASSERT_NO_FATAL_FAILURE(Scan(true));
        EXPECT_EQ(view.labels, (std::vector<std::string>{"Connecting to mail server", c.error}));
        // The trace is on: not one command was sent.
        EXPECT_EQ(LogLines(), std::vector<std::string>{c.error});
        EXPECT_EQ(view.statusBar, "Last Results - unable to locate server");
        EXPECT_FALSE(session.ReachedReport());
        EXPECT_EQ(client.LastResponse(), "-ERR " + c.error);
        std::remove(dir.File("spammers.log").c_str());
    }
}

} // namespace
