#include "Dialogs.h"

#include <cstdio>
#include <utility>

namespace platform {

namespace {
MessageBoxHandler& BoxHandler() {
    static MessageBoxHandler handler;
    return handler;
}

HelpHandler& HelpHandlerRef() {
    static HelpHandler handler;
    return handler;
}

int HarmlessAnswer(unsigned buttons) {
    if (buttons & mbCancel) return mrCancel;
    if (buttons & mbNo) return mrNo;
    return mrOk;
}

void AskHelp(const HelpRequest& request) {
    if (HelpHandlerRef()) {
        HelpHandlerRef()(request);
    } else {
        std::fprintf(stderr, "Help is not available here\n");
    }
}
} // namespace

int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int helpContext) {
    if (BoxHandler()) return BoxHandler()({text, type, buttons, helpContext});
    std::fprintf(stderr, "%s\n", text.c_str());
    return HarmlessAnswer(buttons);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(BoxHandler(), std::move(handler));
}

void ShowHelpContext(int context) { AskHelp({false, context}); }

void ShowHelpContents() { AskHelp({true, 0}); }

HelpHandler SetHelpHandler(HelpHandler handler) {
    return std::exchange(HelpHandlerRef(), std::move(handler));
}

} // namespace platform
