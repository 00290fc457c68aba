#include "DovecotServer.h"

#include "ServerPorts.h"

#include "support/OAuth2TestServer.h"
#include "support/TempDir.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace testservers {

namespace fs = std::filesystem;

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 10000;
constexpr int kPortBusyExit = 89;
// Runs the server; also usable on its own: dovecot-test-server DIR PORT.
const std::string kScript = MORVANDLE_DOVECOT_SCRIPT;

// As root the mail must belong to the dovecot user; otherwise to us, which it already does.
void GiveToMailUser(const fs::path& path) {
    if (::geteuid() != 0) return;
    if (const passwd* pw = ::getpwnam("dovecot"))
        if (::chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
            throw std::runtime_error("chown " + path.string() + ": " + std::strerror(errno));
}

} // namespace

// Dovecot's socket paths must stay short, so the folder lives directly under /tmp.
struct DovecotServer::Folder {
    QTemporaryDir dir{"/tmp/dovecot-XXXXXX"};
};

DovecotServer::DovecotServer() : dir_(std::make_unique<Folder>()) {}

DovecotServer::~DovecotServer() {
    Stop();
}

bool DovecotServer::Available() {
    return !QStandardPaths::findExecutable("dovecot").isEmpty() ||
           QFileInfo("/usr/sbin/dovecot").isExecutable();
}

std::string DovecotServer::Dir() const {
    return dir_->dir.path().toStdString();
}

std::string DovecotServer::MailDir(const std::string& user) const {
    return Dir() + "/mail/" + user;
}

bool DovecotServer::Start(std::string* error) {
    if (!dir_->dir.isValid()) {
        *error = "cannot create a temporary folder for Dovecot";
        return false;
    }
    // Another program may take the port between our probe and Dovecot's bind: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        bool portBusy = false;
        if (StartOnce(error, &portBusy)) return true;
        if (!portBusy) return false;
    }
    return false;
}

bool DovecotServer::StartOnce(std::string* error, bool* portBusy) {
    port_ = PickFreePort(Host());
    QStringList args{QString::fromStdString(Dir()), QString::number(port_)};
    if (ipv6_) args.prepend("--ipv6");
    if (!introspectionUrl_.empty())
        args = QStringList{"--oauth2", QString::fromStdString(introspectionUrl_)} + args;
    if (tls_) {
        do
            tlsPort_ = PickFreePort(Host());
        while (tlsPort_ == port_);
        args << QString::number(tlsPort_);
    }
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    // Dovecot goes when we go, even if this process is killed or crashes.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_->start(QString::fromStdString(kScript), args);
    if (!process_->waitForStarted(kStartTimeoutMs)) {
        *error = "cannot run " + kScript + ": " + process_->errorString().toStdString();
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (PortAccepts(port_, Host()) && (!tls_ || PortAccepts(tlsPort_, Host()))) return true;
        // Doubles as the probe interval and notices an early exit.
        if (process_->waitForFinished(10)) {
            *portBusy = process_->exitCode() == kPortBusyExit;
            *error = "Dovecot exited with code " + std::to_string(process_->exitCode()) + ":\n" +
                     process_->readAll().toStdString() + LogText();
            process_.reset();
            return false;
        }
    }
    *error = "Dovecot did not accept connections on port " + std::to_string(port_) + " within " +
             std::to_string(kStartTimeoutMs) + " ms:\n" + LogText();
    Stop();
    return false;
}

void DovecotServer::Stop() {
    if (!process_) return;
    if (process_->state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(process_->processId()), SIGTERM);
        if (!process_->waitForFinished(kStopTimeoutMs)) {
            process_->kill();
            process_->waitForFinished(kStopTimeoutMs);
        }
    }
    process_.reset();
}

void DovecotServer::AddUser(const std::string& name, const std::string& password) {
    fs::path home = MailDir(name);
    fs::create_directories(home);
    GiveToMailUser(home);
    for (const char* sub : {"new", "cur", "tmp"}) {
        fs::create_directories(home / sub);
        GiveToMailUser(home / sub);
    }
    // One passwd file per user: a new file is read at once, while a changed one may be
    // looked at only a second later.
    testsupport::WriteFile(Dir() + "/users/" + name, name + ":{PLAIN}" + password + "\n");
}

void DovecotServer::AddMessage(const std::string& user, const std::string& text) {
    // Maildir names that sort in the order the messages were added; Dovecot numbers new
    // messages in name order.
    ++messageSeq_;
    std::string name = std::to_string(1000000000 + messageSeq_) + ".M" +
                       std::to_string(messageSeq_) + "P" + std::to_string(::getpid()) +
                       ".morvandle";
    fs::path tmp = fs::path(MailDir(user)) / "tmp" / name;
    testsupport::WriteFile(tmp.string(), text);
    GiveToMailUser(tmp);
    // Written in tmp/ and moved: the server never sees half a message.
    fs::rename(tmp, fs::path(MailDir(user)) / "new" / name);
}

std::vector<std::string> DovecotServer::Messages(const std::string& user) const {
    std::vector<fs::path> files;
    for (const char* sub : {"new", "cur"})
        for (const auto& entry : fs::directory_iterator(fs::path(MailDir(user)) / sub))
            if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    std::vector<std::string> texts;
    for (const auto& f : files)
        texts.push_back(testsupport::ReadFile(f));
    return texts;
}

std::string DovecotServer::LogText() const {
    return testsupport::ReadFile(Dir() + "/dovecot.log");
}

namespace {
struct Shared {
    std::unique_ptr<testsupport::OAuth2TestServer> authority; // OAuth2 mode only
    std::unique_ptr<DovecotServer> server;
    std::string error;
    bool tried = false;

    DovecotServer* Get(bool tls, bool ipv6 = false, bool oauth2 = false) {
        if (!tried) {
            tried = true;
            auto s = std::make_unique<DovecotServer>();
            if (tls) s->EnableTls();
            if (ipv6) s->UseIpv6();
            if (oauth2) {
                authority = std::make_unique<testsupport::OAuth2TestServer>();
                s->EnableOAuth2(authority->IntrospectUrl());
            }
            if (s->Start(&error)) server = std::move(s);
        }
        return server.get();
    }
    void Reset() {
        server.reset();
        authority.reset();
    }
};
Shared plainServer, tlsServer, ipv6Server, oauth2Server;
} // namespace

DovecotServer* DovecotEnvironment::Server() {
    return plainServer.Get(false);
}

const std::string& DovecotEnvironment::StartError() {
    return plainServer.error;
}

DovecotServer* DovecotEnvironment::TlsServer() {
    return tlsServer.Get(true);
}

const std::string& DovecotEnvironment::TlsStartError() {
    return tlsServer.error;
}

DovecotServer* DovecotEnvironment::Ipv6Server() {
    return ipv6Server.Get(false, true);
}

const std::string& DovecotEnvironment::Ipv6StartError() {
    return ipv6Server.error;
}

DovecotServer* DovecotEnvironment::OAuth2Server() {
    return oauth2Server.Get(false, false, true);
}

testsupport::OAuth2TestServer* DovecotEnvironment::OAuth2Authority() {
    return oauth2Server.authority.get();
}

const std::string& DovecotEnvironment::OAuth2StartError() {
    return oauth2Server.error;
}

void DovecotEnvironment::TearDown() {
    for (Shared* s : {&plainServer, &tlsServer, &ipv6Server, &oauth2Server})
        s->Reset();
}

} // namespace testservers
