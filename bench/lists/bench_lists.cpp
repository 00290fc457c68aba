// Times loading and saving a 100,000-line spammers.txt through LoadSpammerList and
// SaveSpammerList, with the event loop live: a 1 ms timer counts how often it got to run.
#include "config/dataConfig.h"
#include "platform/Paths.h"
#include "support/ListFolder.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

using benchsupport::MillisecondsOf;

constexpr int kLines = 100000;
constexpr int kRounds = 5;

int Run() {
    QTemporaryDir dir;
    std::string folder = dir.path().toStdString();
    benchsupport::UseListFolder(folder, kLines);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.setTimerType(Qt::PreciseTimer);
    timer.start(1);

    for (int round = 1; round <= kRounds; ++round) {
        ticks = 0;
        double loadMs = MillisecondsOf(LoadSpammerList);
        int loadTicks = ticks;
        ticks = 0;
        double saveMs = MillisecondsOf(SaveSpammerList);
        std::printf("round %d: load %zu lines %.1f ms (timer ran %d times), "
                    "save %.1f ms (timer ran %d times)\n",
                    round, ConfigData->SpammerList.size(), loadMs, loadTicks, saveMs, ticks);
    }
    DestroyConfigData();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return Run();
}
