#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace testsupport {

namespace {
// A client that never sends what the script waits for must not hang the test program.
constexpr int kIoTimeoutSeconds = 20;

void SetTimeouts(int fd) {
    timeval tv{};
    tv.tv_sec = kIoTimeoutSeconds;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}
} // namespace

struct ScriptedServer::Tls {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    ~Tls() {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
};

ScriptedServer::ScriptedServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 1) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        int err = errno;
        ::close(listenFd_);
        throw std::runtime_error("listen on 127.0.0.1: " + std::string(std::strerror(err)));
    }
    SetTimeouts(listenFd_);
    port_ = ntohs(addr.sin_port);
}

ScriptedServer::~ScriptedServer() {
    stopping_ = true;
    // Wakes the thread from a blocking accept or read.
    ::shutdown(listenFd_, SHUT_RDWR);
    int fd = connFd_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    if (int data = dataFd_.load(); data >= 0) ::shutdown(data, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (int data = dataFd_.load(); data >= 0) ::close(data);
    ::close(listenFd_);
}

ScriptedServer& ScriptedServer::Send(const std::string& bytes) {
    steps_.push_back({Op::Send, bytes});
    return *this;
}

ScriptedServer& ScriptedServer::SendLine(const std::string& line) {
    return Send(line + "\r\n");
}

ScriptedServer& ScriptedServer::SendBytewise(const std::string& bytes) {
    steps_.push_back({Op::SendBytewise, bytes});
    return *this;
}

ScriptedServer& ScriptedServer::Expect(const std::string& line) {
    steps_.push_back({Op::Expect, line});
    return *this;
}

ScriptedServer& ScriptedServer::ExpectAlone(const std::string& line) {
    steps_.push_back({Op::ExpectAlone, line});
    return *this;
}

ScriptedServer& ScriptedServer::ExpectPrefix(const std::string& start) {
    steps_.push_back({Op::ExpectPrefix, start});
    return *this;
}

ScriptedServer& ScriptedServer::Close() {
    steps_.push_back({Op::Close, {}});
    return *this;
}

ScriptedServer& ScriptedServer::SendAndClose(const std::string& bytes) {
    return Send(bytes).Close();
}

ScriptedServer& ScriptedServer::Pause(int milliseconds) {
    steps_.push_back({Op::Pause, std::to_string(milliseconds)});
    return *this;
}

ScriptedServer& ScriptedServer::SendCloseAlert() {
    steps_.push_back({Op::CloseAlert, {}});
    return *this;
}

ScriptedServer& ScriptedServer::StartTls(const std::string& certFile, const std::string& keyFile) {
    steps_.push_back({Op::StartTls, certFile + "\n" + keyFile});
    return *this;
}

ScriptedServer& ScriptedServer::OpenData(const std::string& fromAddress) {
    steps_.push_back({Op::OpenData, fromAddress});
    return *this;
}

ScriptedServer& ScriptedServer::SendData(const std::string& bytes) {
    steps_.push_back({Op::SendData, bytes});
    return *this;
}

ScriptedServer& ScriptedServer::StreamData(int chunk, int pauseMs) {
    steps_.push_back({Op::StreamData, std::to_string(chunk) + "," + std::to_string(pauseMs)});
    return *this;
}

ScriptedServer& ScriptedServer::CloseData() {
    steps_.push_back({Op::CloseData, {}});
    return *this;
}

ScriptedServer& ScriptedServer::ReadData() {
    steps_.push_back({Op::ReadData, {}});
    return *this;
}

std::string ScriptedServer::DataReceived() const {
    std::lock_guard lock(mutex_);
    return dataReceived_;
}

void ScriptedServer::Start() {
    thread_ = std::thread([this] { Run(); });
}

std::vector<std::string> ScriptedServer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> ScriptedServer::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

void ScriptedServer::Fail(const std::string& what) {
    std::lock_guard lock(mutex_);
    failures_.push_back(what);
}

void ScriptedServer::Run() {
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) {
        if (!stopping_) Fail("accept: " + std::string(std::strerror(errno)));
        return;
    }
    SetTimeouts(fd);
    connFd_ = fd;
    bool open = true;
    for (const Step& step : steps_) {
        if (stopping_ || !(open = PlayStep(fd, step))) break;
    }
    scriptDone_ = true;
    // Keep recording until the client closes or the test ends.
    std::string line;
    while (open && !stopping_ && NextLine(fd, &line)) {
    }
    connFd_ = -1;
    tls_.reset();
    ::close(fd);
    finished_ = true;
}

