// The preferences dialog: filling from the store, the flags, saving, closing and the keys.
#include "WizardFixture.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;
using Flags = std::vector<bool>;

std::string Ini(const std::string& keys) {
    return "[Config]\r\n" + keys;
}

std::string Settings(const std::string& server, const std::string& password,
                     const std::string& more = "") {
    return Ini("Server=" + server + "\r\nLogin=jo\r\nPassword=" + ScramblePassword(password) +
               "\r\n" + more);
}

class WizardTest : public WizardFixture {};

TEST_F(WizardTest, ShowingFillsTheControlsFromTheStore) {
    struct Case {
        const char* keys;
        bool addresses;
        const char* selected;
    };
    const Case cases[] = {
        {"", false, "rbDisabled"},
        {"Unknown=1\r\n", true, "rbStdCheck"},
        {"Strict=1\r\n", true, "rbStrictCheck"},
        {"Unknown=1\r\nStrict=1\r\nNoCase=1\r\n", false, "rbStrictCheck"},
    };
    WriteFile(ProgramFile("spammers.txt"), "beta\r\nAlpha\r\n\xc3\x84rger\r\nalpha\r\nzeta\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        dialog.reset();
        DestroyConfigData();
        WriteFile(IniPath(), Settings("pop.example.com:1110", "s3cret", c.keys));
        WriteFile(ProgramFile("GoodAddr.txt"), c.addresses ? "b@x.example\r\nA@x.example\r\n" : "");
        Open();

        EXPECT_EQ(Page(), 0);
        EXPECT_EQ(dialog->focusWidget(), Find<QLineEdit>("editServerName"));
        EXPECT_EQ(dialog->windowTitle(), "Morvandle Preferences");
        EXPECT_EQ(Text("editServerName"), "pop.example.com:1110");
        EXPECT_EQ(Text("editLoginName"), "jo");
        for (const char* box : {"editPassword", "editConfirm"}) {
            EXPECT_EQ(Text(box), "s3cret");
            EXPECT_EQ(Find<QLineEdit>(box)->displayText(), "******");
            EXPECT_EQ(Find<QLineEdit>(box)->echoMode(), QLineEdit::Password);
        }
        EXPECT_EQ(Entries("lbKnownSpammers"),
                  (Lines{"Alpha", "alpha", "beta", "zeta", "\xc3\x84rger"}));
        EXPECT_EQ(Entries("lbAddresses"),
                  (c.addresses ? Lines{"A@x.example", "b@x.example"} : Lines{}));
        for (const char* radio : {"rbDisabled", "rbStdCheck", "rbStrictCheck"}) {
            EXPECT_EQ(Find<QRadioButton>(radio)->isChecked(), std::string(radio) == c.selected)
                << radio;
            EXPECT_EQ(Find<QRadioButton>(radio)->isEnabled(), c.addresses) << radio;
        }
        EXPECT_EQ(Find<QGroupBox>("rgAddrCheckType")->isEnabled(), c.addresses);
        EXPECT_EQ(Find<QCheckBox>("cbxCaseInsensitive")->isChecked(),
                  std::string(c.keys).find("NoCase") != std::string::npos);
        for (const char* button : {"btnAddAddress", "btnChange", "btnDeleteAddress"})
            EXPECT_FALSE(Find<QAbstractButton>(button)->isEnabled()) << button;
        EXPECT_EQ(ChangeFlags(), (Flags{false, false, false}));
    }
}

TEST_F(WizardTest, ControlsAreLimitedAndInTheirTabOrder) {
    Open();
    EXPECT_EQ(Find<QLineEdit>("editServerName")->maxLength(), 64);
    EXPECT_EQ(Find<QLineEdit>("editLoginName")->maxLength(), 40);
    const Lines order = {"btnOk",         "btnHelp",      "pgctrlPreferences", "editServerName",
                         "editLoginName", "editPassword", "editConfirm",       "btnCancel"};
    Lines seen;
    QWidget* w = Find<QWidget>("btnOk");
    for (int i = 0; i < 200 && seen.size() < order.size(); ++i, w = w->nextInFocusChain()) {
        const std::string name = w->objectName().toStdString();
        if (std::find(order.begin(), order.end(), name) != order.end() &&
            std::find(seen.begin(), seen.end(), name) == seen.end())
            seen.push_back(name);
    }
    EXPECT_EQ(seen, order);
}

