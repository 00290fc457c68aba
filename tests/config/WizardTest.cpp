// The preferences dialog, offscreen: filling, the two lists, saving, closing and the keys.
#include "WizardFixture.h"
#include "config/OrdinaryMail.h"
#include "secrets/SecretStore.h"
#include "support/Wait.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QTabWidget>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;
using Flags = std::vector<bool>;

std::string Settings(const std::string& password, const std::string& more) {
    return "[Config]\r\nServer=pop.example\r\nLogin=jo\r\nPassword=" + ScramblePassword(password) +
           "\r\n" + more;
}

using WizardTest = WizardFixture;

TEST_F(WizardTest, ShowingFillsTheControlsFromTheStore) {
    struct Case {
        const char* keys;
        const char* addresses;
        const char* selected;
    } const cases[] = {{"", "", "rbDisabled"},
                       {"Unknown=1\r\nNoCase=1\r\n", "b@x\r\nA@x\r\nb@x\r\n", "rbStdCheck"},
                       {"Unknown=1\r\nStrict=1\r\n", "", "rbStrictCheck"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        WriteFile(IniPath(), Settings("s3cret", c.keys));
        WriteFile(ProgramFile("GoodAddr.txt"), c.addresses);
        WriteFile(ProgramFile("spammers.txt"), "beta\r\nAlpha\r\n\xc3\x84rger\r\nalpha\r\n");
        Open();
        EXPECT_EQ(Find<QTabWidget>("pgctrlPreferences")->currentIndex(), 0);
        EXPECT_EQ(dialog->focusWidget(), Find("editServerName"));
        for (const char* box : {"editPassword", "editConfirm"})
            EXPECT_EQ(Find<QLineEdit>(box)->displayText(), "******");
        EXPECT_EQ(Entries("lbKnownSpammers"), (Lines{"Alpha", "alpha", "beta", "\xc3\x84rger"}));
        const bool any = c.addresses[0] != 0;
        EXPECT_EQ(Entries("lbAddresses"), (any ? Lines{"A@x", "b@x", "b@x"} : Lines{}));
        for (const char* radio : {"rgAddrCheckType", "rbDisabled", "rbStdCheck", "rbStrictCheck"})
            EXPECT_EQ(Find(radio)->isEnabled(), any) << radio;
        EXPECT_TRUE(Find<QRadioButton>(c.selected)->isChecked());
        EXPECT_EQ(Find<QCheckBox>("cbxCaseInsensitive")->isChecked(), any);
        EXPECT_EQ(ChangeFlags(), (Flags{false, false, false}));
    }
}

TEST_F(WizardTest, AddressesAreLowerCasedOnAddKeptOnChangeAndNeverDuplicated) {
    WriteFile(ProgramFile("GoodAddr.txt"), "me@home.example\r\n");
    Open();
    Click("rbStdCheck");
    SetText("editEmailAddress", "ME@Home.example");
    Click("btnAddAddress");
    EXPECT_EQ(TakeBox(), "The address me@home.example\r\nalready exists");
    EXPECT_EQ(ChangeFlags(), (Flags{true, false, false}));
    SetText("editEmailAddress", "\xc3\x89t\xc3\xa9@B.example");
    Click("btnAddAddress");
    EXPECT_EQ(Entries("lbAddresses"), (Lines{"me@home.example", "\xc3\xa9t\xc3\xa9@b.example"}));
    EXPECT_EQ(Text("editEmailAddress"), "");
    EXPECT_FALSE(Find("btnAddAddress")->isEnabled());
    EXPECT_EQ(ChangeFlags(), (Flags{true, true, false}));

    Select("lbAddresses", 0);
    EXPECT_EQ(Text("editEmailAddress"), "me@home.example");
    Click("btnChange"); // the selected entry itself is a duplicate
    EXPECT_EQ(TakeBox(), "The address me@home.example\r\nalready exists");
    SetText("editEmailAddress", "Ab@C.example");
    Click("btnChange");
    EXPECT_EQ(Entries("lbAddresses"), (Lines{"Ab@C.example", "\xc3\xa9t\xc3\xa9@b.example"}));
    for (int left = 1; left >= 0; --left) {
        Select("lbAddresses", 0);
        Click("btnDeleteAddress");
        EXPECT_EQ(Entries("lbAddresses").size(), size_t(left));
        EXPECT_FALSE(Find("btnDeleteAddress")->isEnabled());
        EXPECT_EQ(dialog->focusWidget(), Find("editEmailAddress"));
        EXPECT_EQ(Find("rbStdCheck")->isEnabled(), left > 0);
    }
    EXPECT_EQ(Text("editEmailAddress"), "\xc3\xa9t\xc3\xa9@b.example"); // the edit keeps it
    EXPECT_TRUE(Find<QRadioButton>("rbStdCheck")->isChecked());
}

TEST_F(WizardTest, SearchStringsThatMatchNothingOrMuchOrdinaryMailAreRefused) {
    const std::string blank =
        "A search string of only blanks and tabs would match nothing: it is not added.";
    auto broad = [](const std::string& entry, int count) {
        return "\"" + entry + "\" occurs in " + std::to_string(count) + " of the " +
               std::to_string(OrdinaryMailSampleSize()) +
               " ordinary messages of the sample, so it would match much good mail: it is not "
               "added.";
    };
    struct Case {
        const char* button;
        std::string text;
        bool ignoreCase;
        std::string box; // empty: accepted
    } cases[] = {
        {"btnSpammerAdd", " \t ", false, blank},
        {"btnSpammersChange", "", false, blank},
        {"btnSpammersChange", "\t", false, blank},
        {"btnSpammerAdd", "Date:", false, broad("Date:", OrdinaryMailSampleSize())},
        {"btnSpammersChange", " Received ", false, broad("Received", OrdinaryMailSampleSize())},
        {"btnSpammerAdd", "spam", true, broad("spam", OrdinaryMessagesContaining("spam", true))},
        {"btnSpammerAdd", "spam", false, ""},
        {"btnSpammersChange", "lottery", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + testing::PrintToString(c.text));
        WriteFile(ProgramFile("spammers.txt"), "casino\r\n");
        Open();
        Find<QCheckBox>("cbxCaseInsensitive")->setChecked(c.ignoreCase);
        Select("lbKnownSpammers", 0);
        SetText("editSpammerAddress", c.text);
        Click(c.button);
        EXPECT_EQ(TakeBox(), c.box);
        const bool added = c.box.empty();
        EXPECT_EQ(dialog->SpammersChanged(), added);
        const bool replaced = added && std::string(c.button) == "btnSpammersChange";
        EXPECT_EQ(Entries("lbKnownSpammers"), replaced ? Lines{c.text}
                                              : added  ? (Lines{"casino", c.text})
                                                       : Lines{"casino"});
    }
}

TEST_F(WizardTest, SearchStringsKeepTheirCaseAndRefuseDuplicatesIgnoringCase) {
    WriteFile(ProgramFile("spammers.txt"), "cheap-pills.example\r\n");
    Open();
    SetText("editSpammerAddress", "CHEAP-pills.example");
    Click("btnSpammerAdd");
    EXPECT_EQ(TakeBox(), "An entry for CHEAP-pills.example\r\nalready exists in the list");
    EXPECT_EQ(ChangeFlags(), (Flags{false, false, false}));
    SetText("editSpammerAddress", "");
    Click("btnSpammerAdd"); // adds nothing, but counts as a change
    EXPECT_EQ(ChangeFlags(), (Flags{true, false, true}));
    SetText("editSpammerAddress", "Viagra");
    Click("btnSpammerAdd");
    EXPECT_EQ(Entries("lbKnownSpammers"), (Lines{"cheap-pills.example", "Viagra"}));

    Select("lbKnownSpammers", 1);
    Click("btnSpammersChange");
    EXPECT_EQ(TakeBox(), "An entry for Viagra\r\nalready exists in the list");
    SetText("editSpammerAddress", "Viagra!");
    Click("btnSpammersChange");
    EXPECT_EQ(Entries("lbKnownSpammers"), (Lines{"cheap-pills.example", "Viagra!"}));
    Select("lbKnownSpammers", 0);
    Click("btnSpammerDelete");
    Click("btnSpammerDelete"); // nothing is selected any more
    EXPECT_EQ(Entries("lbKnownSpammers"), Lines{"Viagra!"});
    EXPECT_EQ(Text("editSpammerAddress"), "cheap-pills.example");
    Select("lbKnownSpammers", 0);
    Select("lbKnownSpammers", -1);
    EXPECT_EQ(Text("editSpammerAddress"), "");
}

TEST_F(WizardTest, SavingWritesTheSettingsAndExactlyTheChangedLists) {
    const std::string addresses = "b@x\r\na@x\r\n";     // not in list order: a rewrite shows
    const std::string spammers = "zz\r\n\xe9t\xe9\r\n"; // Latin-1 bytes, kept as they are
    struct Case {
        const char* edit;
        const char* button;
        std::string goodAddr, spammersTxt;
    } const cases[] = {
        {nullptr, nullptr, addresses, spammers},
        {"editEmailAddress", "btnAddAddress", "a@x\r\nb@x\r\nc@x\r\n", spammers},
        {"editSpammerAddress", "btnSpammerAdd", addresses, "C@X\r\nzz\r\n\xe9t\xe9\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.goodAddr + c.spammersTxt);
        WriteFile(IniPath(), Settings("p\xe9w", "LogLevel=yes\r\nWidth=0x1A6\r\nUnknown=1\r\n"));
        WriteFile(ProgramFile("GoodAddr.txt"), addresses);
        WriteFile(ProgramFile("spammers.txt"), spammers);
        Open();
        if (c.edit) {
            SetText(c.edit, "C@X");
            Click(c.button);
        }
        Click("btnOk");
        // It closes once the password has been offered to the keyring (there is none here).
        EXPECT_TRUE(testsupport::WaitUntil([&] { return !dialog->isVisible(); }));
        EXPECT_EQ(TakeBox(), "") << "a password that stays where it was needs no word";
        EXPECT_EQ(ReadFile(ProgramFile("GoodAddr.txt")), c.goodAddr);
        EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), c.spammersTxt);
        EXPECT_EQ(ReadFile(IniPath()),
                  Settings("p\xe9w", "LogLevel=0\r\nWidth=0x1A6\r\nUnknown=1\r\n"
                                     "Strict=0\r\nNoCase=0\r\nQuarantine=1\r\n"
                                     "Security=0\r\nCAFile=\r\n"));
    }

    Open();
    SetText("editServerName", "m\xc3\xa4il.example:1110");
    SetText("editConfirm", "typo"); // never compared, never stored
    EXPECT_EQ(ChangeFlags(), (Flags{true, false, false}));
    Click("rbStrictCheck");
    Click("cbxCaseInsensitive");
    Click("cbxQuarantine");
    auto* security = Find<QComboBox>("cmbSecurity");
    EXPECT_EQ(security->currentIndex(), 0);
    security->setCurrentIndex(2);
    Press(Qt::Key_Return); // Enter presses OK
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(TakeBox(), secrets::kNoKeyringNotice);
    EXPECT_EQ(ReadFile(IniPath()), "[Config]\r\nServer=m\xc3\xa4il.example:1110\r\nLogin=jo\r\n"
                                   "Password=" +
                                       ScramblePassword("p\xe9w") +
                                       "\r\nLogLevel=0\r\nWidth=0x1A6\r\nUnknown=0\r\nStrict=1\r\n"
                                       "NoCase=1\r\nQuarantine=0\r\nSecurity=2\r\n"
                                       "CAFile=\r\n");
    EXPECT_TRUE(errors.empty());
}

