#pragma once

#include "config/dataConfig.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using testsupport::ReadFile;
using testsupport::WriteFile;

// Points the settings file and the program's folder into a fresh temporary folder and
// destroys ConfigData after each test.
class ConfigFixture : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(ProgramDir());
        platform::SetProgramDirOverride(ProgramDir());
        platform::SetSettingsFileOverride(IniPath());
    }
    void TearDown() override {
        DestroyConfigData();
        platform::SetProgramDirOverride("");
        platform::SetSettingsFileOverride("");
    }

    std::string ProgramDir() const { return dir.File("program"); }
    std::string IniPath() const { return dir.File("config/Morvandle.ini"); }
    std::string ProgramFile(const std::string& name) const { return ProgramDir() + "/" + name; }

    testsupport::TempDir dir;
};
