#include "platform/AtomicFile.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testsupport::WriteFile;

// A process id that no process has: a child that has ended and been reaped.
pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(StaleTempFiles, OnlyFilesOfEndedWritersGo) {
    testsupport::TempDir dir;
    const std::string dead = std::to_string(EndedProcess());
    const std::string live = std::to_string(::getpid());
    struct Case {
        std::string name;
        bool removed;
    } const cases[] = {
        {"spammers.txt.tmp" + dead + "-3", true},
        {"Morvandle.ini.tmp" + dead + "-12", true},
        {"spammers.txt.tmp" + live + "-1", false}, // a save in progress
        {"spammers.txt", false},
        {"notes.tmp" + dead, false},
        {"notes.tmp" + dead + "-x", false},
        {"spammers.txt.tmp" + dead + "-4.bak", false},
    };
    for (const Case& c : cases)
        WriteFile(dir.File(c.name), "x");
    std::filesystem::create_directory(dir.File("folder.tmp" + dead + "-1"));

    platform::RemoveStaleTempFiles(dir.Path());
    for (const Case& c : cases)
        EXPECT_EQ(!std::filesystem::exists(dir.File(c.name)), c.removed) << c.name;
    EXPECT_TRUE(std::filesystem::exists(dir.File("folder.tmp" + dead + "-1")));
    platform::RemoveStaleTempFiles(dir.File("missing")); // nothing to do, nothing thrown
}

} // namespace
