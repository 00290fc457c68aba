#pragma once

#include <string>
#include <string_view>

namespace platform {

// The bytes of a text file as the line reader takes them: a UTF-8 byte-order mark at the
// start is dropped; a file that starts with FF FE or FE FF is UTF-16 (little or big endian),
// converted to UTF-8 with unpaired surrogates and an odd last byte as U+FFFD. Anything else
// is 8-bit text and stays as it is. Editors on every system write lists in these forms.
std::string TextFileBytes(std::string bytes);

// Reads the text lines of the list files, whatever system wrote them:
// - a line ends at CR LF, at a lone CR or at a lone LF (a file from a Linux editor);
// - Ctrl+Z (byte 26) ends the text, whatever follows it;
// - a last line without CR is still a line; lines may be of any length.
// The reader works over bytes held by the caller (a list file is read whole first).
class TextLineReader {
  public:
    // Reads from bytes that must outlive the reader.
    explicit TextLineReader(std::string_view bytes);

    // True at the end of the bytes or at a Ctrl+Z.
    bool Eof();
    // Reads one line and skips its line end.
    std::string ReadLine();
    // The same without keeping the line.
    void SkipLine();

  private:
    // Consumes one line and its line end, appending the line's bytes to *line if given.
    void Take(std::string* line);

    std::string_view view_; // unread bytes
};

} // namespace platform
