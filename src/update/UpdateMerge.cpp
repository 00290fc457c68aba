#include "UpdateMerge.h"

#include "DuplicateIndex.h"
#include "UpdateFile.h"

#include "config/OrdinaryMail.h"
#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "platform/Exception.h"
#include "platform/FileInfo.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace update {

namespace {
// The hourglass for the long part; restored on every way out, errors included.
class BusyCursor {
  public:
    explicit BusyCursor(TUpdateView& view) : view_(view) { view_.SetBusyCursor(true); }
    ~BusyCursor() { Restore(); }
    void Restore() {
        if (std::exchange(busy_, false)) view_.SetBusyCursor(false);
    }

  private:
    TUpdateView& view_;
    bool busy_ = true;
};

constexpr int kSaveAttempts = 5;

// Saves the list grown from firstAdded on. When another program changed spammers.txt since
// it was read (a second merge, the preferences dialog), the file is read again and this
// run's additions are checked against it once more, so that neither writer's entries are
// lost and the counts say what was really added.
void SaveGrownList(TConfigData& config, std::size_t firstAdded, TkelLog& log,
                   TMergeResult& result) {
    for (int attempt = 1;; ++attempt) {
        if (auto saved = SaveListFile(SpammerListPath(), config.SpammerList, config.SpammerFile)) {
            config.SpammerFile = *saved;
            return;
        }
        if (attempt == kSaveAttempts)
            throw platform::Exception("spammers.txt keeps being changed by another program; "
                                      "the update was not saved.");
        log.AddLine("", "",
                    "spammers.txt was changed by another program; the additions are checked "
                    "again against it");
        TListFileContent fresh = ReadListFile(SpammerListPath());
        std::vector<std::string> added(config.SpammerList.begin() +
                                           static_cast<std::ptrdiff_t>(firstAdded),
                                       config.SpammerList.end());
        config.SpammerList = std::move(fresh.entries);
        config.SpammerFile = fresh.fingerprint;
        config.ListsChanged();
        firstAdded = config.SpammerList.size();
        DuplicateIndex index(config.SpammerList);
        for (const std::string& line : added) {
            if (index.Covers(line)) {
                if (config.LogLevel) log.AddLine("", "", "Duplicate skipped: " + line);
                --result.additions;
                ++result.duplicates;
            } else {
                config.SpammerList.push_back(line);
                config.ListsChanged();
                index.Add(line);
            }
        }
    }
}
} // namespace

TMergeResult MergeUpdateFile(const std::string& path, TUpdateSource source, TConfigData& config,
                             TkelLog& log, TUpdateView& view) {
    TMergeResult result;
    view.SetActivity(source == usUpdateServer ? "Locating downloaded file..."
                                              : "Locating update file...");
    std::optional<QDateTime> written = platform::FileLastWriteTime(path);
    if (!written) {
        view.ShowError("Unable to locate update file:\r\n" + path);
        view.EnableStartAndCancel();
        return result;
    }
    // Refused before it is read: a huge file would cost its size several times over in
    // memory, and as much again in the list and the log.
    const std::int64_t size = platform::FileSize(path).value_or(0);
    if (size > config.MaxUpdateSize) {
        view.ShowError(UpdateFileTooLargeText(size, config.MaxUpdateSize));
        view.EnableStartAndCancel();
        return result;
    }
    const std::string stamp = UpdateTimestampText(*written);
    if (stamp == config.Update &&
        !view.Confirm("The current update file timestamp matches your\r\nlast update. if "
                      "duplicate entries are found in your\r\ncurrent spammers file, they will "
                      "be rejected. Any\r\nnew additions will be added.\r\n\r\nProceed with "
                      "update?")) {
        view.EnableStartAndCancel();
        return result;
    }
    config.Update = stamp;
    view.SetActivity("Updating local spammers list...Please Wait...");
    BusyCursor cursor(view);

    const TUpdateLines lines = ReadUpdateFile(path, config.MaxUpdateSize);
    if (lines.NulOffset())
        log.AddLine("", "",
                    "Update file ends at byte " + std::to_string(*lines.NulOffset()) +
                        ": a NUL byte; " + std::to_string(lines.BytesAfterNul()) +
                        " bytes after it ignored");
    const std::size_t firstAdded = config.SpammerList.size();
    view.StartProgress(static_cast<int>(lines.size()));
    DuplicateIndex index(config.SpammerList);
    for (const std::string& line : lines) {
        if (MatchText(line).empty()) {
            // Only blanks: as an entry it could never match.
        } else if (IsOverBroadEntry(line, config.NoCase)) {
            // The search would leave it out: ordinary mail contains it too often.
            log.AddLine("", "", "Update line skipped (it occurs in ordinary mail): " + line);
        } else if (index.Covers(line)) {
            if (config.LogLevel) log.AddLine("", "", "Duplicate skipped: " + line);
            ++result.duplicates;
        } else {
            log.AddLine("", "", "New Addition: " + line);
            config.SpammerList.push_back(line);
            config.ListsChanged();
            index.Add(line);
            ++result.additions;
        }
        view.StepProgress();
    }

    view.SetActivity("Saving new spammers list...");
    SaveGrownList(config, firstAdded, log, result);
    WriteConfigString("Update", stamp);
    if (view.Confirm("Delete the update file?\r\n(" + path + ")")) {
        view.SetActivity("Removing update file...");
        std::remove(path.c_str()); // a file that stays is harmless
    }
    view.SetActivity("Update complete! See log for details.");
    const std::string summary = "Update Summary: " + std::to_string(result.duplicates) +
                                " Duplicates; " + std::to_string(result.additions) + " Additions";
    log.AddLine("", "", summary);
    result.merged = true;
    cursor.Restore();
    view.ShowInformation(summary);
    return result;
}

} // namespace update
