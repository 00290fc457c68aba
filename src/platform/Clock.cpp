#include "Clock.h"

namespace platform {

namespace {
QDateTime nowOverride;
}

QDateTime Now() {
    return nowOverride.isValid() ? nowOverride : QDateTime::currentDateTime();
}

qint64 NowMSecsSinceEpoch() {
    return nowOverride.isValid() ? nowOverride.toMSecsSinceEpoch()
                                 : QDateTime::currentMSecsSinceEpoch();
}

void SetNowOverride(const QDateTime& moment) {
    nowOverride = moment;
}

} // namespace platform
