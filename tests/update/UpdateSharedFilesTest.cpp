// The merge against files others write: oversized and cut update files, and a spammers.txt
// that another program changes while the merge runs.
#include "config/ConfigFixture.h"
#include "log/kelLog.h"
#include "update/UpdateMerge.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;
using namespace update;

struct View : TUpdateView {
    Lines errors, infos;
    int enabled = 0;
    std::function<void()> onBusy; // runs when the long part starts: after the list was read

    void SetActivity(const std::string&) override {}
    void StartProgress(int) override {}
    void StepProgress() override {}
    void SetBusyCursor(bool on) override {
        if (on && onBusy) onBusy();
    }
    void EnableStartAndCancel() override { ++enabled; }
    bool Confirm(const std::string& t) override { return t.rfind("Delete", 0) != 0; }
    void ShowError(const std::string& t) override { errors.push_back(t); }
    void ShowInformation(const std::string& t) override { infos.push_back(t); }
};

class UpdateSharedFiles : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        log.SetOptions({});
        log.SetLogFileName(ProgramFile("spammers.log"));
    }
    TMergeResult Merge(const std::string& update) {
        WriteFile(UpdatePath(), update);
        DestroyConfigData();
        CreateConfigData();
        std::filesystem::remove(ProgramFile("spammers.log"));
        return MergeUpdateFile(UpdatePath(), usLocalFile, *ConfigData, log, view);
    }
    std::string UpdatePath() const { return dir.File("spamupd.txt"); }
    std::string Log() const { return ReadFile(ProgramFile("spammers.log")); }

    TkelLog log;
    View view;
};

TEST_F(UpdateSharedFiles, OversizedFilesAreRefusedAndANulIsReported) {
    struct Case {
        std::string update;
        const char* limit;
        bool merged;
        std::string error, logged;
    } const cases[] = {
        {"12345678\r\n", "10", true, "", "New Addition: 12345678"},
        {"123456789\r\n", "10", false,
         "The update file is too large: 11 bytes (the limit is 10 bytes, set by MaxUpdateSize).",
         ""},
        {std::string("ab\r\nc\0d\r\ne\r\n", 11), "0", true, "",
         "Update file ends at byte 5: a NUL byte; 5 bytes after it ignored"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.update);
        WriteFile(IniPath(), std::string("[Config]\r\nMaxUpdateSize=") + c.limit + "\r\n");
        WriteFile(ProgramFile("spammers.txt"), "old\r\n");
        view.errors.clear();
        EXPECT_EQ(Merge(c.update).merged, c.merged);
        EXPECT_EQ(view.errors, c.error.empty() ? Lines{} : Lines{c.error});
        EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
        if (!c.merged) {
            EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "old\r\n");
            EXPECT_EQ(ReadFile(IniPath()).find("Update="), std::string::npos);
            EXPECT_EQ(view.enabled, 1);
        }
    }
}

TEST_F(UpdateSharedFiles, AListChangedDuringTheMergeKeepsTheOtherWritersEntries) {
    struct Case {
        const char* name;
        std::string theirs; // what another program writes after the merge read the list
        bool sameTime;      // and gives the file its old time back
        std::string after;
        int additions, duplicates;
    } const cases[] = {
        {"an entry added", "old\r\nmore\r\n", false, "old\r\nmore\r\nnew\r\nfresh\r\n", 2, 0},
        {"the same merge ran meanwhile", "old\r\nnew\r\nfresh\r\n", false,
         "old\r\nnew\r\nfresh\r\n", 0, 2},
        {"same size and time, other bytes", "OLD\r\nfres\r\n", true,
         "OLD\r\nfres\r\nnew\r\n", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(ProgramFile("spammers.txt"), "old\r\nnown\r\n");
        struct stat before;
        ::stat(ProgramFile("spammers.txt").c_str(), &before);
        view.onBusy = [&] {
            WriteFile(ProgramFile("spammers.txt"), c.theirs);
            if (c.sameTime) {
                const timespec times[2] = {before.st_atim, before.st_mtim};
                ::utimensat(AT_FDCWD, ProgramFile("spammers.txt").c_str(), times, 0);
            }
        };
        const TMergeResult result = Merge("new\r\nfresh\r\n");
        EXPECT_TRUE(result.merged);
        EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), c.after);
        EXPECT_EQ(result.additions, c.additions);
        EXPECT_EQ(result.duplicates, c.duplicates);
        EXPECT_NE(Log().find("Update Summary: " + std::to_string(c.duplicates) + " Duplicates; " +
                             std::to_string(c.additions) + " Additions"),
                  std::string::npos)
            << Log();
    }
}

} // namespace
