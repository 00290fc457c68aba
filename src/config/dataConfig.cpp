#include "dataConfig.h"

#include "platform/AtomicFile.h"
#include "platform/ErrorReport.h"
#include "platform/FileInfo.h"
#include "platform/MessagePump.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TextLines.h"
#include "platform/Trim.h"

#include <QCoreApplication>
#include <atomic>
#include <memory>

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

// Two passes: count the lines, size the list once, then fill it.
void LoadListFile(const std::string& path, std::vector<std::string>& list, bool yieldPerLine) {
    if (!platform::FileExists(path)) return;
    size_t count = 0;
    {
        platform::TextLineReader reader(path);
        for (; !reader.Eof(); ++count)
            reader.SkipLine();
    }
    if (yieldPerLine) platform::ProcessMessages();
    // Also when a read error ends the load with the list half replaced.
    struct StampOnExit {
        ~StampOnExit() {
            if (ConfigData) ConfigData->ListsChanged();
        }
    } stampOnExit;
    list.resize(count);
    platform::TextLineReader reader(path);
    // The size is checked again on every line: code that runs while we yield may change it.
    for (size_t i = 0; i < count && i < list.size() && !reader.Eof(); ++i) {
        list[i] = reader.ReadLine();
        if (yieldPerLine) {
            ConfigData->ListsChanged(); // what runs now may screen with the list as it stands
            platform::ProcessMessagesSliced();
        }
    }
}
} // namespace

void TConfigData::ConfigDataCreate() {
    try {
        platform::ProfileFile ini = SettingsFile();
        Server = ini.ReadString(kSection, "Server", "undefined");
        Login = ini.ReadString(kSection, "Login", "undefined");
        Password = ini.ReadString(kSection, "Password", "");
        if (!Password.empty()) Password = UnscramblePassword(Password);
        LogLevel = ini.ReadBool(kSection, "LogLevel", false);
        Unknown = ini.ReadBool(kSection, "Unknown", false);
        Strict = ini.ReadBool(kSection, "Strict", false);
        NoCase = ini.ReadBool(kSection, "NoCase", false);
        Width = ini.ReadInteger(kSection, "Width", 422);
        Height = ini.ReadInteger(kSection, "Height", 244);
        Top = ini.ReadInteger(kSection, "Top", 200);
        Left = ini.ReadInteger(kSection, "Left", 200);
        Update = ini.ReadString(kSection, "Update", "");
        Timeout = ini.ReadInteger(kSection, "Timeout", 60);
        if (Timeout < 0) Timeout = 60; // a typo must not switch the limit off
        Quarantine = ini.ReadBool(kSection, "Quarantine", true);
        const bool securitySet =
            !platform::Trimmed(ini.ReadString(kSection, "Security", "")).empty();
        Security = securitySet ? ini.ReadInteger(kSection, "Security", 1) : 0;
        if (Security < 0 || Security > 2) Security = 1;
        CAFile = ini.ReadString(kSection, "CAFile", "");
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
    ini.WriteString(kSection, "Server", Server);
    ini.WriteString(kSection, "Login", Login);
    ini.WriteString(kSection, "Password", ScramblePassword(Password));
    ini.WriteBool(kSection, "LogLevel", LogLevel);
    ini.WriteBool(kSection, "Unknown", Unknown);
    ini.WriteBool(kSection, "Strict", Strict);
    ini.WriteBool(kSection, "NoCase", NoCase);
    ini.WriteString(kSection, "Update", Update);
    ini.WriteBool(kSection, "Quarantine", Quarantine);
    ini.WriteInteger(kSection, "Security", Security);
    ini.WriteString(kSection, "CAFile", CAFile);
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
    LoadListFile(AddressListPath(), ConfigData->GoodAddrList, false);
}

void LoadSpammerList() {
    LoadListFile(SpammerListPath(), ConfigData->SpammerList, true);
}

void SaveSpammerList() {
    SaveListFile(SpammerListPath(), ConfigData->SpammerList, true);
}

void SaveListFile(const std::string& path, const std::vector<std::string>& entries,
                  bool yieldPerLine) {
    platform::AtomicFileWriter out(path);
    // By index, with the size read afresh: code that runs while we yield may append.
    for (size_t i = 0; i < entries.size(); ++i) {
        out.Write(entries[i]);
        out.Write("\r\n");
        if (yieldPerLine) platform::ProcessMessagesSliced();
    }
    out.Commit();
}
