#include "AtomicFile.h"

#include "Exception.h"
#include "Paths.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr size_t kBufferSize = 64 * 1024;

[[noreturn]] void ThrowErrno() {
    throw InOutErrorFromErrno(errno);
}

std::string ResolveLink(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        ThrowErrno(); // a dangling link: refuse rather than replace the link itself
    return resolved;
}
} // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, std::optional<mode_t> mode)
    : target_(ResolveLink(path)) {
    // The replacement goes through the folder, which would get round the file's own
    // permissions: a file that may not be written, or that nobody may write (the read-only
    // attribute, which binds root too), keeps its content.
    struct stat st;
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && ((st.st_mode & 0222) == 0 || ::access(target_.c_str(), W_OK) != 0))
        throw InOutErrorFromErrno(EACCES);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temp_ = target_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode.value_or(0666));
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) ThrowErrno();
    }
    std::optional<mode_t> wanted = mode;
    if (!wanted && exists) wanted = st.st_mode & 07777;
    if (wanted && ::fchmod(fd_, *wanted) != 0) {
        int err = errno;
        ::close(fd_);
        ::unlink(temp_.c_str());
        throw InOutErrorFromErrno(err);
    }
    buffer_.reserve(kBufferSize);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
    }
}

void AtomicFileWriter::Flush() {
    std::string_view rest = buffer_;
    while (!rest.empty()) {
        ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowErrno();
        rest.remove_prefix(static_cast<size_t>(n));
    }
    buffer_.clear();
}

void AtomicFileWriter::Write(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > kBufferSize) Flush();
    buffer_.append(bytes);
}

void AtomicFileWriter::Commit() {
    Flush();
    if (::fsync(fd_) != 0) ThrowErrno();
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
        int err = errno;
        ::unlink(temp_.c_str());
        throw InOutErrorFromErrno(err);
    }
}

namespace {
// The process id in a name ending in ".tmp<PID>-<N>"; 0 for any other name.
pid_t TempFileOwner(std::string_view name) {
    const size_t mark = name.rfind(".tmp");
    if (mark == std::string_view::npos) return 0;
    const std::string_view rest = name.substr(mark + 4);
    const size_t dash = rest.find('-');
    auto digits = [](std::string_view s) {
        return !s.empty() && s.size() < 10 &&
               s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (dash == std::string_view::npos || !digits(rest.substr(0, dash)) ||
        !digits(rest.substr(dash + 1)))
        return 0;
    return static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
}
} // namespace

void RemoveStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = TempFileOwner(entry->d_name);
        if (owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
    }
    ::closedir(dir);
}

void CreateFolders(const std::string& folder, mode_t mode) {
    struct stat st;
    if (folder.empty() || ::stat(folder.c_str(), &st) == 0) return;
    const std::string parent = FolderOf(folder);
    if (parent != folder) CreateFolders(parent, mode);
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) ThrowErrno();
}

} // namespace platform
