#pragma once

#include "update/UpdateMerge.h"

#include <cstdio>
#include <string>

// The merge on a terminal: activity texts on lines of their own, the summary as the last
// line. Nobody is there to answer: a merge of the same file again goes ahead (duplicates are
// skipped anyway), and the user's file is never deleted.
class TConsoleUpdateView final : public update::TUpdateView {
  public:
    explicit TConsoleUpdateView(std::FILE* out) : out_(out) {}

    void SetActivity(const std::string& text) override { Print(text); }
    void StartProgress(int) override {}
    void StepProgress() override {}
    void SetBusyCursor(bool) override {}
    void EnableStartAndCancel() override {}
    bool Confirm(const std::string& text) override {
        const bool deleting = text.rfind("Delete", 0) == 0;
        if (!deleting) Print("The update file's time matches the last update: merging anyway");
        return !deleting;
    }
    void ShowError(const std::string& text) override {
        std::fflush(out_);
        std::fprintf(stderr, "%s\n", OneLine(text).c_str());
    }
    void ShowInformation(const std::string& text) override { Print(text); }

  private:
    // Message-box texts break their lines with CR LF.
    static std::string OneLine(std::string text) {
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.replace(at, 2, " ");
        return text;
    }
    void Print(const std::string& text) {
        std::fputs(OneLine(text).c_str(), out_);
        std::fputc('\n', out_);
    }

    std::FILE* out_;
};
