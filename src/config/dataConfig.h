#pragma once

#include "config/Accounts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a list file held when a writer read it. A save compares it with the file as it is
// then, so that no writer replaces what another program wrote meanwhile with its old copy.
struct TListFingerprint {
    bool exists = false; // a missing file has no size, time or hash
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // last-write time, nanoseconds since the epoch
    std::string hash;            // a cryptographic hash of the bytes
    bool operator==(const TListFingerprint&) const = default;
};

// The configuration store: the settings of Morvandle.ini and the two user lists, held for the
// whole run by the one instance ConfigData. The account fields (TAccountSettings) hold one
// account's keys, the first account's unless a caller chose another with UseAccount; the
// others are shared by all accounts. Readers use the fields directly; writers assign a field
// and then write the file.
class TConfigData : public TAccountSettings {
  public:
    std::vector<std::string> GoodAddrList;
    std::vector<std::string> SpammerList;
    // The files as the lists were last loaded from or saved to them.
    TListFingerprint GoodAddrFile;
    TListFingerprint SpammerFile;
    bool LogLevel = false;
    bool Unknown = false;
    bool Strict = false;
    bool NoCase = false;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Top = 0;
    int32_t Left = 0;
    std::string Update;
    // Check and Eat keeps a copy of every message it deletes in quarantine.mbox.
    bool Quarantine = true;
    // The update server, "host" or "host:port" (port "ftp" by default). Read only, like
    // Timeout: users who run their own server set it by hand.
    std::string UpdateServer;
    // The largest update file accepted, in bytes; a value below 1 reads as the default.
    static constexpr std::int64_t kDefaultMaxUpdateSize = 16 * 1024 * 1024;
    std::int64_t MaxUpdateSize = kDefaultMaxUpdateSize;

    // The account fields take that account's keys, the shared ones stay.
    void UseAccount(const TAccountSettings& account) {
        static_cast<TAccountSettings&>(*this) = account;
    }

    // Identifies the content of GoodAddrList and SpammerList: code that changes either list
    // calls ListsChanged() before anything else may read it (the list loads and
    // ConfigDataDestroy do; the update merge must too). Screening keeps search automatons
    // built from the lists and compares the lists with them in full only when this number
    // moves. Numbers are drawn from one sequence for the whole process, so no two list
    // contents that a configuration ever held share one.
    std::uint64_t ListsStamp() const { return listsStamp_; }
    void ListsChanged();

    // Reads the settings and both lists. An error shows its message through
    // platform::ReportError and asks the application to end once its event loop runs.
    void ConfigDataCreate();
    // Empties both lists.
    void ConfigDataDestroy();

    // Writes Server, Login, LogLevel, Unknown, Strict, NoCase, Quarantine, Security, CAFile and
    // Enabled (for the first account only once it is or was 0), in that order, the account's
    // keys to the account's section; never Password, which goes where
    // the secret store decides (the keyring or WritePasswordKey), never the window bounds, and
    // never Update, which only the update merge writes: a copy read at start would undo a merge run
    // meanwhile by another program. A refused write throws platform::Exception("Unable to write to
    // Morvandle.ini"), keys before it stay written.
    void WriteConfig();
    // Writes LogLevel alone.
    void SaveLogLevel();

  private:
    std::uint64_t listsStamp_ = NextListsStamp();
    static std::uint64_t NextListsStamp();
};

// The update server when the settings name none. There is no public one: the name is
// reserved and never resolves, so an update from the server fails with a clear message until
// UpdateServer names a real server.
extern const char* const kDefaultUpdateServer;

// The one instance; null outside CreateConfigData .. DestroyConfigData.
extern TConfigData* ConfigData;

// Creates ConfigData and runs its ConfigDataCreate; DestroyConfigData runs ConfigDataDestroy
// and frees it. Both may run again afterwards (tests do).
void CreateConfigData();
void DestroyConfigData();

// Writes one key of section "Config" with the same rules and error as WriteConfig: for the
// window bounds ("Left", "Top", "Width", "Height") and the update time stamp ("Update").
void WriteConfigInteger(const std::string& key, int32_t value);
void WriteConfigString(const std::string& key, const std::string& value);

// The Password key of an account's section: written scrambled (quoted when it would lose
// blanks), or removed once the password lives elsewhere. Errors as WriteConfig's.
void WritePasswordKey(const std::string& password, const std::string& section = "Config");
void RemovePasswordKey(const std::string& section = "Config");

// Flips bit 3 of every byte; each undoes the other.
std::string ScramblePassword(const std::string& text);
std::string UnscramblePassword(const std::string& text);

// The list files in the program's folder.
std::string AddressListPath();
std::string SpammerListPath();

// Replace GoodAddrList / SpammerList by the lines of their files and record the files'
// fingerprints; a missing file leaves the list as it is. Open and read errors throw
// platform::EInOutError.
void LoadAddressList();
void LoadSpammerList();

// Writes SpammerList to spammers.txt if the file is still as SpammerFile says; false, with
// nothing written, when another program changed it.
bool SaveSpammerList();

// A list file's lines (the load's rules: byte-order marks, UTF-16, Ctrl+Z) and its
// fingerprint; a missing file gives no lines.
struct TListFileContent {
    std::vector<std::string> entries;
    TListFingerprint fingerprint;
};
TListFileContent ReadListFile(const std::string& path);

// Replaces the file by the entries, each followed by CR LF (an empty list gives an empty
// file), if the file still matches `expected`. The comparison and the replacement happen
// under a lock that every writer of the lists takes. Returns the new file's fingerprint, or
// nothing when the file was changed by another writer (it is then left as it is). Failures
// throw platform::EInOutError.
std::optional<TListFingerprint> SaveListFile(const std::string& path,
                                             const std::vector<std::string>& entries,
                                             const TListFingerprint& expected);
