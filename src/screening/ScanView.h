#pragma once

#include "screening/HeaderRules.h"

#include <string>

namespace screening {

// Everything a scan shows. The main window implements it with its widgets,
// morvandle-check on the console, tests with a recorder.
class TScanView : public TProgressDisplay {
  public:
    // The "Connection Status:" line.
    virtual void SetConnectionStatus(const std::string& text) = 0;
    // The "Current Activity:" line.
    virtual void SetActivity(const std::string& text) = 0;
    // Panel 0 of the status bar.
    virtual void SetStatusBar(const std::string& text) = 0;
    // Where a running check is in the mailbox ("Message 51 of 500"), shown in the status bar
    // until the result replaces it; empty when a check starts, which takes the previous result
    // out of sight.
    virtual void SetMailboxProgress(const std::string&) {}
    // What ended the last check in failure, in plain words beside the status bar's result;
    // empty when a check starts and when it ends well. A view without room for it ignores it.
    virtual void SetFailure(const std::string&) {}
    // Both scan menu items and both scan buttons.
    virtual void SetScanCommandsEnabled(bool enabled) = 0;
    // Check marks of the "Check only" and "Check and Eat" menu items.
    virtual void SetScanModeChecks(bool checkOnly, bool checkAndEat) = 0;
    virtual void SetTrayAnimation(bool animate) = 0;
    virtual bool HiddenToTray() const = 0;
    virtual void HideToTray() = 0;
};

} // namespace screening
