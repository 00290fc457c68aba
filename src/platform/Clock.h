#pragma once

#include <QDateTime>

namespace platform {

// The current local date and time. Everything that stamps or ages data asks here, so tests
// can move "today".
QDateTime Now();
// The same moment as milliseconds since 1970 (UTC), without the cost of the local-time
// conversion.
qint64 NowMSecsSinceEpoch();

// Freezes Now() at the given moment; an invalid QDateTime restores the real clock.
void SetNowOverride(const QDateTime& moment);

} // namespace platform
