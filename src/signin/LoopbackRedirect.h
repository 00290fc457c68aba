#pragma once

#include <QObject>
#include <QUrlQuery>
#include <functional>
#include <string>

class QTcpServer;
class QTcpSocket;

namespace signin {

// The end of the browser sign-in: a listener on 127.0.0.1, port chosen by the system, that
// takes the browser's one request to "/" after the provider's redirect, answers it with a
// short page and hands over its query (code and state, or error). QtNetwork has no HTTP
// server, so this reads the request line alone; nothing else of the request matters here.
class TLoopbackRedirect : public QObject {
  public:
    explicit TLoopbackRedirect(QObject* parent);

    // False, with the reason in ErrorText(), when no port could be had.
    bool Listen();
    std::string ErrorText() const;
    std::string RedirectUri() const; // "http://127.0.0.1:<port>/"

    // Fired once, for the first request to "/"; the listener closes then.
    std::function<void(const QUrlQuery& query)> OnRedirect;

  private:
    void Accept();
    void Read(QTcpSocket* socket);

    QTcpServer* server_;
};

} // namespace signin
