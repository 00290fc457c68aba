#include "PasswordCommand.h"

#include <QProcess>
#include <QTimer>
#include <memory>

namespace secrets {
namespace {

std::string FirstLine(const QByteArray& bytes) {
    const qsizetype end = bytes.indexOf('\n');
    std::string line = (end < 0 ? bytes : bytes.first(end)).toStdString();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string WithStderr(std::string text, QProcess& process) {
    const std::string err = FirstLine(process.readAllStandardError());
    return err.empty() ? text : text + ": " + err;
}

} // namespace

void RunSecretCommand(const std::string& command, const std::string& what, QObject* context,
                      SecretDone done, std::chrono::milliseconds limit) {
    auto* process = new QProcess(context);
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    // The first of the ends below reports; the process goes with it (its destructor reaps a
    // killed shell).
    auto pending = std::make_shared<SecretDone>(std::move(done));
    auto finish = [process, pending](const TSecret& result) {
        if (!*pending) return;
        const SecretDone report = std::move(*pending);
        *pending = nullptr;
        process->disconnect();
        process->kill();
        process->deleteLater();
        report(result);
    };
    const std::string name = "The " + what + " ";
    QObject::connect(timer, &QTimer::timeout, process, [finish, name, limit]() {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
        finish({false,
                {},
                name + "gave no answer within " + std::to_string(seconds) +
                    (seconds == 1 ? " second" : " seconds")});
    });
    QObject::connect(
        process, &QProcess::errorOccurred, process,
        [finish, name, process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                finish({false,
                        {},
                        name + "could not be started: " + process->errorString().toStdString()});
        });
    QObject::connect(
        process, &QProcess::finished, process,
        [finish, name, process](int code, QProcess::ExitStatus status) {
            const std::string exit = status == QProcess::NormalExit
                                         ? "exit status " + std::to_string(code)
                                         : std::string("a crash");
            const QByteArray out = process->readAllStandardOutput();
            if (status != QProcess::NormalExit || code != 0)
                return finish({false, {}, WithStderr(name + "failed with " + exit, *process)});
            const std::string secret = FirstLine(out);
            if (secret.empty())
                return finish(
                    {false, {}, WithStderr(name + "printed nothing (" + exit + ")", *process)});
            finish({true, secret, {}});
        });
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QString::fromStdString(command)});
    timer->start(limit);
}

} // namespace secrets
