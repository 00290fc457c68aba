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
    // Both scan menu items and both scan buttons.
    virtual void SetScanCommandsEnabled(bool enabled) = 0;
    // Check marks of the "Check only" and "Check and Eat" menu items.
    virtual void SetScanModeChecks(bool checkOnly, bool checkAndEat) = 0;
    virtual void SetTrayAnimation(bool animate) = 0;
    virtual bool HiddenToTray() const = 0;
    virtual void HideToTray() = 0;
};

} // namespace screening