TEST_F(WizardTest, CancelAsksOnlyAfterChangesAndTheCloseBoxNeverAsks) {
    enum How { CancelButton, EscKey, CloseBox };
    struct Case {
        How how;
        bool edited;
        int answer;
        bool asked, open, saved;
    } const cases[] = {
        {CancelButton, false, platform::mrYes, false, false, false},
        {EscKey, true, platform::mrYes, true, false, true},
        {CancelButton, true, platform::mrNo, true, false, false},
        {EscKey, true, platform::mrCancel, true, true, false},
        {CloseBox, true, platform::mrYes, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.how << " " << c.edited << " " << c.answer);
        std::filesystem::remove(IniPath());
        answers = {c.answer};
        Open();
        if (c.edited) SetText("editLoginName", "new");
        if (c.how == CancelButton) Click("btnCancel");
        if (c.how == EscKey) Press(Qt::Key_Escape);
        if (c.how == CloseBox) dialog->close();
        EXPECT_EQ(TakeBox(), c.asked ? "Save your changes first?" : "");
        if (!c.open) {
            EXPECT_TRUE(testsupport::WaitUntil([&] { return !dialog->isVisible(); }));
        }
        EXPECT_EQ(dialog->isVisible(), c.open);
        EXPECT_EQ(ReadFile(IniPath()) != "<missing>", c.saved);
        EXPECT_EQ(dialog->SettingsChanged(), c.edited) << "the flags outlive the dialog";
    }
}

