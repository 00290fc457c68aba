#include "SingleInstance.h"

#include "platform/ErrorReport.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

TSingleInstance::TSingleInstance(const QString& folder, const QString& name)
    : socketPath_(folder + "/" + name + ".socket"), lock_(folder + "/" + name + ".lock") {
    lock_.setStaleLockTime(0); // only a lock whose process is gone is stale
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            peer->disconnectFromServer();
            peer->deleteLater();
            if (OnActivate) platform::Guarded([this] { OnActivate(); });
        }
    });
}

TSingleInstance::~TSingleInstance() {
    server_.close();
}

bool TSingleInstance::Acquire() {
    if (lock_.tryLock(0)) {
        // A socket file left by a crashed copy; the lock says it is ours now.
        QLocalServer::removeServer(socketPath_);
        if (!server_.listen(socketPath_))
            platform::ReportError("Cannot listen on " + socketPath_.toStdString() + ": " +
                                  server_.errorString().toStdString());
        return true;
    }
    // A folder we cannot write to must not keep the program from starting at all.
    if (lock_.error() != QLockFile::LockFailedError) return true;
    QLocalSocket first;
    first.connectToServer(socketPath_);
    if (first.waitForConnected(1000)) first.disconnectFromServer();
    return false;
}

QString DefaultTitle(const QString& programPath) {
    QString name = QFileInfo(programPath).fileName();
    name = name.left(name.indexOf('.') < 0 ? name.size() : name.indexOf('.'));
    return name.left(1) + name.mid(1).toLower();
}

QString RuntimeFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}
