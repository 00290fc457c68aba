#include "Profile.h"

#include "AtomicFile.h"
#include "Exception.h"
#include "FileBytes.h"
#include "Paths.h"

#include <cerrno>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace platform {

namespace {
constexpr size_t kMaxValueLength = 2047;

bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpaceOrTab(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpaceOrTab(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

struct Line {
    std::string text; // without its line end
    std::string end;  // "\r\n", "\n" or "" (last line without one)
};

std::vector<Line> SplitLines(std::string_view data) {
    std::vector<Line> lines;
    while (!data.empty()) {
        size_t lf = data.find('\n');
        std::string_view text = data.substr(0, lf);
        std::string_view end;
        if (lf != std::string_view::npos) {
            end = "\n";
            if (!text.empty() && text.back() == '\r') {
                text.remove_suffix(1);
                end = "\r\n";
            }
        }
        lines.push_back({std::string(text), std::string(end)});
        data.remove_prefix(lf == std::string_view::npos ? data.size() : lf + 1);
    }
    return lines;
}

// Where a key is, or would go.
struct Position {
    bool sectionFound = false;
    std::optional<size_t> keyLine;
    size_t insertAt = 0; // after the last non-blank line of the section
};

std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

Position Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Position pos;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& text = lines[i].text;
        if (auto name = SectionName(text)) {
            if (pos.sectionFound) break; // only the first section of that name counts
            if (SameName(*name, section)) {
                pos.sectionFound = true;
                pos.insertAt = i + 1;
            }
            continue;
        }
        if (!pos.sectionFound || Trim(text).empty()) continue;
        pos.insertAt = i + 1;
        size_t eq = text.find('=');
        if (eq != std::string::npos && SameName(Trim(std::string_view(text).substr(0, eq)), key)) {
            pos.keyLine = i;
            break;
        }
    }
    return pos;
}

// The whole file; nullopt when it does not exist. Other failures throw EInOutError.
std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::optional<FileBytes> file = ReadFileBytes(path);
    if (!file) return std::nullopt;
    return std::move(file->bytes);
}

// What changes whenever the file does: a replacement gets a new inode, a rewrite in place a
// new change time (which utime cannot set back).
struct Stamp {
    dev_t dev;
    ino_t ino;
    off_t size;
    int64_t mtimeNs, ctimeNs;
    bool operator==(const Stamp&) const = default;
};

int64_t Nanoseconds(const timespec& t) {
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

Stamp StampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// File times tick with the kernel's coarse clock (a few milliseconds), so a write just after
// a read may leave the same times behind. A parse is reused only when the file had been
// still for longer than that before it was read; a later write then always moves a time.
constexpr int64_t kSettledNs = 50'000'000;

using Lines = std::shared_ptr<const std::vector<Line>>;

// One parse per settings file while it stays unchanged: a check reads some thirty keys.
struct ParseCache {
    std::mutex mutex;
    std::map<std::string, std::pair<Stamp, Lines>> parsed;
};

ParseCache& Cache() {
    static ParseCache cache;
    return cache;
}

void Forget(const std::string& path) {
    std::lock_guard lock(Cache().mutex);
    Cache().parsed.erase(path);
}

// The file's lines as they are now; null when it does not exist. Other failures throw
// EInOutError.
Lines CurrentLines(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        std::lock_guard lock(Cache().mutex);
        auto it = Cache().parsed.find(path);
        if (it != Cache().parsed.end() && it->second.first == StampOf(st)) return it->second.second;
    } else if (errno == ENOENT) {
        Forget(path);
        return nullptr;
    }
    // The real clock, which file times follow, not the one tests may move.
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t readAt = Nanoseconds(now);
    std::optional<FileBytes> file = ReadFileBytes(path);
    if (!file) return nullptr;
    auto lines = std::make_shared<const std::vector<Line>>(SplitLines(file->bytes));
    const Stamp stamp = StampOf(file->info);
    std::lock_guard lock(Cache().mutex);
    if (stamp.mtimeNs < readAt - kSettledNs && stamp.ctimeNs < readAt - kSettledNs)
        Cache().parsed[path] = {stamp, lines};
    else
        Cache().parsed.erase(path);
    return lines;
}

