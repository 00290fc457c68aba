// The preferences dialog's account selector: adding, switching, renaming, removing.
#include "WizardFixture.h"
#include "support/Wait.h"

#include <QCheckBox>
#include <QComboBox>

#include <filesystem>

namespace {

using WizardAccountsTest = WizardFixture;

TEST_F(WizardAccountsTest, AddSwitchRenameAndRemoveAnAccount) {
    WriteFile(IniPath(), "[Config]\r\nServer=pop.home\r\nLogin=me\r\n");
    Open();
    auto* accounts = Find<QComboBox>("cmbAccount");
    ASSERT_EQ(accounts->count(), 1);
    EXPECT_EQ(accounts->itemText(0), "Main");
    EXPECT_FALSE(Find<QAbstractButton>("btnRemoveAccount")->isEnabled());

    const struct {
        const char* name;
        const char* box;
    } refused[] = {
        {"Wo/rk",
         "The account name \"Wo/rk\" may hold only letters, digits, blanks, \"-\" and \"_\""},
        {" main", "There is already an account named \"Main\""},
        {"", "An account needs a name"},
    };
    for (const auto& r : refused) {
        SetText("editAccountName", r.name);
        Click("btnAddAccount");
        EXPECT_EQ(TakeBox(), r.box);
    }
    EXPECT_EQ(accounts->count(), 1);

    SetText("editAccountName", "Work");
    Click("btnAddAccount");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return accounts->currentIndex() == 1; }));
    EXPECT_EQ(Text("editServerName"), "");
    SetText("editServerName", "pop.work");
    SetText("editLoginName", "boss");
    SetText("editPassword", "pw");
    SetText("editConfirm", "pw");
    Find<QCheckBox>("cbxAccountEnabled")->click();

    // Choosing another account saves the shown one first.
    accounts->setCurrentIndex(0);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Text("editServerName") == "pop.home"; }));
    EXPECT_EQ(TakeBox(),
              "No keyring is available: the password is kept scrambled in Morvandle.ini");
    const std::string first =
        "[Config]\r\nServer=pop.home\r\nLogin=me\r\nSecurity=0\r\nCAFile=\r\n";
    EXPECT_EQ(ReadFile(IniPath()),
              first +
                  "[Account Work]\r\nServer=pop.work\r\n"
                  "Login=boss\r\nSecurity=0\r\nCAFile=\r\nEnabled=0\r\nPassword=" +
                  ScramblePassword("pw") + "\r\n");
    accounts->setCurrentIndex(1);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Text("editServerName") == "pop.work"; }));
    EXPECT_EQ(Text("editPassword"), "pw");
    EXPECT_FALSE(Find<QCheckBox>("cbxAccountEnabled")->isChecked());

    // The account's quarantine and header cache go with its name; another's stay.
    for (const char* file : {"quarantine-Work.mbox", "quarantine-Work.1.mbox", "headers-Work.cache",
                             "quarantine.mbox"})
        WriteFile(ProgramFile(file), file);
    SetText("editAccountName", "Job");
    Click("btnRenameAccount");
    EXPECT_EQ(accounts->itemText(1), "Job");
    EXPECT_NE(ReadFile(IniPath()).find("[Account Job]\r\nServer=pop.work\r\n"), std::string::npos);
    for (const char* file :
         {"quarantine-Work.mbox", "quarantine-Work.1.mbox", "headers-Work.cache"}) {
        std::string moved = file;
        moved.replace(moved.find("Work"), 4, "Job");
        EXPECT_FALSE(std::filesystem::exists(ProgramFile(file))) << file;
        EXPECT_EQ(ReadFile(ProgramFile(moved)), file);
    }
    EXPECT_EQ(ReadFile(ProgramFile("quarantine.mbox")), "quarantine.mbox");

    answers = {platform::mrNo, platform::mrYes};
    Click("btnRemoveAccount");
    EXPECT_EQ(TakeBox(), "Remove the account \"Job\" and its settings?");
    EXPECT_EQ(accounts->count(), 2);
    Click("btnRemoveAccount");
    EXPECT_EQ(TakeBox(), "Remove the account \"Job\" and its settings?");
    EXPECT_EQ(accounts->count(), 1);
    EXPECT_EQ(Text("editServerName"), "pop.home");
    EXPECT_EQ(ReadFile(IniPath()), first);
    EXPECT_EQ(errors, std::vector<std::string>{});
}

// With a name in the file the checks refuse, the dialog cannot see the other accounts, so it
// must not add or rename one over a section it did not read.
TEST_F(WizardAccountsTest, ABadNameInTheFileLeavesNoAddOrRename) {
    WriteFile(IniPath(), "[Config]\r\nServer=pop.home\r\n[Account Work]\r\nServer=pop.work\r\n"
                         "[Account Wo.rk]\r\n");
    Open();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("The account name \"Wo.rk\" may hold only", 0), 0u) << errors[0];
    errors.clear();
    EXPECT_FALSE(Find<QAbstractButton>("btnAddAccount")->isEnabled());
    EXPECT_FALSE(Find<QAbstractButton>("btnRenameAccount")->isEnabled());
}

// The dialog ends with ConfigData holding the first account, whichever one it showed last.
TEST_F(WizardAccountsTest, ClosingOnAFurtherAccountLeavesTheFirstInTheStore) {
    WriteFile(IniPath(), "[Config]\r\nServer=pop.home\r\n[Account Work]\r\nServer=pop.work\r\n");
    Open();
    Find<QComboBox>("cmbAccount")->setCurrentIndex(1);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Text("editServerName") == "pop.work"; }));
    SetText("editServerName", "pop.job");
    Click("btnOk");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(ConfigData->Server, "pop.home");
    EXPECT_EQ(ConfigData->AccountSection, "Config");
    EXPECT_EQ(ReadAccounts()[1].Server, "pop.job");
}

} // namespace
