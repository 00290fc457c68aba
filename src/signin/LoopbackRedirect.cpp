#include "LoopbackRedirect.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <utility>

namespace signin {
namespace {

// A browser's request line is short; anything longer is not the redirect.
constexpr qsizetype kLineLimit = 16384;

void Answer(QTcpSocket* socket, const char* status, const QByteArray& text) {
    socket->write(QByteArray("HTTP/1.1 ") + status +
                  "\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n"
                  "Content-Length: " +
                  QByteArray::number(text.size()) + "\r\n\r\n" + text);
    socket->disconnectFromHost();
}

} // namespace

TLoopbackRedirect::TLoopbackRedirect(QObject* parent)
    : QObject(parent), server_(new QTcpServer(this)) {
    connect(server_, &QTcpServer::newConnection, this, &TLoopbackRedirect::Accept);
}

bool TLoopbackRedirect::Listen() {
    return server_->listen(QHostAddress::LocalHost, 0);
}

std::string TLoopbackRedirect::ErrorText() const {
    return "Cannot listen on 127.0.0.1 for the sign-in: " + server_->errorString().toStdString();
}

std::string TLoopbackRedirect::RedirectUri() const {
    return "http://127.0.0.1:" + std::to_string(server_->serverPort()) + "/";
}

void TLoopbackRedirect::Accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
    }
}

void TLoopbackRedirect::Read(QTcpSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kLineLimit) socket->abort();
        return;
    }
    // "GET /?code=...&state=... HTTP/1.1"
    const QList<QByteArray> words = socket->readLine(kLineLimit).trimmed().split(' ');
    const QUrl target(QString::fromLatin1(words.value(1)));
    if (words.value(0) != "GET" || target.path() != "/") {
        Answer(socket, "404 Not Found", "Not found\n"); // a browser's favicon request
        return;
    }
    Answer(socket, "200 OK", "Morvandle has the sign-in answer; you may close this page.\n");
    server_->close();
    // A connection the browser opened before the close may bring the redirect again (a
    // reload): its code was taken already.
    if (auto redirect = std::exchange(OnRedirect, nullptr)) redirect(QUrlQuery(target));
}

} // namespace signin
