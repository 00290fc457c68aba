#include "OAuth2TestServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <deque>
#include <mutex>

namespace testsupport {
namespace {

// Plain HTTP, or HTTPS once it has a certificate.
class HttpListener : public QTcpServer {
  public:
    using QTcpServer::QTcpServer;
    QSslCertificate certificate;
    QSslKey key;

  protected:
    void incomingConnection(qintptr descriptor) override {
        if (certificate.isNull()) return QTcpServer::incomingConnection(descriptor);
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        addPendingConnection(socket);
        socket->startServerEncryption();
    }
};

} // namespace

// The server's state and its HTTP handling, in the server's thread. Knobs and views come
// from the test thread, hence the mutex.
class OAuth2Endpoints : public QObject {
  public:
    void Listen(quint16 port) {
        if (!server_) {
            server_ = new HttpListener(this);
            connect(server_, &QTcpServer::newConnection, this, &OAuth2Endpoints::Accept);
        }
        if (!server_->isListening()) server_->listen(QHostAddress::LocalHost, port);
    }
    quint16 ListenPort() const { return server_->serverPort(); }
    void Stop() { server_->close(); }
    void UseTls(const QSslCertificate& certificate, const QSslKey& key) {
        server_->certificate = certificate;
        server_->key = key;
    }

    mutable std::mutex mutex;
    std::string user = "bob";
    int lifetime = 3600;
    int interval = 1;
    std::deque<std::string> deviceAnswers;
    std::string redirectState;
    bool refuseRefresh = false;
    int delayMs = 0;
    std::vector<OAuth2TestServer::Request> requests;
    std::map<std::string, int> granted;
    int pkceVerified = 0;
    std::map<std::string, qint64> accessTokens; // token -> expiry (ms since epoch)
    std::map<std::string, bool> refreshTokens;  // token -> still valid
    struct Code {
        std::string challenge;
        std::string redirectUri;
    };
    std::map<std::string, Code> codes;
    std::map<std::string, bool> deviceCodes; // device code -> ended (denied or expired)

    std::string NewToken(const char* kind) {
        return std::string(kind) + "-" + std::to_string(QRandomGenerator::global()->generate64());
    }
    QJsonObject IssueTokensLocked() {
        std::string access = NewToken("at");
        std::string refresh = NewToken("rt");
        accessTokens[access] = QDateTime::currentMSecsSinceEpoch() + qint64(lifetime) * 1000;
        refreshTokens[refresh] = true;
        return QJsonObject{{"access_token", QString::fromStdString(access)},
                           {"token_type", "Bearer"},
                           {"expires_in", lifetime},
                           {"refresh_token", QString::fromStdString(refresh)}};
    }
    std::string ActiveUserLocked(const std::string& token) const {
        auto it = accessTokens.find(token);
        if (it == accessTokens.end() || it->second <= QDateTime::currentMSecsSinceEpoch())
            return {};
        return user;
    }

  private:
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray location;
    };