// Returns false once the connection is closed (by the script or the client).
bool ScriptedServer::PlayStep(int fd, const Step& step) {
    std::string line;
    switch (step.op) {
    case Op::Send:
        return WriteAll(fd, step.data.data(), step.data.size());
    case Op::SendBytewise:
        for (char c : step.data)
            if (!WriteAll(fd, &c, 1)) return false;
        return true;
    case Op::Expect:
    case Op::ExpectAlone: {
        if (!NextLine(fd, &line)) {
            Fail("expected \"" + step.data + "\", but the client closed or sent nothing");
            return false;
        }
        if (line != step.data) Fail("expected \"" + step.data + "\", got \"" + line + "\"");
        pollfd more{fd, POLLIN, 0};
        if (step.op == Op::ExpectAlone && (!pending_.empty() || ::poll(&more, 1, 100) > 0))
            Fail("\"" + step.data + "\" was not alone: more came before its reply");
        return true;
    }
    case Op::ExpectPrefix:
        if (!NextLine(fd, &line)) {
            Fail("expected \"" + step.data + "...\", but the client closed or sent nothing");
            return false;
        }
        if (line.rfind(step.data, 0) != 0)
            Fail("expected \"" + step.data + "...\", got \"" + line + "\"");
        return true;
    case Op::Close:
        if (tls_) ::SSL_shutdown(tls_->ssl);
        return false;
    case Op::Pause:
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.data)));
        return true;
    case Op::StartTls:
        return AcceptTls(fd, step.data);
    case Op::CloseAlert:
        if (!tls_) Fail("a close alert needs TLS");
        return tls_ && ::SSL_shutdown(tls_->ssl) >= 0;
    case Op::OpenData:
    case Op::SendData:
    case Op::StreamData:
    case Op::CloseData:
    case Op::ReadData:
        // A failed data step is recorded; the control connection goes on.
        PlayDataStep(step);
        return true;
    }
    return false;
}

bool ScriptedServer::AcceptTls(int fd, const std::string& certAndKey) {
    if (!pending_.empty()) Fail("the client sent more before the TLS handshake");
    pending_.clear();
    const std::string cert = certAndKey.substr(0, certAndKey.find('\n'));
    const std::string key = certAndKey.substr(certAndKey.find('\n') + 1);
    // OpenSSL writes to the socket with write(), which raises SIGPIPE when the client has
    // gone; that must end the script, not the test program.
    std::signal(SIGPIPE, SIG_IGN);
    tls_ = std::make_unique<Tls>();
    tls_->ctx = ::SSL_CTX_new(::TLS_server_method());
    // A client that just closes ends the conversation like a plain close.
    if (tls_->ctx) ::SSL_CTX_set_options(tls_->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (!tls_->ctx || ::SSL_CTX_use_certificate_chain_file(tls_->ctx, cert.c_str()) != 1 ||
        ::SSL_CTX_use_PrivateKey_file(tls_->ctx, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        !(tls_->ssl = ::SSL_new(tls_->ctx)) || ::SSL_set_fd(tls_->ssl, fd) != 1) {
        Fail("cannot set up TLS with " + cert);
        return false;
    }
    if (::SSL_accept(tls_->ssl) != 1) {
        char reason[256];
        ::ERR_error_string_n(::ERR_get_error(), reason, sizeof reason);
        Fail(std::string("TLS handshake: ") + reason);
        return false;
    }
    return true;
}

long ScriptedServer::ReadSome(int fd, char* buf, size_t len) {
    if (!tls_) return ::recv(fd, buf, len, 0);
    errno = 0;
    const int r = ::SSL_read(tls_->ssl, buf, static_cast<int>(len));
    if (r > 0) return r;
    const int e = ::SSL_get_error(tls_->ssl, r);
    if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && errno == 0)) return 0;
    if (e != SSL_ERROR_SYSCALL) errno = EPROTO;
    return -1;
}

