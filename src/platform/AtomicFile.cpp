#include "AtomicFile.h"

#include "Exception.h"
#include "Paths.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
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

void CreateFolders(const std::string& folder, mode_t mode) {
    struct stat st;
    if (folder.empty() || ::stat(folder.c_str(), &st) == 0) return;
    const std::string parent = FolderOf(folder);
    if (parent != folder) CreateFolders(parent, mode);
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) ThrowErrno();
}

} // namespace platform
