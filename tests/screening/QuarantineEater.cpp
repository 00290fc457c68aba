// One Check and Eat run with the quarantine on, as a process of its own, so that a test can
// run two at once in one program folder:
//   quarantine_eater PROGRAM_DIR PORT
// Every message of the server at 127.0.0.1:PORT is spam (no address is known).

#include "ScanTestSupport.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) return 2;
    platform::SetProgramDirOverride(argv[1]);
    TConfigData config;
    config.HeaderCache = false; // the scripted servers expect one TOP per message
    config.Unknown = true;
    config.GoodAddrList = {"nobody@elsewhere.example"};
    config.ListsChanged();
    config.Server = std::string("127.0.0.1:") + argv[2];
    config.Login = "bob";
    config.Password = "pw";
    TkelLog log;
    log.SetArchiveMode(bkNone);
    log.SetLogFileName(std::string(argv[1]) + "/spammers.log");
    TPop3Cli client;
    screening::ApplyPop3Settings(client, config);
    scantest::RecordingView view;
    screening::TScanSession session(client, log, config, view);
    session.OnScanEnd = [] {
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(
        qApp, [&] { session.StartScan(true); }, Qt::QueuedConnection);
    return app.exec();
}
