#pragma once

#include "platform/ScopedHandler.h"

#include <functional>
#include <string>

namespace platform {

// Message boxes and help requests of the windows go through these replaceable functions:
// the desktop program installs handlers that show real boxes and help pages, tests install
// handlers that record the request and give the answer the test wants. Nothing here needs
// widgets, so every window's code can ask without knowing who answers.

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons, combined with |.
enum TMsgDlgBtn : unsigned {
    mbYes = 1u << 0,
    mbNo = 1u << 1,
    mbOK = 1u << 2,
    mbCancel = 1u << 3,
    mbAbort = 1u << 4,
    mbRetry = 1u << 5,
    mbIgnore = 1u << 6,
    mbHelp = 1u << 7,
};

// The answers, with the toolkit's numbers (a box closed without a button gives mrCancel).
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
};

struct MessageBoxRequest {
    std::string text; // UTF-8
    TMsgDlgType type = TMsgDlgType::mtInformation;
    unsigned buttons = mbOK;
    int helpContext = 0;
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Asks the installed handler; without one the request is written to stderr and the answer
// is the first of Cancel, No, OK present among the buttons (the answer that changes nothing).
int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int helpContext = 0);

// Replaces the handler; returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Help: a topic by its context number, or the contents page.
struct HelpRequest {
    bool contents = false;
    int context = 0;
};
using HelpHandler = std::function<void(const HelpRequest&)>;

void ShowHelpContext(int context);
void ShowHelpContents();
HelpHandler SetHelpHandler(HelpHandler handler);

using ScopedMessageBoxHandler = ScopedHandler<MessageBoxHandler, SetMessageBoxHandler>;
using ScopedHelpHandler = ScopedHandler<HelpHandler, SetHelpHandler>;

} // namespace platform