// Replaces the file by the lines: private (0600), as it may hold a password.
void WriteLines(const std::string& path, const std::vector<Line>& lines) {
    CreateFolders(FolderOf(path), 0700);
    AtomicFileWriter out(path, 0600);
    for (const Line& line : lines) {
        out.Write(line.text);
        out.Write(line.end);
    }
    out.Commit();
    Forget(path);
}

// What every write that fails says, whatever the cause.
Exception WriteRefused(const std::string& path) {
    return Exception("Unable to write to " + FileNameOf(path));
}

bool FitsOnOneLine(std::string_view s) {
    return s.find_first_of("\r\n") == std::string_view::npos;
}

// Names that the reader would find again: it trims blanks around both and takes any line
// starting with "[" as a section header, so such names would be written and then lost.
bool ReadableSection(std::string_view section) {
    return FitsOnOneLine(section) && section.find(']') == std::string_view::npos &&
           Trim(section) == section;
}

bool ReadableKey(std::string_view key) {
    return FitsOnOneLine(key) && key.find('=') == std::string_view::npos && Trim(key) == key &&
           (key.empty() || key.front() != '[');
}

// Gives the last line the line end it lacks. A lone CR at its end is part of its text (only
// LF ends a line here), so it gets a CR LF of its own rather than becoming half of one.
void EndLastLine(std::vector<Line>& lines, const std::string& nl) {
    Line& last = lines.back();
    if (!last.end.empty()) return;
    last.end = !last.text.empty() && last.text.back() == '\r' ? "\r\n" : nl;
}

std::optional<uint64_t> ParseDigits(std::string_view digits, unsigned base, uint64_t limit) {
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && Lower(c) >= 'a' && Lower(c) <= 'f')
            d = static_cast<unsigned>(Lower(c) - 'a' + 10);
        else
            return std::nullopt;
        value = value * base + d;
        if (value > limit) return std::nullopt;
    }
    return value;
}

bool StartsWithHexMark(std::string_view s) {
    return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

// Up to 32 bits of hexadecimal digits, taken as a two's-complement pattern.
std::optional<int32_t> HexBits(std::string_view digits) {
    auto v = ParseDigits(digits, 16, UINT32_MAX);
    if (!v) return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(*v));
}
} // namespace

std::optional<int32_t> ParseProfileInteger(std::string_view text) {
    if (text.size() > 2 && StartsWithHexMark(text)) return HexBits(text.substr(2));
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::optional<int32_t> hex;
    if (!text.empty() && (text.front() == '$' || text.front() == 'x' || text.front() == 'X'))
        hex = HexBits(text.substr(1));
    else if (StartsWithHexMark(text))
        hex = HexBits(text.substr(2));
    else {
        auto v = ParseDigits(text, 10, negative ? uint64_t{1} << 31 : INT32_MAX);
        if (!v) return std::nullopt;
        return static_cast<int32_t>(negative ? -static_cast<int64_t>(*v)
                                             : static_cast<int64_t>(*v));
    }
    if (!hex) return std::nullopt;
    return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(*hex)) : *hex;
}

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    const std::string& def) const {
    const std::optional<std::string> value = ReadWholeValue(section, key);
    return value ? value->substr(0, kMaxValueLength) : def;
}

std::string ProfileFile::ReadLongString(std::string_view section, std::string_view key,
                                        const std::string& def) const {
    return ReadWholeValue(section, key).value_or(def);
}

std::optional<std::string> ProfileFile::ReadWholeValue(std::string_view section,
                                                       std::string_view key) const {
    Lines lines;
    try {
        lines = CurrentLines(path_);
    } catch (const EInOutError&) {
        return std::nullopt; // an unreadable file reads like a missing one
    }
    if (!lines) return std::nullopt;
    Position pos = Locate(*lines, section, key);
    if (!pos.keyLine) return std::nullopt;
    const std::string& text = (*lines)[*pos.keyLine].text;
    return std::string(Trim(std::string_view(text).substr(text.find('=') + 1)));
}

