#include "platform/ErrorReport.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>
#include <vector>

using namespace platform;

TEST(ErrorReport, GuardedHandsEveryExceptionToTheReporterAndGoesOn) {
    std::vector<std::string> shown;
    ScopedErrorReporter reporter([&](const std::string& m) { shown.push_back(m); });
    Guarded([] { throw Exception("Invalid MaxSize value"); });
    Guarded([] { throw 42; });
    Guarded([] {});
    // A reporter that itself throws must not let the exception escape.
    SetErrorReporter([](const std::string&) { throw std::runtime_error("x"); });
    Guarded([] { throw Exception("again"); });
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Invalid MaxSize value");
    EXPECT_EQ(shown[1], "Unknown exception");
}
