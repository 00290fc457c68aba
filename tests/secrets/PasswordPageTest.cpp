// The preferences dialog's password against the real keyring of run-with-keyring.

#include "config/WizardFixture.h"
#include "secrets/SecretStore.h"
#include "support/Wait.h"

#include <QLabel>
#include <gtest/gtest.h>

namespace {

struct PasswordPage : WizardFixture {
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "run through run-with-keyring (ctest does)";
        WizardFixture::SetUp();
    }
    std::string Place() {
        return dialog->findChild<QLabel*>("lblPasswordPlace")->text().toStdString();
    }
};

} // namespace

// The label says where the password is kept; OK moves a password out of the settings file
// into the keyring, from where the next dialog fills the boxes; an item belongs to one login
// on one server, and an emptied password leaves it.
TEST_F(PasswordPage, ShowsWhereThePasswordIsKeptAndMovesItToTheKeyring) {
    struct Step {
        const char* what;
        std::string settings; // written before the dialog opens; empty: as the last step left it
        const char* typed;    // into both boxes, when set
        std::string place;    // once the keyring has answered
        std::string boxes;
        bool keyInFile; // after OK
    } const steps[] = {
        {"an old file's password", "Server=pop.example\nLogin=jo\nPassword=ijk\n", nullptr,
         "Password: kept scrambled in Morvandle.ini", "abc", false},
        {"now in the keyring", "", nullptr, "Password: kept in the desktop keyring", "abc", false},
        {"changed", "", "new pw", "Password: kept in the desktop keyring", "abc", false},
        {"the change is kept", "", nullptr, "Password: kept in the desktop keyring", "new pw",
         false},
        {"another login", "Server=pop.example\nLogin=ann\n", nullptr, "Password: not stored", "",
         false},
        {"another server", "Server=pop.other\nLogin=jo\n", nullptr, "Password: not stored", "",
         false},
        {"cleared", "Server=pop.example\nLogin=jo\n", "", "Password: kept in the desktop keyring",
         "new pw", true},
        {"gone from the keyring", "", nullptr, "Password: not stored", "", true},
        {"a command wins", "Server=pop.example\nLogin=jo\nPasswordCommand=pass mail\n", nullptr,
         "Password: from the command in PasswordCommand", "", false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (!s.settings.empty()) testsupport::WriteFile(IniPath(), "[Config]\n" + s.settings);
        Open();
        EXPECT_TRUE(testsupport::WaitUntil([&] { return Place() == s.place; })) << Place();
        EXPECT_EQ(Text("editPassword"), s.boxes);
        EXPECT_EQ(Text("editConfirm"), s.boxes);
        if (s.typed) {
            SetText("editPassword", s.typed);
            SetText("editConfirm", s.typed);
        }
        Click("btnOk");
        EXPECT_TRUE(testsupport::WaitUntil([&] { return !dialog->isVisible(); }));
        EXPECT_EQ(TakeBox(), "") << "the keyring took it";
        EXPECT_EQ(testsupport::ReadFile(IniPath()).find("Password=") != std::string::npos,
                  s.keyInFile);
    }
}
