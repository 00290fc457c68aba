#include "VsftpdServer.h"

#include "ServerPorts.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/prctl.h>
#include <vector>

namespace testservers {

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 10000;
constexpr long kSlowRate = 500000;
const std::string kScript = MORVANDLE_VSFTPD_SCRIPT;

// Every process below `root`, found through the parent ids in /proc.
std::vector<pid_t> Descendants(pid_t root) {
    std::vector<std::pair<pid_t, pid_t>> parentOf; // (pid, ppid)
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok) continue;
        std::ifstream stat("/proc/" + entry.toStdString() + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        // Fields after the command name, which is in parentheses and may hold blanks.
        const auto close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) == 2)
            parentOf.emplace_back(pid, ppid);
    }
    std::vector<pid_t> found{root};
    for (std::size_t i = 0; i < found.size(); ++i)
        for (const auto& [pid, ppid] : parentOf)
            if (ppid == found[i]) found.push_back(pid);
    found.erase(found.begin());
    return found;
}

} // namespace

struct VsftpdServer::Folder {
    QTemporaryDir dir{"/tmp/vsftpd-XXXXXX"};
};

VsftpdServer::VsftpdServer(long rateLimit, std::string host)
    : dir_(std::make_unique<Folder>()), rate_(rateLimit), host_(std::move(host)) {}

VsftpdServer::~VsftpdServer() {
    Stop();
}

bool VsftpdServer::Available() {
    return !QStandardPaths::findExecutable("vsftpd").isEmpty() ||
           QFileInfo("/usr/sbin/vsftpd").isExecutable();
}

std::string VsftpdServer::Root() const {
    return dir_->dir.path().toStdString() + "/root";
}

std::string VsftpdServer::LogText() const {
    const std::string dir = dir_->dir.path().toStdString();
    return testsupport::ReadFile(dir + "/startup.log") + testsupport::ReadFile(dir + "/vsftpd.log");
}

bool VsftpdServer::Start(std::string* error) {
    if (!dir_->dir.isValid()) {
        *error = "cannot create a temporary folder for vsftpd";
        return false;
    }
    // Another program may take the port between our probe and vsftpd's bind: try again.
    for (int attempt = 0; attempt < 5; ++attempt)
        if (StartOnce(error)) return true;
    return false;
}

bool VsftpdServer::StartOnce(std::string* error) {
    port_ = PickFreePort(host_);
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QStringList args{dir_->dir.path(), QString::number(port_), QString::number(rate_)};
    if (host_.find(':') != std::string::npos) args.prepend("--ipv6");
    process_->start(QString::fromStdString(kScript), args);
    if (!process_->waitForStarted(kStartTimeoutMs)) {
        *error = "cannot run " + kScript + ": " + process_->errorString().toStdString();
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (PortAccepts(port_, host_)) return true;
        if (process_->waitForFinished(10)) {
            *error = "vsftpd exited with code " + std::to_string(process_->exitCode()) + ":\n" +
                     process_->readAll().toStdString() + LogText();
            process_.reset();
            return false;
        }
    }
    *error =
        "vsftpd did not accept connections on port " + std::to_string(port_) + ":\n" + LogText();
    Stop();
    return false;
}

void VsftpdServer::Stop() {
    if (!process_) return;
    if (process_->state() != QProcess::NotRunning) {
        const auto listener = static_cast<pid_t>(process_->processId());
        // Sessions outlive the listener: they go first, found while their parent still lives.
        const std::vector<pid_t> sessions = Descendants(listener);
        for (pid_t pid : sessions)
            ::kill(pid, SIGKILL);
        ::kill(listener, SIGTERM);
        if (!process_->waitForFinished(kStopTimeoutMs)) {
            process_->kill();
            process_->waitForFinished(kStopTimeoutMs);
        }
    }
    process_.reset();
}

namespace {
std::unique_ptr<VsftpdServer> plainServer, slowServer, ipv6Server;
std::string startError;
bool plainTried = false, slowTried = false, ipv6Tried = false;

VsftpdServer* StartShared(std::unique_ptr<VsftpdServer>& server, bool& tried, long rate,
                          const std::string& host = "127.0.0.1") {
    if (!tried) {
        tried = true;
        auto s = std::make_unique<VsftpdServer>(rate, host);
        if (s->Start(&startError)) server = std::move(s);
    }
    return server.get();
}
} // namespace

VsftpdServer* VsftpdEnvironment::Server() {
    return StartShared(plainServer, plainTried, 0);
}

VsftpdServer* VsftpdEnvironment::SlowServer() {
    return StartShared(slowServer, slowTried, kSlowRate);
}

VsftpdServer* VsftpdEnvironment::Ipv6Server() {
    return StartShared(ipv6Server, ipv6Tried, 0, "::1");
}

const std::string& VsftpdEnvironment::StartError() {
    return startError;
}

void VsftpdEnvironment::TearDown() {
    plainServer.reset();
    slowServer.reset();
    ipv6Server.reset();
}

} // namespace testservers
