#include "UpdateMerge.h"

#include "DuplicateIndex.h"
#include "UpdateFile.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "platform/FileInfo.h"
#include "platform/MessagePump.h"

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

    const std::vector<std::string> lines = ReadUpdateFile(path);
    view.StartProgress(static_cast<int>(lines.size()));
    DuplicateIndex index(config.SpammerList, [] { platform::ProcessMessagesSliced(); });
    for (const std::string& line : lines) {
        if (index.Covers(line)) {
            if (config.LogLevel) log.AddLine("", "", "Duplicate skipped: " + line);
            ++result.duplicates;
        } else {
            log.AddLine("", "", "New Addition: " + line);
            config.SpammerList.push_back(line);
            config.ListsChanged();
            index.Add(line);
            ++result.additions;
        }
        platform::ProcessMessagesSliced();
        view.StepProgress();
    }

    view.SetActivity("Saving new spammers list...");
    SaveListFile(SpammerListPath(), config.SpammerList, true);
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
