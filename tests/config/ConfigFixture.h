#pragma once

#include "config/dataConfig.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

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

    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    testsupport::TempDir dir;
};
