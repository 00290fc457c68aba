#include "dataConfig.h"

#include "platform/AtomicFile.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "platform/FileBytes.h"
#include "platform/FileInfo.h"
#include "platform/FileLock.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TextLines.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

TConfigData* ConfigData = nullptr;
const char* const kDefaultUpdateServer = "ftp.morvandle.example";

namespace {
constexpr const char* kSection = "Config";

std::unique_ptr<TConfigData> instance;

platform::ProfileFile SettingsFile() {
    return platform::ProfileFile(platform::SettingsFilePath());
}

// Queued, so the program ends as soon as its event loop starts (or at once if it runs).
void AskApplicationToEnd() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
}

bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

// The settings file loses blanks and tabs around a value and one pair of enclosing quotes,
// and the scrambling turns "(" into a blank and 0x01 into a tab: such a value is quoted.
std::string QuotedPassword(const std::string& scrambled) {
    const bool quoted =
        scrambled.size() >= 2 && scrambled.front() == '"' && scrambled.back() == '"';
    if (!scrambled.empty() &&
        (IsSpaceOrTab(scrambled.front()) || IsSpaceOrTab(scrambled.back()) || quoted))
        return '"' + scrambled + '"';
    return scrambled;
}

std::int64_t ModifiedNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// BLAKE2b: as safe a witness of change as SHA-256, and four times as fast on a 100,000-line
// list, which the load and the save each hash whole.
constexpr QCryptographicHash::Algorithm kContentHash = QCryptographicHash::Blake2b_256;

std::string ContentHash(std::string_view bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), kContentHash)
        .toStdString();
}

// The file's bytes and the fingerprint of exactly those bytes; nothing when it is missing.
std::optional<std::pair<std::string, TListFingerprint>> ReadListBytes(const std::string& path) {
    if (!platform::FileExists(path)) return std::nullopt;
    std::optional<platform::FileBytes> file = platform::ReadFileBytes(path);
    if (!file) return std::nullopt;
    std::string bytes = std::move(file->bytes);
    const struct stat& st = file->info;
    TListFingerprint print{true, static_cast<std::int64_t>(bytes.size()), ModifiedNs(st),
                           ContentHash(bytes)};
    return std::make_pair(std::move(bytes), std::move(print));
}

// Whether the file is still the one the fingerprint describes; the hash is computed only
// when size and time agree.
bool StillAsRead(const std::string& path, const TListFingerprint& expected) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) throw platform::InOutErrorFromErrno(errno);
        return !expected.exists;
    }
    if (!expected.exists || st.st_size != expected.size || ModifiedNs(st) != expected.modifiedNs)
        return false;
    auto current = ReadListBytes(path);
    return current && current->second == expected;
}

// Two passes over the text: count the lines, size the list once, then fill it.
void LoadListFile(const std::string& path, std::vector<std::string>& list,
                  TListFingerprint& fingerprint) {
    auto file = ReadListBytes(path);
    if (!file) return;
    fingerprint = file->second;
    const std::string text = platform::TextFileBytes(std::move(file->first));
    size_t count = 0;
    {
        platform::TextLineReader reader{std::string_view(text)};
        for (; !reader.Eof(); ++count)
            reader.SkipLine();
    }
    // Also when an exception ends the fill with the list half replaced.
    struct StampOnExit {
        ~StampOnExit() {
            if (ConfigData) ConfigData->ListsChanged();
        }
    } stampOnExit;
    list.resize(count);
    platform::TextLineReader reader{std::string_view(text)};
    for (size_t i = 0; i < count && !reader.Eof(); ++i)
        list[i] = reader.ReadLine();
}
} // namespace

void TConfigData::ConfigDataCreate() {
    try {
        platform::ProfileFile ini = SettingsFile();
        UseAccount(ReadFirstAccount());
        LogLevel = ini.ReadBool(kSection, "LogLevel", false);
        Unknown = ini.ReadBool(kSection, "Unknown", false);
        Strict = ini.ReadBool(kSection, "Strict", false);
        NoCase = ini.ReadBool(kSection, "NoCase", false);
        Width = ini.ReadInteger(kSection, "Width", 422);
        Height = ini.ReadInteger(kSection, "Height", 244);
        Top = ini.ReadInteger(kSection, "Top", 200);
        Left = ini.ReadInteger(kSection, "Left", 200);
        Update = ini.ReadString(kSection, "Update", "");
        Quarantine = ini.ReadBool(kSection, "Quarantine", true);
        UpdateServer = ini.ReadString(kSection, "UpdateServer", kDefaultUpdateServer);
        MaxUpdateSize = ini.ReadInteger(kSection, "MaxUpdateSize", 0);
        if (MaxUpdateSize < 1) MaxUpdateSize = kDefaultMaxUpdateSize;
        LoadAddressList();
        LoadSpammerList();
    } catch (...) {
        platform::ReportCurrentException();
        AskApplicationToEnd();
    }
}

