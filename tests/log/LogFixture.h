#pragma once

#include "log/kelLog.h"
#include "platform/Clock.h"
#include "support/TempDir.h"

#include <QFile>
#include <gtest/gtest.h>
#include <string>

using testsupport::ReadFile;
using testsupport::WriteFile;

// A log in a fresh folder, with the clock frozen at 6 December 2026, 14:05:09.
class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.IsValid());
        platform::SetNowOverride(QDateTime(QDate(2026, 12, 6), QTime(14, 5, 9)));
        logName = dir.File("spammers.log");
    }
    void TearDown() override { platform::SetNowOverride(QDateTime()); }

    static bool Exists(const std::string& path) {
        return QFile::exists(QString::fromStdString(path));
    }

    testsupport::TempDir dir;
    std::string logName;
};
