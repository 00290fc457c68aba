#include "platform/MessagePump.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

TEST(MessagePump, SlicedPumpDeliversPostedCallsWithinASliceButNotOnEveryCall) {
    int delivered = 0;
    QObject context; // a call left pending ends with the test instead of writing to its frame
    auto sliceStart = std::chrono::steady_clock::now();
    ProcessMessages(); // start a fresh slice
    QMetaObject::invokeMethod(
        &context, [&] { ++delivered; }, Qt::QueuedConnection);
    // Called again at once: still inside the slice, so the posted call waits. A machine busy
    // enough to hold this thread up for a millisecond proves nothing either way.
    ProcessMessagesSliced();
    if (std::chrono::steady_clock::now() - sliceStart < std::chrono::milliseconds(1)) {
        EXPECT_EQ(delivered, 0);
    }
    auto start = std::chrono::steady_clock::now();
    while (delivered == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
        ProcessMessagesSliced();
    EXPECT_EQ(delivered, 1);
}