void TConfigData::ConfigDataDestroy() {
    GoodAddrList.clear();
    SpammerList.clear();
    ListsChanged();
}

void TConfigData::ListsChanged() {
    listsStamp_ = NextListsStamp();
}

std::uint64_t TConfigData::NextListsStamp() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

void TConfigData::WriteConfig() {
    platform::ProfileFile ini = SettingsFile();
    ini.WriteString(AccountSection, "Server", Server);
    ini.WriteString(AccountSection, "Login", Login);
    ini.WriteBool(kSection, "LogLevel", LogLevel);
    ini.WriteBool(kSection, "Unknown", Unknown);
    ini.WriteBool(kSection, "Strict", Strict);
    ini.WriteBool(kSection, "NoCase", NoCase);
    ini.WriteBool(kSection, "Quarantine", Quarantine);
    ini.WriteInteger(AccountSection, "Security", Security);
    ini.WriteString(AccountSection, "CAFile", CAFile);
    // The first account has the key only once someone switched it off.
    if (AccountSection != "Config" || !Enabled || !ini.ReadString("Config", "Enabled", "").empty())
        ini.WriteBool(AccountSection, "Enabled", Enabled);
}

void TConfigData::SaveLogLevel() {
    SettingsFile().WriteBool(kSection, "LogLevel", LogLevel);
}

void CreateConfigData() {
    instance = std::make_unique<TConfigData>();
    ConfigData = instance.get();
    ConfigData->ConfigDataCreate();
}

void DestroyConfigData() {
    if (!instance) return;
    instance->ConfigDataDestroy();
    ConfigData = nullptr;
    instance.reset();
}

void WriteConfigInteger(const std::string& key, int32_t value) {
    SettingsFile().WriteInteger(kSection, key, value);
}

void WriteConfigString(const std::string& key, const std::string& value) {
    SettingsFile().WriteString(kSection, key, value);
}

void WritePasswordKey(const std::string& password, const std::string& section) {
    SettingsFile().WriteString(section, "Password", QuotedPassword(ScramblePassword(password)));
}

void RemovePasswordKey(const std::string& section) {
    SettingsFile().DeleteKey(section, "Password");
}

std::string ScramblePassword(const std::string& text) {
    std::string result = text;
    for (char& c : result)
        c = static_cast<char>(c ^ 8);
    return result;
}

std::string UnscramblePassword(const std::string& text) {
    return ScramblePassword(text);
}

std::string AddressListPath() {
    return platform::ProgramDir() + "/GoodAddr.txt";
}

std::string SpammerListPath() {
    return platform::ProgramDir() + "/spammers.txt";
}

void LoadAddressList() {
    LoadListFile(AddressListPath(), ConfigData->GoodAddrList, ConfigData->GoodAddrFile);
}

void LoadSpammerList() {
    LoadListFile(SpammerListPath(), ConfigData->SpammerList, ConfigData->SpammerFile);
}

bool SaveSpammerList() {
    auto saved = SaveListFile(SpammerListPath(), ConfigData->SpammerList, ConfigData->SpammerFile);
    if (saved) ConfigData->SpammerFile = *saved;
    return saved.has_value();
}

TListFileContent ReadListFile(const std::string& path) {
    TListFileContent content;
    LoadListFile(path, content.entries, content.fingerprint);
    return content;
}

std::optional<TListFingerprint> SaveListFile(const std::string& path,
                                             const std::vector<std::string>& entries,
                                             const TListFingerprint& expected) {
    // Hashing is about a third of the work on a long list: a second thread hashes what is
    // written meanwhile, so that the event loop waits that much less.
    auto written = std::async(std::launch::async, [&entries] {
        QCryptographicHash hash(kContentHash);
        for (const std::string& entry : entries) {
            hash.addData(QByteArrayView(entry.data(), static_cast<qsizetype>(entry.size())));
            hash.addData(QByteArrayView("\r\n", 2));
        }
        return hash.result().toStdString();
    });
    platform::AtomicFileWriter out(path);
    std::int64_t size = 0;
    for (const std::string& entry : entries) {
        out.Write(entry);
        out.Write("\r\n");
        size += static_cast<std::int64_t>(entry.size()) + 2;
    }
    // Held only for the comparison and the rename, so that other writers wait as briefly as
    // they can.
    platform::FileLock lock(platform::FolderOf(path) + "/lists.lock");
    lock.Lock();
    if (!StillAsRead(path, expected)) return std::nullopt;
    out.Commit();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw platform::InOutErrorFromErrno(errno);
    return TListFingerprint{true, size, ModifiedNs(st), written.get()};
}
