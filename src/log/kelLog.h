#pragma once

#include "platform/Exception.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

enum TLogOption { logTimestamp, logSource, logCategory };

// A set of TLogOption held as bits (bit n is option n); written like {logTimestamp, logSource}.
class TLogOptions {
  public:
    constexpr TLogOptions() = default;
    constexpr TLogOptions(std::initializer_list<TLogOption> options) {
        for (const TLogOption option : options)
            bits_ |= 1u << option;
    }
    constexpr bool Contains(TLogOption option) const { return (bits_ & (1u << option)) != 0; }
    constexpr bool operator==(const TLogOptions&) const = default;

  private:
    unsigned bits_ = 0;
};

enum TLogArchiveMode { bkNone, bkSize, bkDaily, bkWeekly, bkMonthly };

// Invalid MaxSize or a failed write.
class ELogError : public platform::Exception {
  public:
    using Exception::Exception;
};

// A failed roll-over; a handler for ELogError receives it too.
class ELogBackupError : public ELogError {
  public:
    using ELogError::ELogError;
};

// Appends one line at a time to a log file: each line opens, writes and closes the file, so
// the file is complete on disk between lines. Before each line the file may roll over to a
// numbered backup, by size or by age.
class TkelLog {
  public:
    TkelLog() = default;
    // Rolls over if due, then appends an empty line that separates this run from the next.
    // Errors go to the program's error reporter: a destructor cannot pass them on.
    virtual ~TkelLog();
    TkelLog(const TkelLog&) = delete;
    TkelLog& operator=(const TkelLog&) = delete;

    TLogOptions Options() const { return options_; }
    void SetOptions(TLogOptions value);

    std::int32_t MaxSize() const { return maxSize_; }
    // Below 1024 raises ELogError "Invalid MaxSize value" and keeps the old value.
    void SetMaxSize(std::int32_t value);

    const std::string& LogFileName() const { return logFileName_; }
    // A change of letter case alone is ignored.
    void SetLogFileName(const std::string& value);

    const std::string& ArchiveDir() const { return archiveDir_; }
    // Stored without surrounding blanks and control characters and without one trailing "/".
    // Empty means: backups go beside the log file.
    void SetArchiveDir(const std::string& value);

    TLogArchiveMode ArchiveMode() const { return archiveMode_; }
    void SetArchiveMode(TLogArchiveMode value);

    // One backup instead of numbered ones: a roll-over moves the log to its name plus ".1"
    // (in ArchiveDir, else beside the log), replacing the backup of the roll-over before.
    bool SingleBackup() const { return singleBackup_; }
    void SetSingleBackup(bool value) { singleBackup_ = value; }

    const std::string& TimestampFormat() const { return timestampFormat_; }
    void SetTimestampFormat(const std::string& value) { timestampFormat_ = value; }

    // Fired when Options, MaxSize, LogFileName or ArchiveMode change.
    std::function<void(TkelLog& Sender)> OnChange;

    // Rolls over if due, then appends one line. Source and Category appear only with
    // logSource and logCategory in Options.
    void AddLine(const std::string& Source, const std::string& Category, const std::string& Text);

  protected:
    // Rolls the log file over to the next backup name when it is due.
    virtual void CheckArchive();
    virtual void DoChange();
    // Formats one line and writes it into the file AddLine has opened.
    virtual void WriteLine(const std::string& Source, const std::string& Category,
                           const std::string& Text);

  private:
    bool RollOverDue() const;
    std::string BackupName() const;
    void Write(const std::string& bytes);
    const std::string& Timestamp();

    // Holds the log file open for the length of one write, closed on every path.
    class OpenedFile {
      public:
        explicit OpenedFile(TkelLog& log);
        ~OpenedFile();
        OpenedFile(const OpenedFile&) = delete;
        OpenedFile& operator=(const OpenedFile&) = delete;

      private:
        TkelLog& log_;
    };

    TLogOptions options_{logTimestamp};
    std::int32_t maxSize_ = 524288;
    std::string logFileName_;
    std::string archiveDir_;
    TLogArchiveMode archiveMode_ = bkSize;
    bool singleBackup_ = false;
    std::string timestampFormat_ = "dd/mmm/yyyy hh:nn:ss ";
    int file_ = -1; // open only while one line is written
    // The timestamp text of the last line and the second and format it was made for: the
    // local-time conversion and formatting cost more than the line's open, write and close.
    std::string stampText_;
    std::int64_t stampSecond_ = 0;
    std::string stampFormat_;
    bool stampValid_ = false;
};