bool ScriptedServer::ConnectData(const std::string& from) {
    std::string port;
    for (const std::string& line : Received())
        if (line.rfind("PORT ", 0) == 0) port = line.substr(5);
    unsigned h[4], p[2];
    if (std::sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]) !=
        6) {
        Fail("no PORT command to connect to");
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(p[0] * 256 + p[1]));
    target.sin_addr.s_addr = htonl(h[0] << 24 | h[1] << 16 | h[2] << 8 | h[3]);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        Fail("data connect: " + std::string(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    SetTimeouts(fd);
    // A connection replaced by the next one is closed first.
    if (int old = dataFd_.exchange(fd); old >= 0) ::close(old);
    return true;
}

bool ScriptedServer::PlayDataStep(const Step& step) {
    const int fd = dataFd_.load();
    switch (step.op) {
    case Op::OpenData:
        return ConnectData(step.data);
    case Op::SendData:
        return fd >= 0 && WriteAll(fd, step.data.data(), step.data.size());
    case Op::StreamData: {
        const std::size_t comma = step.data.find(',');
        const std::string chunk(std::stoul(step.data.substr(0, comma)), 'x');
        const std::chrono::milliseconds pause(std::stoi(step.data.substr(comma + 1)));
        // Ends when the client closes the connection: that is the point, not a failure.
        while (fd >= 0 && !stopping_ && ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0)
            std::this_thread::sleep_for(pause);
        return true;
    }
    case Op::CloseData: {
        int expected = fd;
        if (fd >= 0 && dataFd_.compare_exchange_strong(expected, -1)) ::close(fd);
        return true;
    }
    case Op::ReadData:
        for (char buf[4096];;) {
            const ssize_t n = fd >= 0 ? ::recv(fd, buf, sizeof buf, 0) : 0;
            if (n <= 0) return n == 0;
            std::lock_guard lock(mutex_);
            dataReceived_.append(buf, static_cast<size_t>(n));
        }
    default:
        return false;
    }
}

bool ScriptedServer::NextLine(int fd, std::string* line) {
    for (;;) {
        size_t end = pending_.find("\r\n");
        if (end != std::string::npos) {
            *line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            std::lock_guard lock(mutex_);
            received_.push_back(*line);
            return true;
        }
        char buf[4096];
        long n = ReadSome(fd, buf, sizeof buf);
        if (n == 0) {
            clientClosed_ = true;
            return false;
        }
        if (n < 0 && errno == ECONNRESET) { // the client aborted its connection
            clientClosed_ = true;
            return false;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            if (!stopping_) Fail("recv: " + std::string(std::strerror(errno)));
            return false;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

bool ScriptedServer::WriteAll(int fd, const char* data, size_t len) {
    if (tls_ && fd == connFd_) { // a data connection stays plain
        if (len > 0 && ::SSL_write(tls_->ssl, data, static_cast<int>(len)) <= 0) {
            if (!stopping_) Fail("TLS write failed");
            return false;
        }
        return true;
    }
    while (len > 0) {
        ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (!stopping_) Fail("send: " + std::string(std::strerror(errno)));
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void Pop3Greeting(ScriptedServer& server, const std::string& banner) {
    server.SendLine(banner);
}

void Pop3Login(ScriptedServer& server, const std::string& user, const std::string& password) {
    server.Expect("USER " + user).SendLine("+OK");
    server.Expect("PASS " + password).SendLine("+OK logged in");
}

void Pop3Stat(ScriptedServer& server, int count, const std::vector<std::string>& capabilities) {
    server.Expect("STAT").SendLine("+OK " + std::to_string(count) + " 1000");
    if (count < 2) return;
    if (capabilities.empty()) {
        server.Expect("CAPA").SendLine("-ERR unknown command");
        return;
    }
    server.Expect("CAPA").SendLine("+OK");
    for (const std::string& line : capabilities)
        server.SendLine(line);
    server.SendLine(".");
}

void Pop3Quit(ScriptedServer& server) {
    server.Expect("QUIT").SendAndClose("+OK bye\r\n");
}

} // namespace testsupport