TEST_F(WizardTest, EachEditSetsItsFlags) {
    struct Case {
        const char* what;
        std::function<void(WizardTest&)> edit;
        Flags expected; // SettingsChanged, AddressesChanged, SpammersChanged
    };
    const Case cases[] = {
        {"server edit", [](WizardTest& t) { t.SetText("editServerName", "x"); }, {1, 0, 0}},
        {"confirm edit", [](WizardTest& t) { t.SetText("editConfirm", "x"); }, {1, 0, 0}},
        {"radio", [](WizardTest& t) { t.Click("rbStdCheck"); }, {1, 0, 0}},
        {"case box", [](WizardTest& t) { t.Click("cbxCaseInsensitive"); }, {1, 0, 0}},
        {"address typed", [](WizardTest& t) { t.SetText("editEmailAddress", "n@x"); }, {0, 0, 0}},
        {"address added",
         [](WizardTest& t) {
             t.SetText("editEmailAddress", "n@x");
             t.Click("btnAddAddress");
         },
         {1, 1, 0}},
        {"address duplicate",
         [](WizardTest& t) {
             t.SetText("editEmailAddress", "A@X");
             t.Click("btnAddAddress");
         },
         {0, 0, 0}},
        {"address selected", [](WizardTest& t) { t.Select("lbAddresses", 0); }, {0, 0, 0}},
        {"empty search string added", [](WizardTest& t) { t.Click("btnSpammerAdd"); }, {1, 0, 1}},
        {"search string changed without selection",
         [](WizardTest& t) {
             t.SetText("editSpammerAddress", "new");
             t.Click("btnSpammersChange");
             t.Click("btnSpammerDelete");
         },
         {0, 0, 0}},
        {"search string deleted",
         [](WizardTest& t) {
             t.Select("lbKnownSpammers", 0);
             t.Click("btnSpammerDelete");
         },
         {1, 0, 1}},
    };
    WriteFile(ProgramFile("GoodAddr.txt"), "a@x\r\n");
    WriteFile(ProgramFile("spammers.txt"), "spam\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialog.reset();
        DestroyConfigData();
        Open();
        c.edit(*this);
        EXPECT_EQ(ChangeFlags(), c.expected);
    }
}

