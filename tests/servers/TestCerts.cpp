#include "TestCerts.h"

#include <QProcess>

namespace testservers {

bool MakeTestCerts(const std::string& dir, std::string* error) {
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(MORVANDLE_CERT_SCRIPT, {QString::fromStdString(dir)});
    if (!script.waitForFinished(60000) || script.exitStatus() != QProcess::NormalExit ||
        script.exitCode() != 0) {
        *error = "make-test-certs failed: " + script.readAll().toStdString() +
                 script.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace testservers
