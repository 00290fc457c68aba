#pragma once

#include <string>

class TConfigData;
class TkelLog;

namespace update {

// Where the update file came from: the dialog's first or second choice.
enum TUpdateSource : int { usUpdateServer = 0, usLocalFile = 1 };

// Everything the merge shows or asks. The update dialog implements it with its widgets and
// message boxes, morvandle-check on the console, tests with a recorder.
class TUpdateView {
  public:
    virtual ~TUpdateView() = default;
    virtual void SetActivity(const std::string& text) = 0;
    // The progress bar: position 0 and this maximum, then single steps.
    virtual void StartProgress(int max) = 0;
    virtual void StepProgress() = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // Start and Cancel, disabled by the caller for the merge, enabled again when it stops
    // early.
    virtual void EnableStartAndCancel() = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Confirm(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;
    virtual void ShowInformation(const std::string& text) = 0;
};

struct TMergeResult {
    bool merged = false; // false: the file was missing or the user declined
    int duplicates = 0;
    int additions = 0;
};

// Adds to the spammers list every line of the update file that no entry covers (an entry
// covers a line when it occurs inside it, letters A-Z folded), saves spammers.txt, records
// the file's time as the last update and offers to delete the file. Read and write errors
// are thrown to the caller; spammers.txt is replaced whole or not at all.
TMergeResult MergeUpdateFile(const std::string& path, TUpdateSource source, TConfigData& config,
                             TkelLog& log, TUpdateView& view);

} // namespace update
