#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

class QProcess;

namespace testservers {

// A real vsftpd on 127.0.0.1 (or ::1) with anonymous login, run by the vsftpd-test-server script in
// a temporary folder. Files to download go below Root() + "/pub/apps"; Root() + "/upload"
// is writable by anonymous sessions. Stopped by the process ids of the listener and of its
// session processes.
class VsftpdServer {
  public:
    // RateLimit: bytes per second for every transfer, 0 for none. Host: 127.0.0.1 or ::1.
    explicit VsftpdServer(long rateLimit = 0, std::string host = "127.0.0.1");
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    // Whether vsftpd is installed.
    static bool Available();

    // Picks a free port, starts the server and waits until the port accepts connections.
    // On failure returns false with the reason in *error.
    bool Start(std::string* error);
    void Stop();

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // The anonymous root as seen from here.
    std::string Root() const;
    std::string LogText() const;

  private:
    bool StartOnce(std::string* error);

    struct Folder;
    std::unique_ptr<Folder> dir_;
    std::unique_ptr<QProcess> process_;
    long rate_ = 0;
    std::string host_;
    int port_ = 0;
};

// One plain and one rate-limited vsftpd per test program, each started on first use and
// stopped when the tests end. Register it from a test file with
//   testing::AddGlobalTestEnvironment(new testservers::VsftpdEnvironment);
class VsftpdEnvironment : public ::testing::Environment {
  public:
    void TearDown() override;
    // The shared servers; nullptr when one could not start (see StartError()).
    static VsftpdServer* Server();
    static VsftpdServer* SlowServer(); // 500,000 bytes per second
    static VsftpdServer* Ipv6Server(); // on ::1 only
    static const std::string& StartError();
};

} // namespace testservers
