#include "platform/MessagePump.h"
#include "support/Wait.h"

#include <QMetaObject>
#include <QCoreApplication>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

TEST(MessagePump, SlicedPumpDeliversPostedCallsWithinASliceButNotOnEveryCall) {
    int delivered = 0;
    ProcessMessages(); // start a fresh slice
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { ++delivered; },
                              Qt::QueuedConnection);
    // Called again at once: still inside the slice, so the posted call waits.
    ProcessMessagesSliced();
    EXPECT_EQ(delivered, 0);
    auto start = std::chrono::steady_clock::now();
    while (delivered == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
        ProcessMessagesSliced();
    EXPECT_EQ(delivered, 1);
}
