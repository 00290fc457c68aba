#include "platform/Dialogs.h"

#include <gtest/gtest.h>

using namespace platform;

// Without a handler nothing may be confirmed on the user's behalf; a guard puts the
// previous handler back.
TEST(Dialogs, UnansweredBoxesChangeNothingAndGuardsRestore) {
    EXPECT_EQ(MessageDlg("q", TMsgDlgType::mtConfirmation, mbYes | mbNo | mbCancel), mrCancel);
    EXPECT_EQ(MessageDlg("q", TMsgDlgType::mtConfirmation, mbYes | mbNo), mrNo);
    EXPECT_EQ(MessageDlg("i", TMsgDlgType::mtInformation, mbOK), mrOk);
    {
        std::string asked;
        ScopedMessageBoxHandler box([&](const MessageBoxRequest& r) {
            asked = r.text;
            return int(mrYes);
        });
        EXPECT_EQ(MessageDlg("Clear?", TMsgDlgType::mtConfirmation, mbYes | mbNo), mrYes);
        EXPECT_EQ(asked, "Clear?");
        int topic = 0;
        ScopedHelpHandler help([&](const HelpRequest& r) { topic = r.contents ? -1 : r.context; });
        ShowHelpContext(30);
        EXPECT_EQ(topic, 30);
        ShowHelpContents();
        EXPECT_EQ(topic, -1);
    }
    EXPECT_EQ(MessageDlg("q", TMsgDlgType::mtConfirmation, mbYes | mbNo), mrNo);
}
