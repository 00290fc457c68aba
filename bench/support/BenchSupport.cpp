#include "support/BenchSupport.h"

#include "servers/DovecotServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace benchsupport {

std::string HeaderBlock(int n) {
    std::string h;
    for (int hop = 0; hop < 6; ++hop)
        h += "Received: from relay" + std::to_string(hop) + ".example.net (relay" +
             std::to_string(hop) + ".example.net [192.0.2." + std::to_string(hop + 1) +
             "])\n\tby mx.example.com with ESMTP id " + std::to_string(100000 + n * 7 + hop) +
             "\n\tfor <me@example.com>; Mon, 7 Dec 2026 10:00:00 +0000\n";
    h += "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) + "@example.org>\n";
    h += "To: Me <Me@Example.com>\nSubject: Message number " + std::to_string(n) + "\n";
    h += "Date: Mon, 7 Dec 2026 10:00:00 +0000\nMessage-ID: <" + std::to_string(n) +
         "@example.org>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n";
    return h;
}

std::string Message(int n) {
    std::string m = HeaderBlock(n) + "\n";
    while (m.size() < 2048)
        m += "Body text of a benchmark message, long enough to look like real mail.\n";
    return m;
}

bool StartDovecot(testservers::DovecotServer& server, int* status) {
    if (!testservers::DovecotServer::Available()) {
        std::printf("dovecot is not installed: benchmark skipped\n");
        *status = 0;
        return false;
    }
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        *status = 1;
        return false;
    }
    return true;
}

int RunMailboxBench(int argc, char** argv, const std::function<int(const MailboxBench&)>& rounds) {
    QCoreApplication app(argc, argv);
    auto intArg = [&](int index, int fallback) {
        return argc > index ? std::atoi(argv[index]) : fallback;
    };
    const int messages = intArg(1, 1000);
    const int roundCount = std::max(1, intArg(2, 5));
    testservers::DovecotServer server;
    if (int status; !StartDovecot(server, &status)) return status;
    FillMailbox(server, messages);
    return rounds({server, messages, roundCount});
}

void FillMailbox(testservers::DovecotServer& server, int messages, bool tls) {
    server.AddUser(kUser, kPassword);
    for (int n = 1; n <= messages; ++n)
        server.AddMessage(kUser, Message(n));
    PoplibScan(server, tls);
}

namespace {
QJsonObject RunPoplibScan(const std::string& host, int port, const std::string& caFile) {
    QProcess py;
    QStringList args{MORVANDLE_POPLIB_SCAN,
                     "--host",
                     QString::fromStdString(host),
                     "--port",
                     QString::number(port),
                     "--user",
                     kUser,
                     "--password",
                     kPassword};
    if (!caFile.empty()) args << "--tls" << QString::fromStdString(caFile);
    py.start("python3", args);
    if (!py.waitForFinished(300000) || py.exitCode() != 0) {
        std::fprintf(stderr, "poplib scan failed: %s\n", py.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(py.readAllStandardOutput()).object();
}
} // namespace

QJsonObject PoplibScan(const testservers::DovecotServer& server, bool tls) {
    return RunPoplibScan(server.Host(), tls ? server.TlsPort() : server.Port(),
                         tls ? server.CaFile() : "");
}

QJsonObject PoplibScan(const std::string& host, int port) {
    return RunPoplibScan(host, port, "");
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string RunCheckProcess(const std::string& program, const std::string& configHome,
                            double* seconds, const QStringList& args) {
    QProcess check;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
    check.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    check.start(QString::fromStdString(program), args);
    check.waitForFinished(600000);
    *seconds = timer.nsecsElapsed() / 1e9;
    if (check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0) return "";
    return QString::fromUtf8(check.readAllStandardOutput())
        .trimmed()
        .split('\n')
        .back()
        .toStdString();
}

std::vector<std::string> SpammerEntries() {
    std::vector<std::string> list;
    for (int i = 0; i < 10000; ++i)
        list.push_back((i % 3 == 0 ? "Promo" : "offers") + std::to_string(i) + "@Bulk" +
                       std::to_string(i % 211) + ".example");
    return list;
}

std::vector<std::string> AddressEntries() {
    std::vector<std::string> list;
    for (int i = 0; i < 99; ++i)
        list.push_back("friend" + std::to_string(i) + "@nowhere.example");
    list.push_back("me@example.com");
    return list;
}

void WriteListFile(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const auto& l : lines)
        out << l << "\r\n";
}

namespace {
// Reads from the socket until `replies` replies have ended: single-line ones at their CR LF,
// multi-line ones (those of the TOPs) at their lone ".". False on -ERR or a closed socket.
class RawReplies {
  public:
    explicit RawReplies(int fd) : fd_(fd) {}
    bool Read(int replies, bool multiLine) {
        while (replies > 0) {
            const std::size_t end = data_.find("\r\n", at_);
            if (end == std::string::npos) {
                data_.erase(0, at_);
                at_ = 0;
                char chunk[65536];
                const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
                if (n <= 0) return false;
                data_.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            const std::string_view line(data_.data() + at_, end - at_);
            at_ = end + 2;
            if (!inReply_) {
                if (line.substr(0, 3) != "+OK") return false;
                inReply_ = multiLine;
                if (!multiLine) --replies;
            } else if (line == ".") {
                inReply_ = false;
                --replies;
            }
        }
        return true;
    }

  private:
    int fd_;
    std::string data_;
    std::size_t at_ = 0;
    bool inReply_ = false;
};

bool SendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace

double RawTopFloor(const std::string& host, int port, int messages) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    QElapsedTimer timer;
    timer.start();
    RawReplies replies(fd);
    std::string tops;
    for (int n = 1; n <= messages; ++n)
        tops += "TOP " + std::to_string(n) + " 0\r\n";
    // The TOPs are about 12 bytes each: all of them fit the socket's send buffer, so the
    // write does not wait for the replies that this thread reads only afterwards.
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                    replies.Read(1, false) && SendAll(fd, std::string("USER ") + kUser + "\r\n") &&
                    replies.Read(1, false) &&
                    SendAll(fd, std::string("PASS ") + kPassword + "\r\n") &&
                    replies.Read(1, false) && SendAll(fd, tops) && replies.Read(messages, true) &&
                    SendAll(fd, "QUIT\r\n") && replies.Read(1, false);
    const double seconds = timer.nsecsElapsed() / 1e9;
    ::close(fd);
    return ok ? seconds : -1;
}

} // namespace benchsupport
