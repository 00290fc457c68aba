#pragma once

// Framing of a line-oriented protocol, shared by the POP3 and FTP clients: reply lines cut
// out of the received bytes with a maximum line length, command lines framed with CR LF, and
// the texts of the command trace.

#include <cstddef>
#include <string>

class TLineFramer {
  public:
    // maxLine: the longest line taken (without its end); loneLfEnds: whether a LF without CR
    // before it also ends a line (some servers send them).
    TLineFramer(std::size_t maxLine, bool loneLfEnds) : max_(maxLine), loneLf_(loneLfEnds) {}

    // How many bytes the next read may add: enough to complete one line of the maximum
    // length, at most `chunk`.
    std::size_t Room(std::size_t chunk) const;
    void Append(const char* data, std::size_t n);
    // Takes the next complete line (without its end) out of the buffer.
    bool NextLine(std::string& line);
    // The unfinished line can no longer end within the maximum length (asked once the
    // complete lines are taken).
    bool Overflowing() const;
    void Clear();
    void SetMaxLine(std::size_t maxLine) { max_ = maxLine; }

    // A command line with its CR LF.
    static std::string Frame(const std::string& command) { return command + "\r\n"; }
    // Whether a text would end the command line early and start another one (a NUL ends it
    // on servers written in C).
    static bool HasLineBreak(const std::string& text);
    // The text on one line: each run of CR, LF and NUL becomes one blank, so a server's text
    // or an error message cannot start a line of its own in a log.
    static std::string OneLine(const std::string& text);
    static std::string TraceCommand(const std::string& command) { return "> " + command; }
    static std::string TraceReply(const std::string& line) { return "< " + line; }

  private:
    std::size_t max_;
    bool loneLf_;
    // Received bytes; start_ is where the untaken part begins, scan_ where the search for the
    // next line end resumes (a long line is not searched again on every read).
    std::string buf_;
    std::size_t start_ = 0;
    std::size_t scan_ = 0;
};