TEST_F(WizardTest, SavingWritesTheSettingsAndExactlyTheChangedLists) {
    const std::string addresses = "b@x\r\na@x\r\n";           // not in list order: a rewrite shows
    const std::string spammers = "zz\r\n\xe9t\xe9\r\nyy\r\n"; // Latin-1, no UTF-8
    struct Case {
        const char* what;
        std::function<void(WizardTest&)> edit;
        std::string goodAddr, spammersTxt;
    };
    const Case cases[] = {
        {"nothing", [](WizardTest&) {}, addresses, spammers},
        {"address added",
         [](WizardTest& t) {
             t.SetText("editEmailAddress", "C@X");
             t.Click("btnAddAddress");
         },
         "a@x\r\nb@x\r\nc@x\r\n", spammers},
        {"empty search string added", [](WizardTest& t) { t.Click("btnSpammerAdd"); }, addresses,
         "yy\r\nzz\r\n\xe9t\xe9\r\n"},
        {"all the last address deleted, a search string added",
         [](WizardTest& t) {
             for (int i = 0; i < 2; ++i) {
                 t.Select("lbAddresses", 0);
                 t.Click("btnDeleteAddress");
             }
             t.SetText("editSpammerAddress", "Gr\xc3\xbc\xc3\x9f"
                                             "e");
             t.Click("btnSpammerAdd");
         },
         "",
         "Gr\xc3\xbc\xc3\x9f"
         "e\r\nyy\r\nzz\r\n\xe9t\xe9\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialog.reset();
        DestroyConfigData();
        WriteFile(IniPath(), Settings("mail.example", "p\xe9w", "LogLevel=yes\r\nWidth=0x1A6\r\n"));
        WriteFile(ProgramFile("GoodAddr.txt"), addresses);
        WriteFile(ProgramFile("spammers.txt"), spammers);
        Open();
        c.edit(*this);
        Click("btnOk");
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(ReadFile(ProgramFile("GoodAddr.txt")), c.goodAddr);
        EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), c.spammersTxt);
        const std::string ini = ReadFile(IniPath());
        EXPECT_NE(ini.find("LogLevel=0"), std::string::npos) << "settings always written";
        EXPECT_NE(ini.find("Width=0x1A6"), std::string::npos) << "window bounds untouched";
        EXPECT_NE(ini.find("Password=" + ScramblePassword("p\xe9w")), std::string::npos)
            << "an untouched password keeps its bytes";
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(WizardTest, SavingTakesTheTextsAndOptionsAsShown) {
    WriteFile(ProgramFile("GoodAddr.txt"), "a@x\r\n");
    WriteFile(IniPath(), Settings("old.example", "old", "Unknown=1\r\n"));
    Open();
    SetText("editServerName", "m\xc3\xa4il.example:1110");
    SetText("editLoginName", "J\xc3\xb6rg");
    SetText("editConfirm", "typo"); // never compared, never stored
    Click("rbStrictCheck");
    Click("cbxCaseInsensitive");
    Press(Qt::Key_Return); // Enter presses OK
    EXPECT_FALSE(dialog->isVisible());

    DestroyConfigData();
    CreateConfigData();
    EXPECT_EQ(ConfigData->Server, "m\xc3\xa4il.example:1110");
    EXPECT_EQ(ConfigData->Login, "J\xc3\xb6rg");
    EXPECT_EQ(ConfigData->Password, "old");
    EXPECT_FALSE(ConfigData->Unknown);
    EXPECT_TRUE(ConfigData->Strict);
    EXPECT_TRUE(ConfigData->NoCase);
}

TEST_F(WizardTest, CancelAsksOnlyAfterChangesAndTheCloseBoxNeverAsks) {
    enum How { CancelButton, EscKey, CloseBox };
    struct Case {
        const char* what;
        How how;
        bool edited;
        int answer;
        bool asked, open, saved;
    };
    const Case cases[] = {
        {"unchanged", CancelButton, false, platform::mrYes, false, false, false},
        {"unchanged, Esc", EscKey, false, platform::mrYes, false, false, false},
        {"Yes", CancelButton, true, platform::mrYes, true, false, true},
        {"No", EscKey, true, platform::mrNo, true, false, false},
        {"Cancel", CancelButton, true, platform::mrCancel, true, true, false},
        {"close box", CloseBox, true, platform::mrYes, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialog.reset();
        DestroyConfigData();
        boxes.clear();
        answers = {c.answer};
        std::filesystem::remove(IniPath());
        Open();
        if (c.edited) SetText("editLoginName", "new");
        if (c.how == CancelButton) Click("btnCancel");
        if (c.how == EscKey) Press(Qt::Key_Escape);
        if (c.how == CloseBox) dialog->close();

        ASSERT_EQ(boxes.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(boxes[0].text, "Save your changes first?");
            EXPECT_EQ(boxes[0].type, platform::TMsgDlgType::mtConfirmation);
            EXPECT_EQ(boxes[0].buttons, platform::mbYes | platform::mbNo | platform::mbCancel);
        }
        EXPECT_EQ(dialog->isVisible(), c.open);
        EXPECT_EQ(ReadFile(IniPath()) != "<missing>", c.saved);
        if (c.edited) {
            EXPECT_EQ(Text("editLoginName"), "new");
        }
        EXPECT_EQ(dialog->SettingsChanged(), c.edited) << "flags outlive the dialog";
    }
}

TEST_F(WizardTest, AFailedSaveShowsTheErrorAndKeepsTheDialogAndTheFiles) {
    WriteFile(ProgramFile("GoodAddr.txt"), "b@x\r\na@x\r\n");
    Open();
    SetText("editServerName", "new.example");
    SetText("editEmailAddress", "c@x");
    Click("btnAddAddress");

    chmod(ProgramFile("GoodAddr.txt").c_str(), 0444);
    Click("btnOk");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Text("editServerName"), "new.example");
    EXPECT_EQ(ReadFile(ProgramFile("GoodAddr.txt")), "b@x\r\na@x\r\n");
    EXPECT_EQ(ReadFile(IniPath()), "<missing>");

    chmod(ProgramFile("GoodAddr.txt").c_str(), 0644);
    WriteFile(IniPath(), "");
    chmod(IniPath().c_str(), 0444);
    answers = {platform::mrYes};
    Click("btnCancel"); // Yes saves; the settings file refuses
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1], "Unable to write to Morvandle.ini");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ReadFile(ProgramFile("GoodAddr.txt")), "a@x\r\nb@x\r\nc@x\r\n");

    chmod(IniPath().c_str(), 0644);
    Click("btnOk");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_NE(ReadFile(IniPath()).find("Server=new.example"), std::string::npos);
}

TEST_F(WizardTest, PageKeysWrapAndHelpAsksForTopic30) {
    struct Case {
        int from, key;
        Qt::KeyboardModifiers modifiers;
        int to;
    };
    const Case cases[] = {
        {2, Qt::Key_PageDown, Qt::ControlModifier, 0},
        {0, Qt::Key_PageUp, Qt::ControlModifier, 2},
        {0, Qt::Key_PageDown, Qt::ControlModifier, 1},
        {1, Qt::Key_PageUp, Qt::ControlModifier, 0},
        {1, Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier, 1},
        {1, Qt::Key_PageUp, Qt::ControlModifier | Qt::AltModifier, 1},
        {1, Qt::Key_PageDown, Qt::NoModifier, 1},
        {2, Qt::Key_Tab, Qt::ControlModifier, 0},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " key " << c.key << " mods " << c.modifiers);
        Find<QTabWidget>("pgctrlPreferences")->setCurrentIndex(c.from);
        Press(c.key, c.modifiers);
        EXPECT_EQ(Page(), c.to);
    }
    Press(Qt::Key_F1);
    Click("btnHelp");
    EXPECT_EQ(helpContexts, (std::vector<int>{30, 30}));
    EXPECT_TRUE(dialog->isVisible());
}

} // namespace