TEST_F(WizardTest, AFailedSaveShowsTheErrorAndKeepsTheDialogAndTheFiles) {
    WriteFile(ProgramFile("GoodAddr.txt"), "b@x\r\n");
    chmod(ProgramFile("GoodAddr.txt").c_str(), 0444);
    Open();
    SetText("editEmailAddress", "a@x");
    Click("btnAddAddress");
    Click("btnOk");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ReadFile(ProgramFile("GoodAddr.txt")), "b@x\r\n");

    chmod(ProgramFile("GoodAddr.txt").c_str(), 0644);
    WriteFile(IniPath(), "");
    chmod(IniPath().c_str(), 0444);
    answers = {platform::mrYes};
    Click("btnCancel"); // Yes saves
    EXPECT_EQ(errors, (Lines{errors[0], "Unable to write to Morvandle.ini"}));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ReadFile(ProgramFile("GoodAddr.txt")), "a@x\r\nb@x\r\n");
}

TEST_F(WizardTest, PageKeysWrapAndHelpAsksForTopic30) {
    struct Case {
        int from, key;
        Qt::KeyboardModifiers modifiers;
        int to;
    } const cases[] = {
        {2, Qt::Key_PageDown, Qt::ControlModifier, 0},
        {0, Qt::Key_PageUp, Qt::ControlModifier, 2},
        {0, Qt::Key_PageDown, Qt::ControlModifier, 1},
        {1, Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier, 1},
        {1, Qt::Key_PageUp, Qt::ControlModifier | Qt::AltModifier, 1},
        {2, Qt::Key_Tab, Qt::ControlModifier, 0},
    };
    Open();
    auto* pages = Find<QTabWidget>("pgctrlPreferences");
    for (const Case& c : cases) {
        pages->setCurrentIndex(c.from);
        Press(c.key, c.modifiers);
        EXPECT_EQ(pages->currentIndex(), c.to) << c.from << " " << c.key << " " << c.modifiers;
    }
    Press(Qt::Key_F1);
    Click("btnHelp");
    EXPECT_EQ(helpContexts, (std::vector<int>{30, 30}));
}

} // namespace
