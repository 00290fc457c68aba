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
// The reader works over bytes held by the caller or over a file read in chunks.
class TextLineReader {
  public:
    // Reads from bytes that must outlive the reader.
    explicit TextLineReader(std::string_view bytes);
    // Opens the file for reading; throws EInOutError when it cannot be opened.
    explicit TextLineReader(const std::string& path);
    ~TextLineReader();
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;

    // True at the end of the bytes or at a Ctrl+Z. Throws EInOutError when reading fails.
    bool Eof();
    // Reads one line and skips its line end. Throws EInOutError when reading fails.
    std::string ReadLine();
    // The same without keeping the line.
    void SkipLine();

  private:
    // Makes at least one unread byte available; false at the end of the data.
    bool Fill();
    // Consumes one line and its line end, appending the line's bytes to *line if given.
    void Take(std::string* line);

    int fd_ = -1;
    std::string chunk_;     // file data read so far but not consumed
    std::string_view view_; // unread bytes
};

} // namespace platform
