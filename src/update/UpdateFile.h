#pragma once

#include <QDateTime>
#include <QLocale>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace update {

// The lines of an update file. A line ends at CR LF, at a lone LF or at a lone CR; a NUL
// ends the text; a line end at the very end makes no extra empty line. Nothing is trimmed:
// every line, the empty ones too, is an entry. Only the file's bytes are held: each line is
// cut out when the loop comes to it, so a large file costs its size and no more.
class TUpdateLines {
  public:
    explicit TUpdateLines(std::string bytes);

    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = std::string;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string;

        Iterator(std::string_view text, std::size_t at);
        std::string operator*() const;
        Iterator& operator++();
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

      private:
        std::string_view text_;
        std::size_t at_, end_; // the current line is text_[at_, end_)
    };
    Iterator begin() const { return Iterator(text_, 0); }
    Iterator end() const { return Iterator(text_, text_.size()); }
    std::size_t size() const { return count_; }

    // Where a NUL ended the text (0-based byte offset in the file, which is also the number
    // of bytes before it), and how many bytes followed the NUL; nothing without a NUL.
    std::optional<std::size_t> NulOffset() const { return nulOffset_; }
    std::size_t BytesAfterNul() const { return bytesAfterNul_; }

  private:
    std::string bytes_;
    std::string_view text_; // the bytes before any NUL
    std::size_t count_ = 0;
    std::optional<std::size_t> nulOffset_;
    std::size_t bytesAfterNul_ = 0;
};

// "The update file is too large: N bytes (the limit is M bytes, set by MaxUpdateSize)."
std::string UpdateFileTooLargeText(std::int64_t size, std::int64_t limit);

// Reads the whole file. Throws platform::EInOutError when it cannot be read, and
// platform::Exception with UpdateFileTooLargeText when it holds more than maxBytes.
TUpdateLines ReadUpdateFile(const std::string& path, std::int64_t maxBytes);

// The time of an update file as the settings record it: the locale's short date, a blank and
// its long time (without a time zone); at exactly midnight the date alone.
std::string UpdateTimestampText(const QDateTime& moment, const QLocale& locale = QLocale::system());

} // namespace update
