#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A settings (INI) file of named sections holding key=value lines. Section and key names
// compare without regard to ASCII letter case. Reads reuse the file's last parse while the
// file is unchanged (same inode, size and times), so they see every write, also by other
// processes; every write reads the file afresh and rewrites it as a whole.
//
// A value is everything after the first "=" up to the line end, with the blanks and tabs at
// either end removed, as Windows reads them: a hand edit often leaves a blank behind "1".
// Values are written unchanged (a caller whose value may begin or end with blanks quotes
// it). Writing changes only the one line of its key (or adds it, and the section if
// needed); every other section, key, comment and line ending stays as it was.
class ProfileFile {
  public:
    explicit ProfileFile(std::string path);

    // The stored value without blanks and tabs around it, at most 2047 bytes of it, or def
    // when the file or key is missing.
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& def) const;
    // The same without the length limit, for values that no fixed limit fits (an OAuth2
    // refresh token, which some providers make several kilobytes long).
    std::string ReadLongString(std::string_view section, std::string_view key,
                               const std::string& def) const;
    // The stored value read by ParseProfileInteger, or def when that gives nothing.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    // An integer whose default is 1 or 0; any non-zero integer is true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    // Stores the value unchanged, creating the folder (mode 0700), the file (mode 0600: it
    // holds the password), the section and the key as needed. The file is replaced
    // atomically. Any failure throws Exception("Unable to write to " + the file's name), and
    // so does anything that would not read back as written: CR or LF anywhere; "]" in the
    // section or "=" in the key; blanks or tabs around either name; a key starting with "[".
    void WriteString(std::string_view section, std::string_view key, std::string_view value) const;
    // Decimal text, "-" first when negative.
    void WriteInteger(std::string_view section, std::string_view key, int32_t value) const;
    // "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value) const;
    // Removes the key's line, if there is one, with the rules and failures of WriteString.
    void DeleteKey(std::string_view section, std::string_view key) const;

    // The names of the file's section headers in file order, a repeated one each time (readers
    // see only the first of them); none for a missing or unreadable file.
    std::vector<std::string> SectionNames() const;
    // Renames a section in place, keeping its lines, or removes it with all its lines; with
    // the failures of WriteString. A missing section is left alone.
    void RenameSection(std::string_view section, std::string_view newName) const;
    void DeleteSection(std::string_view section) const;

  private:
    // The trimmed value, or nothing when the file or key is missing.
    std::optional<std::string> ReadWholeValue(std::string_view section, std::string_view key) const;

    std::string path_;
};

// The integer forms of a stored value: "0x"/"0X" followed by hexadecimal digits; or
// optional leading blanks, an optional sign, an optional "$", "x", "X", "0x" or "0X" marking
// hexadecimal, then digits, and nothing after them. Decimal values must lie in the 32-bit
// range; hexadecimal ones may use all 32 bits (0xFFFFFFFF is -1). Anything else: nullopt.
std::optional<int32_t> ParseProfileInteger(std::string_view text);

} // namespace platform
