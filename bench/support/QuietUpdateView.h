#pragma once

#include "update/UpdateMerge.h"

#include <string>

namespace benchsupport {

// The merge's view for a benchmark: it goes on when the time stamp matches, keeps the update
// file for the next round, and keeps the text of the last box (the summary or the error).
struct QuietUpdateView : update::TUpdateView {
    std::string shown;
    void SetActivity(const std::string&) override {}
    void StartProgress(int) override {}
    void StepProgress() override {}
    void SetBusyCursor(bool) override {}
    void EnableStartAndCancel() override {}
    bool Confirm(const std::string& text) override { return text.rfind("Delete", 0) != 0; }
    void ShowError(const std::string& text) override { shown = text; }
    void ShowInformation(const std::string& text) override { shown = text; }
};

} // namespace benchsupport
