#include "PasswordPrompt.h"

#include <termios.h>
#include <unistd.h>

namespace {

// One line without its end (LF or CR LF); nothing at the end of input.
std::optional<std::string> ReadLine(std::FILE* in) {
    std::string line;
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (c == EOF && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Echo off for as long as it lives, restored on every path.
class NoEcho {
  public:
    explicit NoEcho(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~NoEcho() {
        if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

std::optional<std::string> Ask(std::FILE* in, const char* prompt) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::optional<std::string> line;
    {
        NoEcho quiet(::fileno(in));
        line = ReadLine(in);
    }
    std::fputs("\n", stderr); // the user's Enter was not echoed
    return line;
}

} // namespace

std::optional<std::string> ReadNewPassword(std::FILE* in) {
    if (!::isatty(::fileno(in))) {
        std::optional<std::string> line = ReadLine(in);
        if (!line) std::fputs("No password on standard input\n", stderr);
        return line;
    }
    const std::optional<std::string> first = Ask(in, "New password: ");
    if (!first) return std::nullopt;
    const std::optional<std::string> again = Ask(in, "Repeat the password: ");
    if (first != again) {
        std::fputs("The passwords do not match; nothing was stored\n", stderr);
        return std::nullopt;
    }
    return first;
}
