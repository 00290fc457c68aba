#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Replaces a file as a whole: the data goes to a temporary file in the same folder, which
// takes the file's place only in Commit(). A crash, a full disk or an exception before that
// leaves the old file as it was; the temporary file is removed unless committed.
// A symbolic link is followed, so the file it points to is the one replaced. A file without
// any write permission is refused, like one the caller may not write.
// Every failure throws EInOutError.
class AtomicFileWriter {
  public:
    // mode: the permissions of the new file. Without one, an existing file keeps its own and
    // a new file gets the usual ones (0666 less the umask).
    explicit AtomicFileWriter(const std::string& path, std::optional<mode_t> mode = {});
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void Write(std::string_view bytes);
    // Flushes, syncs and renames the temporary file onto the target.
    void Commit();

  private:
    void Flush();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    std::string buffer_;
};

// Removes the temporary files that writers in the folder left behind when they were killed
// before Commit: files named "<target>.tmp<PID>-<N>" whose process no longer exists. A file of
// a process that still runs is left alone, whoever it is. Failures are ignored.
void RemoveStaleTempFiles(const std::string& folder);

// Creates the folder and any missing parents with the given permissions; throws EInOutError.
void CreateFolders(const std::string& folder, mode_t mode);

} // namespace platform
