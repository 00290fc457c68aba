// The preferences dialog saving a list that another program changed while it was open.
#include "WizardFixture.h"

namespace {

using Lines = std::vector<std::string>;
using WizardListSave = WizardFixture;

TEST_F(WizardListSave, AListChangedMeanwhileIsReloadedWithTheEditsOrLeftAlone) {
    const std::string question =
        " was changed by another program while this dialog was open.\r\n\r\nReload it and "
        "apply your changes to it again?";
    struct Case {
        const char* list;
        const char* edit;
        const char* add;
        const char* file;
        int answer;
        std::string after;
    } const cases[] = {
        // The dialog deleted "old" and added "mine"; the other program added "theirs".
        {"lbKnownSpammers", "editSpammerAddress", "btnSpammerAdd", "spammers.txt", platform::mrYes,
         "keep\r\nmine\r\ntheirs\r\n"},
        {"lbKnownSpammers", "editSpammerAddress", "btnSpammerAdd", "spammers.txt", platform::mrNo,
         "keep\r\nold\r\ntheirs\r\n"},
        {"lbAddresses", "editEmailAddress", "btnAddAddress", "GoodAddr.txt", platform::mrYes,
         "keep\r\nmine\r\ntheirs\r\n"},
        {"lbAddresses", "editEmailAddress", "btnAddAddress", "GoodAddr.txt", platform::mrNo,
         "keep\r\nold\r\ntheirs\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.answer == platform::mrYes ? " Yes" : " No"));
        WriteFile(ProgramFile(c.file), "keep\r\nold\r\n");
        Open();
        Select(c.list, 1);
        Click(std::string(c.list) == "lbAddresses" ? "btnDeleteAddress" : "btnSpammerDelete");
        SetText(c.edit, "mine");
        Click(c.add);
        WriteFile(ProgramFile(c.file), "keep\r\nold\r\ntheirs\r\n");
        boxes.clear();
        answers = {c.answer};
        Click("btnOk");
        EXPECT_EQ(TakeBox(), c.file + question);
        EXPECT_EQ(ReadFile(ProgramFile(c.file)), c.after);
        EXPECT_FALSE(dialog->isVisible()) << "the rest of the settings are saved";
        EXPECT_NE(ReadFile(IniPath()).find("Server="), std::string::npos);
        std::filesystem::remove(IniPath());
    }
}

} // namespace
