#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A loopback TCP server on 127.0.0.1 (port 0: the kernel picks one) that accepts one
// connection and plays a script against it in its own thread, with blocking sockets, so a
// test reads like a transcript:
//
//   ScriptedServer server;
//   server.SendLine("+OK ready").Expect("USER bob").SendLine("+OK").Close();
//   server.Start();
//
// Every line the client sends (without its CR LF) is recorded. After the last step the
// server goes on recording until the client closes, so a test can check that the client
// sent nothing more.
class ScriptedServer {
  public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }

    // Script steps, played in order once a client connects.
    ScriptedServer& Send(const std::string& bytes);
    ScriptedServer& SendLine(const std::string& line);      // line + CR LF
    ScriptedServer& SendBytewise(const std::string& bytes); // one write per byte
    ScriptedServer& Expect(const std::string& line);        // the next client line must be this
    ScriptedServer& ExpectPrefix(const std::string& start); // ... or start with this
    // Expect, and nothing more may arrive within 100 ms: the client waits for the reply.
    ScriptedServer& ExpectAlone(const std::string& line);
    ScriptedServer& Close();
    ScriptedServer& SendAndClose(const std::string& bytes); // bytes, then close at once
    ScriptedServer& Pause(int milliseconds);                // a server that is slow, not silent
    // From here on the conversation runs over TLS: the server side of a handshake with the
    // certificate chain and key of these PEM files. Close then sends a close alert first.
    ScriptedServer& StartTls(const std::string& certFile, const std::string& keyFile);
    // TLS: the close alert alone; the connection stays open and recording goes on.
    ScriptedServer& SendCloseAlert();

    // A second connection, as FTP servers open for data: to the address and port of the last
    // "PORT h1,h2,h3,h4,p1,p2" line the client sent, from the given local address.
    ScriptedServer& OpenData(const std::string& fromAddress = "127.0.0.1");
    ScriptedServer& SendData(const std::string& bytes);
    // Sends chunks of `chunk` bytes with a pause after each, for as long as the client takes
    // them: a server that never stops.
    ScriptedServer& StreamData(int chunk, int pauseMs);
    ScriptedServer& CloseData();
    // Reads the data connection until the client closes it; see DataReceived().
    ScriptedServer& ReadData();

    // Starts accepting; the script must be complete.
    void Start();

    // Thread-safe views for the test thread.
    bool ScriptDone() const { return scriptDone_; }
    bool ClientClosed() const { return clientClosed_; }
    // The connection is closed (by the script or the client): Received() is complete.
    bool Finished() const { return finished_; }
    std::vector<std::string> Received() const;
    // Mismatched expectations and socket failures; empty when the client behaved.
    std::vector<std::string> Failures() const;
    // What ReadData steps read, all together.
    std::string DataReceived() const;

  private:
    enum class Op {
        Send,
        SendBytewise,
        Expect,
        ExpectAlone,
        ExpectPrefix,
        Close,
        Pause,
        StartTls,
        CloseAlert,
        OpenData,
        SendData,
        StreamData,
        CloseData,
        ReadData
    };
    struct Step {
        Op op;
        std::string data;
    };

    void Run();
    bool PlayStep(int fd, const Step& step);
    // The next CR LF line from the client; false at end of stream or on a failure.
    bool NextLine(int fd, std::string* line);
    bool WriteAll(int fd, const char* data, size_t len);
    // recv, or SSL_read once TLS runs.
    long ReadSome(int fd, char* buf, size_t len);
    bool AcceptTls(int fd, const std::string& certAndKey);
    bool PlayDataStep(const Step& step);
    bool ConnectData(const std::string& from);
    void Fail(const std::string& what);

    struct Tls;
    std::unique_ptr<Tls> tls_;

    int listenFd_ = -1;
    std::atomic<int> connFd_{-1};
    std::atomic<int> dataFd_{-1};
    std::string dataReceived_;
    int port_ = 0;
    std::vector<Step> steps_;
    std::string pending_; // bytes read but not yet split into lines
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> scriptDone_{false};
    std::atomic<bool> clientClosed_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::vector<std::string> failures_;
};

// Building blocks of POP3 conversations.
void Pop3Greeting(ScriptedServer& server, const std::string& banner = "+OK POP3 ready");
void Pop3Login(ScriptedServer& server, const std::string& user, const std::string& password);
// A STAT announcing `count` messages; with more than one the scan asks CAPA, which a server
// of the old kind refuses (the scan then goes one request at a time) and `capabilities`
// otherwise answers, one per line.
void Pop3Stat(ScriptedServer& server, int count, const std::vector<std::string>& capabilities = {});
// Expects QUIT, answers it and closes, as servers do.
void Pop3Quit(ScriptedServer& server);

} // namespace testsupport
