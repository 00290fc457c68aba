#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class QProcess;

namespace testsupport {
class OAuth2TestServer;
}

namespace testservers {

// A real Dovecot POP3 server on 127.0.0.1 (or ::1), run by the dovecot-test-server script in a
// temporary folder and stopped by its process id. The server also dies with the process
// that started it (parent-death signal), so a crashed test leaves no Dovecot behind; that
// signal follows the starting thread, so start it from the main thread.
class DovecotServer {
  public:
    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Whether the dovecot binary is installed.
    static bool Available();

    // TLS mode, chosen before Start: the server then requires TLS, offers STLS on Port()
    // and POP3S on TlsPort(), with certificates of a test CA made at start (CaFile()). On
    // 127.0.0.1, ::1 and the name localhost its certificate is valid; on ExpiredHost() it presents
    // an expired one, on OtherNameHost() one issued for other.example only.
    void EnableTls() { tls_ = true; }
    int TlsPort() const { return tlsPort_; }
    std::string TlsPortText() const { return std::to_string(tlsPort_); }
    std::string CaFile() const { return Dir() + "/tls/ca.pem"; }
    static std::string ExpiredHost() { return "127.0.0.2"; }
    static std::string OtherNameHost() { return "127.0.0.3"; }

    // Picks a free port, starts the server and waits until the port accepts connections.
    // On failure returns false with the reason (and the server's log) in *error.
    bool Start(std::string* error);
    // SIGTERM and wait; SIGKILL if it does not end within 10 s.
    void Stop();

    // OAuth2 mode, chosen before Start: logins also take SASL XOAUTH2 and OAUTHBEARER, whose
    // tokens Dovecot asks the introspection URL about (POST token=...); a reply
    // {"active":true,"username":U} lets user U in. PLAIN and USER/PASS still check the
    // passwords of AddUser.
    void EnableOAuth2(const std::string& introspectionUrl) { introspectionUrl_ = introspectionUrl; }

    // Plain mode on ::1 instead of 127.0.0.1; chosen before Start.
    void UseIpv6() { ipv6_ = true; }
    std::string Host() const { return ipv6_ ? "::1" : "127.0.0.1"; }
    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }

    // A user with an empty maildir; the server knows it at once.
    void AddUser(const std::string& name, const std::string& password);
    // Drops a message (LF line ends) into the user's maildir; messages are numbered in the
    // order they were added.
    void AddMessage(const std::string& user, const std::string& text);
    // The messages left in the user's maildir (new/ and cur/), in the order they were added.
    std::vector<std::string> Messages(const std::string& user) const;

    // The server's log so far.
    std::string LogText() const;

  private:
    std::string Dir() const;
    bool StartOnce(std::string* error, bool* portBusy);
    std::string MailDir(const std::string& user) const;

    struct Folder;
    std::unique_ptr<Folder> dir_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    bool tls_ = false;
    bool ipv6_ = false;
    std::string introspectionUrl_;
    int tlsPort_ = 0;
    int messageSeq_ = 0;
};

// One Dovecot per test program: started on first use, stopped when the tests end.
// Register it from a test file with
//   testing::AddGlobalTestEnvironment(new testservers::DovecotEnvironment);
class DovecotEnvironment : public ::testing::Environment {
  public:
    void TearDown() override;
    // The shared server, started on first call; nullptr when it could not start (see
    // StartError()). Tests skip only when Available() is false.
    static DovecotServer* Server();
    static const std::string& StartError();
    // A second shared server, in TLS mode; the same rules.
    static DovecotServer* TlsServer();
    static const std::string& TlsStartError();
    // A third, plain, on ::1 only (the same port on 127.0.0.1 is closed); the same rules.
    static DovecotServer* Ipv6Server();
    static const std::string& Ipv6StartError();
    // A fourth, plain, in OAuth2 mode, asking OAuth2Authority() about tokens; the same rules.
    static DovecotServer* OAuth2Server();
    static testsupport::OAuth2TestServer* OAuth2Authority();
    static const std::string& OAuth2StartError();
};

} // namespace testservers