int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t def) const {
    return ParseProfileInteger(ReadString(section, key, std::string())).value_or(def);
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) const {
    const Exception refused = WriteRefused(path_);
    if (!ReadableSection(section) || !ReadableKey(key) || !FitsOnOneLine(value)) throw refused;
    try {
        std::vector<Line> lines = SplitLines(ReadWholeFile(path_).value_or(std::string()));
        std::string nl = !lines.empty() && lines.front().end == "\r\n" ? "\r\n" : "\n";
        std::string keyLine = std::string(key) + "=" + std::string(value);
        Position pos = Locate(lines, section, key);
        if (pos.keyLine) {
            lines[*pos.keyLine].text = keyLine;
        } else {
            if (!pos.sectionFound) {
                if (!lines.empty()) EndLastLine(lines, nl);
                lines.push_back({"[" + std::string(section) + "]", nl});
                pos.insertAt = lines.size();
            }
            // Only the file's last line can lack its end.
            if (pos.insertAt == lines.size()) EndLastLine(lines, nl);
            lines.insert(lines.begin() + static_cast<ptrdiff_t>(pos.insertAt), {keyLine, nl});
        }
        WriteLines(path_, lines);
    } catch (const EInOutError&) {
        throw refused;
    }
}

void ProfileFile::DeleteKey(std::string_view section, std::string_view key) const {
    try {
        std::optional<std::string> data = ReadWholeFile(path_);
        if (!data) return;
        std::vector<Line> lines = SplitLines(*data);
        Position pos = Locate(lines, section, key);
        if (!pos.keyLine) return;
        lines.erase(lines.begin() + static_cast<ptrdiff_t>(*pos.keyLine));
        WriteLines(path_, lines);
    } catch (const EInOutError&) {
        throw WriteRefused(path_);
    }
}

std::vector<std::string> ProfileFile::SectionNames() const {
    std::vector<std::string> names;
    Lines lines;
    try {
        lines = CurrentLines(path_);
    } catch (const EInOutError&) {
        return names;
    }
    if (!lines) return names;
    for (const Line& line : *lines) {
        if (const auto name = SectionName(line.text)) names.emplace_back(*name);
    }
    return names;
}

// A renamed section takes a new header line; a deleted one loses its lines up to the next
// section. Only the first section of that name is the one readers see, so only it changes.
namespace {
void ChangeSection(const std::string& path, std::string_view section,
                   const std::optional<std::string_view>& newName) {
    const Exception refused = WriteRefused(path);
    if (newName && !ReadableSection(*newName)) throw refused;
    try {
        std::optional<std::string> data = ReadWholeFile(path);
        if (!data) return;
        std::vector<Line> lines = SplitLines(*data);
        size_t first = 0;
        while (first < lines.size() && !(SectionName(lines[first].text) &&
                                         SameName(*SectionName(lines[first].text), section)))
            ++first;
        if (first == lines.size()) return;
        if (newName) {
            lines[first].text = "[" + std::string(*newName) + "]";
        } else {
            size_t end = first + 1;
            while (end < lines.size() && !SectionName(lines[end].text))
                ++end;
            lines.erase(lines.begin() + static_cast<ptrdiff_t>(first),
                        lines.begin() + static_cast<ptrdiff_t>(end));
        }
        WriteLines(path, lines);
    } catch (const EInOutError&) {
        throw refused;
    }
}
} // namespace

void ProfileFile::RenameSection(std::string_view section, std::string_view newName) const {
    ChangeSection(path_, section, newName);
}

void ProfileFile::DeleteSection(std::string_view section) const {
    ChangeSection(path_, section, std::nullopt);
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key,
                               int32_t value) const {
    WriteString(section, key, std::to_string(value));
}

void ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) const {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace platform
