#include "OAuth2Request.h"

#include <QJsonDocument>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <memory>

namespace signin {
namespace {

std::string Failed(const std::string& url, const std::string& why) {
    return "OAuth2 request to " + url + " failed: " + why;
}

std::string NoAnswerWithin(std::chrono::milliseconds limit) {
    const auto seconds =
        std::max<long long>(1, std::chrono::duration_cast<std::chrono::seconds>(limit).count());
    return "no answer within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

TOAuth2Answer AnswerOf(QNetworkReply& reply, const std::string& url) {
    TOAuth2Answer answer;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonDocument doc = QJsonDocument::fromJson(reply.readAll());
    answer.json = doc.object();
    answer.error = answer.json.value("error").toString().simplified().toStdString();
    if (!answer.error.empty()) {
        // On one line: Microsoft's run over several (trace and correlation ids), and the
        // text goes to the log and the console.
        const std::string description =
            answer.json.value("error_description").toString().simplified().toStdString();
        answer.text =
            Failed(url, description.empty() ? answer.error : answer.error + ": " + description);
    } else if (reply.error() != QNetworkReply::NoError) {
        answer.text = Failed(url, reply.errorString().toStdString());
    } else if (status / 100 != 2 || !doc.isObject()) {
        answer.text = Failed(url, "HTTP status " + std::to_string(status) +
                                      (doc.isObject() ? "" : " without a JSON answer"));
    } else {
        answer.ok = true;
    }
    return answer;
}

} // namespace

std::string UrlRefused(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (parsed.isValid() && parsed.scheme() == "https" && !parsed.host().isEmpty()) return {};
    if (parsed.isValid() && parsed.scheme() == "http" && parsed.host() == "127.0.0.1") return {};
    return "The OAuth2 address " + url + " is not an https address";
}

void PostForm(const std::string& url, const TForm& form, const std::string& caFile,
              std::chrono::milliseconds limit, QObject* context, OAuth2Done done) {
    auto* manager = new QNetworkAccessManager(context);
    const QList<QSslCertificate> extra =
        caFile.empty() ? QList<QSslCertificate>{}
                       : QSslCertificate::fromPath(QString::fromStdString(caFile));
    std::string refused = UrlRefused(url);
    if (refused.empty() && !caFile.empty() && extra.isEmpty())
        refused = "Cannot read a certificate from the CA file " + caFile;
    if (!refused.empty()) {
        // Never from inside the call.
        QMetaObject::invokeMethod(
            manager,
            [manager, refused, done] {
                manager->deleteLater();
                done({false, {}, {}, refused});
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setRawHeader("Accept", "application/json");
    // A token endpoint never redirects; following one could carry the form elsewhere.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(extra);
    request.setSslConfiguration(tls);
    // Every byte but the unreserved ones encoded: a "+" in a token must not arrive as a blank.
    QByteArray body;
    for (const auto& [name, value] : form)
        body += (body.isEmpty() ? "" : "&") + QByteArray::fromStdString(name) + "=" +
                QUrl::toPercentEncoding(QString::fromStdString(value));
    QNetworkReply* reply = manager->post(request, body);

    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    timer->start(limit);
    // With `context` as the receiver: deleting it cuts this connection before its children,
    // the manager and the reply, go.
    QObject::connect(reply, &QNetworkReply::finished, context,
                     [manager, reply, url, limit, timedOut, done] {
                         manager->deleteLater();
                         if (*timedOut)
                             return done({false, {}, {}, Failed(url, NoAnswerWithin(limit))});
                         done(AnswerOf(*reply, url));
                     });
}

} // namespace signin
