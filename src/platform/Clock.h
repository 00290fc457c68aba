#pragma once

#include <QDateTime>

namespace platform {

// The current local date and time. Everything that stamps or ages data asks here, so tests
// can move "today".
QDateTime Now();

// Freezes Now() at the given moment; an invalid QDateTime restores the real clock.
void SetNowOverride(const QDateTime& moment);

} // namespace platform
