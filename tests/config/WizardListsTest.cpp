// The two list pages of the preferences dialog: adding, changing and deleting entries.
#include "WizardFixture.h"

#include <QGroupBox>
#include <QRadioButton>

namespace {

using Lines = std::vector<std::string>;

class WizardListsTest : public WizardFixture {
  protected:
    bool Enabled(const char* control) { return Find<QWidget>(control)->isEnabled(); }

    // The one box shown since the last call, as "text|type"; empty when none was shown.
    std::string TakeBox() {
        EXPECT_LE(boxes.size(), 1u);
        std::string box;
        if (!boxes.empty()) {
            EXPECT_EQ(boxes[0].type, platform::TMsgDlgType::mtInformation);
            EXPECT_EQ(boxes[0].buttons, platform::mbOK);
            box = boxes[0].text;
        }
        boxes.clear();
        return box;
    }
};

TEST_F(WizardListsTest, AddressesAreLowerCasedOnAddKeptOnChangeAndNeverDuplicated) {
    Open();
    EXPECT_FALSE(Enabled("btnAddAddress"));
    SetText("editEmailAddress", "Me@Home.Example");
    EXPECT_TRUE(Enabled("btnAddAddress"));
    Click("btnAddAddress");
    EXPECT_EQ(Entries("lbAddresses"), Lines{"me@home.example"});
    EXPECT_EQ(Text("editEmailAddress"), "");
    EXPECT_EQ(dialog->focusWidget(), Find<QWidget>("editEmailAddress"));
    EXPECT_FALSE(Enabled("btnAddAddress"));
    EXPECT_TRUE(Enabled("rgAddrCheckType"));
    EXPECT_TRUE(Enabled("rbStrictCheck"));

    SetText("editEmailAddress", "ME@home.EXAMPLE");
    Click("btnAddAddress");
    EXPECT_EQ(TakeBox(), "The address me@home.example\r\nalready exists");
    EXPECT_EQ(Text("editEmailAddress"), "me@home.example");
    EXPECT_EQ(Entries("lbAddresses"), Lines{"me@home.example"});

    SetText("editEmailAddress", "\xc3\x89t\xc3\xa9@Example.org");
    Click("btnAddAddress");
    SetText("editEmailAddress", "b@x.example");
    Click("btnAddAddress");
    EXPECT_EQ(TakeBox(), "");
    EXPECT_EQ(Entries("lbAddresses"),
              (Lines{"b@x.example", "me@home.example", "\xc3\xa9t\xc3\xa9@example.org"}));

    Select("lbAddresses", 0);
    EXPECT_EQ(Text("editEmailAddress"), "b@x.example");
    EXPECT_TRUE(Enabled("btnChange"));
    EXPECT_TRUE(Enabled("btnDeleteAddress"));
    Click("btnChange"); // the selected entry itself counts
    EXPECT_EQ(TakeBox(), "The address b@x.example\r\nalready exists");
    SetText("editEmailAddress", "\xc3\x89T\xc3\x89@example.ORG");
    Click("btnChange");
    EXPECT_EQ(TakeBox(), "The address \xc3\x89T\xc3\x89@example.ORG\r\nalready exists");
    SetText("editEmailAddress", "B@Y.example");
    Click("btnChange");
    EXPECT_EQ(TakeBox(), "");
    EXPECT_EQ(Entries("lbAddresses"),
              (Lines{"B@Y.example", "me@home.example", "\xc3\xa9t\xc3\xa9@example.org"}));

    Select("lbAddresses", 1);
    Select("lbAddresses", -1);
    EXPECT_EQ(Text("editEmailAddress"), "");
    EXPECT_FALSE(Enabled("btnChange"));
    EXPECT_FALSE(Enabled("btnDeleteAddress"));
}

TEST_F(WizardListsTest, DeletingTheLastAddressDisablesTheCheckingChoice) {
    WriteFile(ProgramFile("GoodAddr.txt"), "one@x\r\ntwo@x\r\n");
    Open();
    Click("rbStdCheck");
    for (const char* expectedLeft : {"two@x", ""}) {
        Select("lbAddresses", 0);
        Click("btnDeleteAddress");
        EXPECT_EQ(Entries("lbAddresses"), (expectedLeft[0] ? Lines{expectedLeft} : Lines{}));
        EXPECT_EQ(Text("editEmailAddress"), expectedLeft[0] ? "one@x" : "two@x")
            << "the deleted text stays in the edit";
        EXPECT_EQ(dialog->focusWidget(), Find<QWidget>("editEmailAddress"));
        EXPECT_FALSE(Enabled("btnDeleteAddress"));
    }
    EXPECT_FALSE(Enabled("rgAddrCheckType"));
    EXPECT_FALSE(Enabled("rbStdCheck"));
    EXPECT_TRUE(Find<QRadioButton>("rbStdCheck")->isChecked());

    SetText("editEmailAddress", "again@x");
    Click("btnAddAddress");
    EXPECT_TRUE(Enabled("rgAddrCheckType"));
}

TEST_F(WizardListsTest, SearchStringsKeepTheirCaseAndRefuseDuplicatesIgnoringCase) {
    WriteFile(ProgramFile("spammers.txt"), "cheap-pills.example\r\n");
    Open();
    SetText("editSpammerAddress", "CHEAP-pills.EXAMPLE");
    Click("btnSpammerAdd");
    EXPECT_EQ(TakeBox(), "An entry for CHEAP-pills.EXAMPLE\r\nalready exists in the list");
    EXPECT_EQ(Text("editSpammerAddress"), "CHEAP-pills.EXAMPLE");

    SetText("editSpammerAddress", "Viagra");
    Click("btnSpammerAdd");
    Click("btnSpammerAdd"); // empty: adds nothing, refuses nothing
    EXPECT_EQ(TakeBox(), "");
    EXPECT_EQ(Text("editSpammerAddress"), "");
    EXPECT_EQ(dialog->focusWidget(), Find<QWidget>("editSpammerAddress"));
    EXPECT_EQ(Entries("lbKnownSpammers"), (Lines{"cheap-pills.example", "Viagra"}));

    Select("lbKnownSpammers", 1);
    EXPECT_EQ(Text("editSpammerAddress"), "Viagra");
    Click("btnSpammersChange");
    EXPECT_EQ(TakeBox(), "An entry for Viagra\r\nalready exists in the list");
    SetText("editSpammerAddress", "");
    Click("btnSpammersChange"); // an empty entry is allowed here
    EXPECT_EQ(Entries("lbKnownSpammers"), (Lines{"", "cheap-pills.example"}));
    Click("btnSpammerAdd");
    EXPECT_EQ(TakeBox(), "An entry for \r\nalready exists in the list");

    Select("lbKnownSpammers", 1);
    Click("btnSpammerDelete");
    EXPECT_EQ(Entries("lbKnownSpammers"), Lines{""});
    EXPECT_EQ(Text("editSpammerAddress"), "cheap-pills.example");
    Click("btnSpammerDelete"); // nothing selected any more
    EXPECT_EQ(Entries("lbKnownSpammers"), Lines{""});
    Select("lbKnownSpammers", 0);
    Select("lbKnownSpammers", -1);
    EXPECT_EQ(Text("editSpammerAddress"), "");
}

} // namespace
