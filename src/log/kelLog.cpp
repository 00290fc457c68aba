#include "kelLog.h"

#include "platform/Clock.h"
#include "platform/DateTimeFormat.h"
#include "platform/ErrorReport.h"
#include "platform/FileInfo.h"
#include "platform/Paths.h"
#include "platform/Trim.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Letter case counts only where both names read as UTF-8 text: every byte that is no valid
// UTF-8 decodes to the same replacement character, so two different 8-bit names would
// otherwise pass for one.
bool SameIgnoringCase(const std::string& a, const std::string& b) {
    const QString textA = QString::fromStdString(a);
    const QString textB = QString::fromStdString(b);
    if (textA.toStdString() != a || textB.toStdString() != b) return a == b;
    return textA.compare(textB, Qt::CaseInsensitive) == 0;
}

// Rename, or where that cannot work (another file system) copy and delete. Leaves no second
// copy behind on failure, so the next attempt starts from the same state. Replaces a file
// of the target's name, as rename does.
bool MoveFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    const QString source = QString::fromStdString(from);
    const QString target = QString::fromStdString(to);
    QFile::remove(target);
    if (!QFile::copy(source, target)) return false;
    if (QFile::remove(source)) return true;
    QFile::remove(target);
    return false;
}

} // namespace

TkelLog::~TkelLog() {
    platform::Guarded([this] {
        if (!platform::FileExists(logFileName_)) return;
        CheckArchive();
        if (!platform::FileExists(logFileName_)) return;
        const OpenedFile file(*this);
        Write("\r\n");
    });
}

void TkelLog::SetOptions(TLogOptions value) {
    if (value == options_) return;
    options_ = value;
    DoChange();
}

void TkelLog::SetMaxSize(std::int32_t value) {
    if (value == maxSize_) return;
    if (value < 1024) throw ELogError("Invalid MaxSize value");
    maxSize_ = value;
    DoChange();
}

void TkelLog::SetLogFileName(const std::string& value) {
    if (SameIgnoringCase(value, logFileName_)) return;
    logFileName_ = value;
    DoChange();
}

void TkelLog::SetArchiveDir(const std::string& value) {
    if (value == archiveDir_) return;
    archiveDir_ = platform::Trimmed(value);
    if (!archiveDir_.empty() && archiveDir_.back() == '/') archiveDir_.pop_back();
}

void TkelLog::SetArchiveMode(TLogArchiveMode value) {
    if (value == archiveMode_) return;
    archiveMode_ = value;
    DoChange();
}

void TkelLog::DoChange() {
    if (OnChange) OnChange(*this);
}

void TkelLog::AddLine(const std::string& Source, const std::string& Category,
                      const std::string& Text) {
    CheckArchive();
    const OpenedFile file(*this);
    WriteLine(Source, Category, Text);
}

void TkelLog::WriteLine(const std::string& Source, const std::string& Category,
                        const std::string& Text) {
    std::string line;
    if (options_.Contains(logSource)) line += Source + ": ";
    if (options_.Contains(logTimestamp)) line += Timestamp();
    if (options_.Contains(logCategory)) line += "[" + Category + "] ";
    line += Text;
    line += "\r\n";
    Write(line);
}

const std::string& TkelLog::Timestamp() {
    const qint64 ms = platform::NowMSecsSinceEpoch();
    const std::int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (!stampValid_ || second != stampSecond_ || timestampFormat_ != stampFormat_) {
        stampText_ = platform::FormatDateTime(timestampFormat_, platform::Now());
        stampSecond_ = second;
        stampFormat_ = timestampFormat_;
        stampValid_ = true;
    }
    return stampText_;
}

bool TkelLog::RollOverDue() const {
    switch (archiveMode_) {
    case bkNone:
        return false;
    case bkSize: {
        const auto size = platform::FileSize(logFileName_);
        return size && *size >= maxSize_;
    }
    case bkDaily:
    case bkWeekly:
    case bkMonthly:
        break;
    }
    const auto written = platform::FileLastWriteTime(logFileName_);
    if (!written) return false;
    const QDate today = platform::Now().date();
    const qint64 days = std::max<qint64>(0, written->date().daysTo(today));
    if (archiveMode_ == bkDaily) return days >= 1;
    if (archiveMode_ == bkWeekly) return days >= 7;
    return days >= today.daysInMonth();
}

std::string TkelLog::BackupName() const {
    std::string folder = archiveDir_.empty() ? platform::FolderOf(logFileName_) : archiveDir_;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    if (singleBackup_) return folder + platform::FileNameOf(logFileName_) + ".1";
    const std::string stem = folder + platform::FormatDateTime("mm-yyyy", platform::Now()) + "-" +
                             platform::FileNameOf(logFileName_) + ".";
    for (unsigned long counter = 1;; ++counter) {
        const std::string name = stem + std::to_string(counter);
        if (!platform::PathExists(name)) return name;
    }
}

void TkelLog::CheckArchive() {
    if (!RollOverDue()) return;
    // A folder that cannot be made shows up as a failed move below.
    if (!archiveDir_.empty() && !platform::DirectoryExists(archiveDir_))
        QDir().mkdir(QString::fromStdString(archiveDir_));
    if (!MoveFile(logFileName_, BackupName())) throw ELogBackupError("Error saving log backup");
}

// Appends to an existing file, else creates it empty.
TkelLog::OpenedFile::OpenedFile(TkelLog& log) : log_(log) {
    // Private: the log names the login and the sender and subject of every deleted message.
    log_.file_ = ::open(log_.logFileName_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (log_.file_ < 0) throw platform::InOutErrorFromErrno(errno);
}

TkelLog::OpenedFile::~OpenedFile() {
    ::close(log_.file_);
    log_.file_ = -1;
}

void TkelLog::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw ELogError("Error writing log file (" + std::to_string(errno) + ")");
        }
        done += static_cast<std::size_t>(n);
    }
}
