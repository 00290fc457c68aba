#include "Clock.h"

namespace platform {

namespace {
QDateTime nowOverride;
}

QDateTime Now() {
    return nowOverride.isValid() ? nowOverride : QDateTime::currentDateTime();
}

void SetNowOverride(const QDateTime& moment) {
    nowOverride = moment;
}

} // namespace platform
