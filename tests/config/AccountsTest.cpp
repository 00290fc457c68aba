// The accounts of a settings file: [Config] first, then the [Account NAME] sections.

#include "ConfigFixture.h"

#include "config/Accounts.h"
#include "platform/Exception.h"

#include <vector>

namespace {

struct AccountsTest : ConfigFixture {};

struct SettingsForm {
    const char* name;
    const char* ini;
    // "name section enabled files prefix server login security" per account; empty for a
    // refused file.
    std::vector<std::string> accounts;
    const char* error; // the refusal's text
};

std::string Described(const TAccountSettings& a) {
    return a.AccountName + "|" + a.AccountSection + "|" + (a.Enabled ? "on" : "off") + "|" +
           a.FilesName + "|" + a.LinePrefix + "|" + a.Server + "|" + a.Login + "|" +
           std::to_string(a.Security) + "|" + std::to_string(a.Timeout);
}

TEST_F(AccountsTest, SettingsFormsGiveTheirAccountsOrAClearError) {
    const SettingsForm forms[] = {
        {"only Config",
         "[Config]\nServer=pop.home\nLogin=me\nUnknown=1\n",
         {"Main|Config|on|||pop.home|me|0|60"},
         ""},
        {"two accounts, shared keys stay in Config",
         "[Config]\nServer=pop.home\nLogin=me\nTimeout=5\n[Other]\nServer=x\n"
         "[Account Work 2]\nServer=pop.work\nLogin=boss\nSecurity=2\nLogLevel=1\n",
         {"Main|Config|on||Main: |pop.home|me|0|5",
          "Work 2|Account Work 2|on|Work 2|Work 2: |pop.work|boss|2|60"},
         ""},
        {"first account named, one disabled",
         "[Config]\nAccountName=Home\n[account  old_mail-1 ]\nEnabled=0\n",
         {"Home|Config|on||Home: |undefined|undefined|0|60",
          "old_mail-1|account  old_mail-1|off|old_mail-1|old_mail-1: |undefined|undefined|0|60"},
         ""},
        {"bad name",
         "[Config]\n[Account Wo/rk]\n",
         {},
         "The account name \"Wo/rk\" may hold only letters, digits, blanks, \"-\" and \"_\" "
         "(Morvandle.ini)"},
        {"duplicate name in another letter case",
         "[Config]\n[Account work]\n[Account WORK]\n",
         {},
         "There is already an account named \"work\" (Morvandle.ini)"},
        {"a further account named like the first",
         "[Account main]\n",
         {},
         "There is already an account named \"Main\" (Morvandle.ini)"},
    };
    for (const SettingsForm& form : forms) {
        WriteFile(IniPath(), form.ini);
        std::vector<std::string> got;
        std::string error;
        try {
            for (const TAccountSettings& a : ReadAccounts())
                got.push_back(Described(a));
        } catch (const platform::Exception& e) {
            error = e.what();
        }
        EXPECT_EQ(got, form.accounts) << form.name;
        EXPECT_EQ(error, form.error) << form.name;
    }
}

// The dialog's writes: a new section, a rename that keeps the keys, a removal that keeps the
// other sections; the first account is renamed by its key and never removed.
TEST_F(AccountsTest, WritesRenamesAndRemovesOnlyTheirSection) {
    WriteFile(IniPath(), "[Config]\r\nServer=a\r\n[Account Old]\r\nLogin=x\r\nEnabled=0\r\n"
                         "[Other]\r\nKey=1\r\n");
    std::vector<TAccountSettings> accounts = ReadAccounts();
    TAccountSettings added;
    added.AccountSection = AccountSectionOf("New");
    added.Server = "pop.new";
    added.Login = "n";
    WriteAccount(added);
    RenameAccount(accounts[1], "Kept");
    RenameAccount(accounts[0], "Home");
    RemoveAccount(accounts[0]);
    EXPECT_EQ(ReadFile(IniPath()),
              "[Config]\r\nServer=a\r\nAccountName=Home\r\n[Account Kept]\r\nLogin=x\r\n"
              "Enabled=0\r\n[Other]\r\nKey=1\r\n[Account New]\r\nServer=pop.new\r\nLogin=n\r\n"
              "Security=0\r\nCAFile=\r\nEnabled=1\r\n");
    RemoveAccount(ReadAccounts()[1]);
    EXPECT_EQ(ReadFile(IniPath()),
              "[Config]\r\nServer=a\r\nAccountName=Home\r\n[Other]\r\nKey=1\r\n"
              "[Account New]\r\nServer=pop.new\r\nLogin=n\r\nSecurity=0\r\n"
              "CAFile=\r\nEnabled=1\r\n");
}

} // namespace