    void Accept() {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [this, socket] { buffers_.erase(socket); });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
        }
    }

    // One request per connection: the answer says "Connection: close".
    void Read(QTcpSocket* socket) {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        int end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        QList<QByteArray> lines = buffer.left(end).split('\n');
        qsizetype length = 0;
        QByteArray bearer;
        for (QByteArray& line : lines) {
            line = line.trimmed();
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toInt();
            if (line.toLower().startsWith("authorization: bearer "))
                bearer = line.mid(22).trimmed();
        }
        if (buffer.size() < end + 4 + length) return;
        QList<QByteArray> first = lines.value(0).split(' ');
        QUrl target(QString::fromLatin1(first.value(1)));
        OAuth2TestServer::Request request{
            first.value(0).toStdString(), target.path().toStdString(), {}};
        QByteArray formText = request.method == "GET" ? target.query(QUrl::FullyEncoded).toLatin1()
                                                      : buffer.mid(end + 4, length);
        QUrlQuery form(QString::fromLatin1(formText.replace('+', ' ')));
        for (const auto& [key, value] : form.queryItems(QUrl::FullyDecoded))
            request.form[key.toStdString()] = value.toStdString();
        if (!bearer.isEmpty()) request.form.emplace("token", bearer.toStdString());
        buffers_.erase(socket);

        int delay;
        {
            std::lock_guard lock(mutex);
            delay = delayMs;
        }
        // A slow server has done nothing yet when the client gives up and goes.
        QTimer::singleShot(delay, socket, [this, socket, request] {
            Reply reply;
            {
                std::lock_guard lock(mutex);
                requests.push_back(request);
                reply = Handle(request);
            }
            Send(socket, reply);
        });
    }

    static void Send(QTcpSocket* socket, const Reply& reply) {
        QByteArray text = "HTTP/1.1 " + QByteArray::number(reply.status) +
                          (reply.status == 302   ? " Found"
                           : reply.status == 200 ? " OK"
                                                 : " Error") +
                          "\r\nConnection: close\r\n";
        if (!reply.location.isEmpty()) text += "Location: " + reply.location + "\r\n";
        text += "Content-Type: application/json\r\nContent-Length: " +
                QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body;
        socket->write(text);
        socket->disconnectFromHost();
    }

    static Reply Json(int status, const QJsonObject& object) {
        return {status, QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
    }
    static Reply Error(const char* code) { return Json(400, QJsonObject{{"error", code}}); }

    Reply Handle(const OAuth2TestServer::Request& r) {
        auto field = [&r](const char* name) {
            auto it = r.form.find(name);
            return it == r.form.end() ? std::string() : it->second;
        };
        if (r.path == "/introspect") {
            std::string who = ActiveUserLocked(field("token"));
            if (who.empty()) return Json(200, QJsonObject{{"active", false}});
            return Json(200,
                        QJsonObject{{"active", true}, {"username", QString::fromStdString(who)}});
        }
        if (r.path == "/authorize") {
            std::string code = NewToken("code");
            codes[code] = {field("code_challenge"), field("redirect_uri")};
            QUrl back(QString::fromStdString(field("redirect_uri")));
            QUrlQuery query;
            query.addQueryItem("code", QString::fromStdString(code));
            std::string state = redirectState.empty() ? field("state") : redirectState;
            query.addQueryItem("state", QString::fromStdString(state));
            back.setQuery(query);
            return {302, {}, back.toEncoded()};
        }
        if (r.path == "/devicecode") {
            std::string device = NewToken("dc");
            deviceCodes[device] = false;
            return Json(200, QJsonObject{{"device_code", QString::fromStdString(device)},
                                         {"user_code", "WDJB-MJHT"},
                                         {"verification_uri",
                                          QString::fromStdString(BaseUrlOf() + "/device")},
                                         {"expires_in", 900},
                                         {"interval", interval}});
        }
        if (r.path != "/token") return Json(404, QJsonObject{{"error", "not_found"}});
        if (field("client_id").empty()) return Json(401, QJsonObject{{"error", "invalid_client"}});
        std::string grant = field("grant_type");
        if (grant == "refresh_token") {
            auto it = refreshTokens.find(field("refresh_token"));
            if (refuseRefresh || it == refreshTokens.end() || !it->second)
                return Error("invalid_grant");
            it->second = false; // rotation: the old one is spent
            ++granted["refresh_token"];
            return Json(200, IssueTokensLocked());
        }
        if (grant == "authorization_code") {
            auto it = codes.find(field("code"));
            if (it == codes.end() || it->second.redirectUri != field("redirect_uri"))
                return Error("invalid_grant");
            QByteArray digest = QCryptographicHash::hash(
                QByteArray::fromStdString(field("code_verifier")), QCryptographicHash::Sha256);
            QByteArray expected =
                digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            bool verified = expected.toStdString() == it->second.challenge;
            codes.erase(it);
            if (!verified) return Error("invalid_grant");
            ++pkceVerified;
            ++granted["authorization_code"];
            return Json(200, IssueTokensLocked());
        }
        if (grant == "urn:ietf:params:oauth:grant-type:device_code") {
            auto it = deviceCodes.find(field("device_code"));
            if (it == deviceCodes.end() || it->second) return Error("expired_token");
            if (!deviceAnswers.empty()) {
                std::string answer = deviceAnswers.front();
                deviceAnswers.pop_front();
                if (answer == "expired_token" || answer == "access_denied") it->second = true;
                // "code description": the description as some providers write it.
                const std::size_t blank = answer.find(' ');
                if (blank == std::string::npos) return Error(answer.c_str());
                return Json(400,
                            QJsonObject{{"error", QString::fromStdString(answer.substr(0, blank))},
                                        {"error_description",
                                         QString::fromStdString(answer.substr(blank + 1))}});
            }
            deviceCodes.erase(it);
            ++granted["device_code"];
            return Json(200, IssueTokensLocked());
        }
        return Error("unsupported_grant_type");
    }

    std::string BaseUrlOf() const {
        return (server_->certificate.isNull() ? "http" : "https") + std::string("://127.0.0.1:") +
               std::to_string(server_->serverPort());
    }

    HttpListener* server_ = nullptr;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

OAuth2TestServer::OAuth2TestServer() : thread_(std::make_unique<QThread>()) {
    endpoints_ = new OAuth2Endpoints;
    endpoints_->moveToThread(thread_.get());
    QObject::connect(thread_.get(), &QThread::finished, endpoints_, &QObject::deleteLater);
    thread_->start();
    QMetaObject::invokeMethod(
        endpoints_, [this] { endpoints_->Listen(0); }, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(
        endpoints_, [this] { port_ = endpoints_->ListenPort(); }, Qt::BlockingQueuedConnection);
}

OAuth2TestServer::~OAuth2TestServer() {
    thread_->quit();
    thread_->wait();
}

std::string OAuth2TestServer::BaseUrl() const {
    return (tls_ ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port_);
}

bool OAuth2TestServer::UseTls(const std::string& certFile, const std::string& keyFile) {
    const QList<QSslCertificate> chain =
        QSslCertificate::fromPath(QString::fromStdString(certFile));
    QFile keyText(QString::fromStdString(keyFile));
    if (chain.isEmpty() || !keyText.open(QIODevice::ReadOnly)) return false;
    const QByteArray pem = keyText.readAll();
    QSslKey key(pem, QSsl::Ec);
    if (key.isNull()) key = QSslKey(pem, QSsl::Rsa);
    if (key.isNull()) return false;
    QMetaObject::invokeMethod(
        endpoints_, [this, &chain, &key] { endpoints_->UseTls(chain.first(), key); },
        Qt::BlockingQueuedConnection);
    tls_ = true;
    return true;
}

#define LOCKED std::lock_guard lock(endpoints_->mutex)

void OAuth2TestServer::SetUser(const std::string& user) {
    LOCKED;
    endpoints_->user = user;
}
void OAuth2TestServer::SetTokenLifetime(int seconds) {
    LOCKED;
    endpoints_->lifetime = seconds;
}
void OAuth2TestServer::ScriptDeviceAnswers(const std::vector<std::string>& errors) {
    LOCKED;
    endpoints_->deviceAnswers.assign(errors.begin(), errors.end());
}
void OAuth2TestServer::SetDeviceInterval(int seconds) {
    LOCKED;
    endpoints_->interval = seconds;
}
void OAuth2TestServer::SetRedirectState(const std::string& state) {
    LOCKED;
    endpoints_->redirectState = state;
}
void OAuth2TestServer::RefuseRefresh(bool refuse) {
    LOCKED;
    endpoints_->refuseRefresh = refuse;
}
void OAuth2TestServer::SetDelayMs(int ms) {
    LOCKED;
    endpoints_->delayMs = ms;
}

void OAuth2TestServer::SetDown(bool down) {
    quint16 port = quint16(port_);
    QMetaObject::invokeMethod(
        endpoints_, [this, down, port] { down ? endpoints_->Stop() : endpoints_->Listen(port); },
        Qt::BlockingQueuedConnection);
}

std::string OAuth2TestServer::IssueRefreshToken() {
    LOCKED;
    return endpoints_->IssueTokensLocked()["refresh_token"].toString().toStdString();
}
std::string OAuth2TestServer::IssueAccessToken() {
    LOCKED;
    return endpoints_->IssueTokensLocked()["access_token"].toString().toStdString();
}
std::string OAuth2TestServer::ActiveUser(const std::string& token) const {
    LOCKED;
    return endpoints_->ActiveUserLocked(token);
}
std::vector<OAuth2TestServer::Request> OAuth2TestServer::Requests() const {
    LOCKED;
    return endpoints_->requests;
}
int OAuth2TestServer::Granted(const std::string& grant) const {
    LOCKED;
    auto it = endpoints_->granted.find(grant);
    return it == endpoints_->granted.end() ? 0 : it->second;
}
int OAuth2TestServer::PkceVerified() const {
    LOCKED;
    return endpoints_->pkceVerified;
}

#undef LOCKED

} // namespace testsupport
