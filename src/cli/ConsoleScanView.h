#pragma once

#include "screening/ScanView.h"

#include <cstdio>
#include <string>

// The scan's display on a terminal: every connection-status and activity text on a line of
// its own as it is set; the status bar text is kept for the last line. Every line starts with
// the account's prefix (empty with a single account).
class TConsoleScanView final : public screening::TScanView {
  public:
    TConsoleScanView(std::FILE* out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}

    void SetConnectionStatus(const std::string& text) override { Print(text); }
    void SetActivity(const std::string& text) override { Print(text); }
    void SetStatusBar(const std::string& text) override {
        statusBar_ = text.empty() ? text : prefix_ + text;
    }
    const std::string& StatusBar() const { return statusBar_; }

    // A terminal has no progress bar, buttons, menus or tray.
    void SetProgressPosition(int) override {}
    void SetProgressMax(int) override {}
    void StepProgress(int) override {}
    void SetScanCommandsEnabled(bool) override {}
    void SetScanModeChecks(bool, bool) override {}
    void SetTrayAnimation(bool) override {}
    bool HiddenToTray() const override { return false; }
    void HideToTray() override {}

  private:
    void Print(const std::string& text) {
        if (text.empty()) // the activity line is cleared when a scan starts
            return;
        // No flush: stdio buffers by line on a terminal, so each line shows as the scan goes,
        // and in blocks into a pipe or file, where one write per line would cost more than
        // the screening.
        std::fputs(prefix_.c_str(), out_);
        std::fputs(text.c_str(), out_);
        std::fputc('\n', out_);
    }

    std::FILE* out_;
    std::string prefix_;
    std::string statusBar_;
};
