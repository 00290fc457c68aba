#include "Keyring.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>
#include <sys/stat.h>

namespace secrets {
namespace {

TKeyringAnswer AnswerOf(const QKeychain::Job& job) {
    TKeyringAnswer answer;
    answer.reason = job.errorString().toStdString();
    switch (job.error()) {
    case QKeychain::NoError:
        answer.kind = TKeyringAnswer::Done;
        answer.reason.clear();
        if (auto* read = qobject_cast<const QKeychain::ReadPasswordJob*>(&job))
            answer.secret = read->textData().toStdString();
        break;
    case QKeychain::EntryNotFound:
        answer.kind = TKeyringAnswer::NotFound;
        break;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        answer.kind = TKeyringAnswer::Refused;
        break;
    default:
        // No bus, no service, no backend: the same to us as a desktop without a keyring.
        answer.kind = TKeyringAnswer::Unavailable;
        break;
    }
    return answer;
}

// Runs the job and reports its answer, or Refused when the limit passes first. The job
// deletes itself when it ends, even after the limit, so nothing waits on it. Without a bus
// no job is made: the answer is Unavailable.
void Run(const std::function<QKeychain::Job*()>& makeJob, const std::string& key, QObject* context,
         KeyringDone done, std::chrono::milliseconds limit) {
    if (!SessionBusReachable()) {
        QTimer::singleShot(0, context, [done = std::move(done)] {
            done({TKeyringAnswer::Unavailable, {}, "no session bus"});
        });
        return;
    }
    QKeychain::Job* job = makeJob();
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(QString::fromStdString(key));
    auto reported = std::make_shared<bool>(false);
    auto report = [reported, done = std::move(done)](const TKeyringAnswer& answer) {
        if (*reported) return;
        *reported = true;
        done(answer);
    };
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [report](QKeychain::Job* ended) { report(AnswerOf(*ended)); });
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
    QTimer::singleShot(limit, context, [report, seconds] {
        report({TKeyringAnswer::Refused,
                {},
                "no answer within " + std::to_string(seconds < 1 ? 1 : seconds) + " seconds"});
    });
    job->start();
}

} // namespace

bool SessionBusReachable() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        return true;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat bus;
    return !runtime.isEmpty() && ::stat((runtime + "/bus").constData(), &bus) == 0;
}

void KeyringRead(const std::string& key, QObject* context, KeyringDone done,
                 std::chrono::milliseconds limit) {
    Run([] { return new QKeychain::ReadPasswordJob(kKeyringService); }, key, context,
        std::move(done), limit);
}

void KeyringWrite(const std::string& key, const std::string& secret, QObject* context,
                  KeyringDone done, std::chrono::milliseconds limit) {
    Run(
        [&secret] {
            auto* job = new QKeychain::WritePasswordJob(kKeyringService);
            // As text, so that other keyring tools show it as the user typed it.
            job->setTextData(QString::fromStdString(secret));
            return job;
        },
        key, context, std::move(done), limit);
}

void KeyringRemove(const std::string& key, QObject* context, KeyringDone done,
                   std::chrono::milliseconds limit) {
    Run([] { return new QKeychain::DeletePasswordJob(kKeyringService); }, key, context,
        std::move(done), limit);
}

} // namespace secrets
