#include "Accounts.h"

#include "config/dataConfig.h"
#include "platform/Exception.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Trim.h"

#include <filesystem>
#include <utility>

namespace {
constexpr std::string_view kAccountWord = "Account";

platform::ProfileFile SettingsFile() {
    return platform::ProfileFile(platform::SettingsFilePath());
}

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool SameName(const std::string& a, const std::string& b) {
    return Lowered(a) == Lowered(b);
}

// A mistyped Auth falls back to USER/PASS, which every server takes and which fails plainly.
std::string AuthName(const std::string& value) {
    const std::string name = Lowered(platform::Trimmed(value));
    for (const char* known : {"user", "apop", "plain", "xoauth2", "oauthbearer"})
        if (name == known) return name;
    return "user";
}

std::string UnquotedPassword(const std::string& stored) {
    if (stored.size() >= 2 && stored.front() == '"' && stored.back() == '"')
        return stored.substr(1, stored.size() - 2);
    return stored;
}

bool NameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '-' || c == '_';
}

// The name of an account section ("Account NAME"), or nothing for any other section.
std::optional<std::string> AccountNameOfSection(const std::string& section) {
    if (!SameName(section.substr(0, kAccountWord.size()), std::string(kAccountWord)))
        return std::nullopt;
    const std::string rest = section.substr(kAccountWord.size());
    if (!rest.empty() && rest.front() != ' ' && rest.front() != '\t') return std::nullopt;
    return platform::Trimmed(rest);
}

TAccountSettings ReadAccountKeys(const platform::ProfileFile& ini, const std::string& section) {
    TAccountSettings a;
    a.AccountSection = section;
    a.Server = ini.ReadString(section, "Server", "undefined");
    a.Login = ini.ReadString(section, "Login", "undefined");
    a.Password = UnscramblePassword(UnquotedPassword(ini.ReadString(section, "Password", "")));
    a.PasswordCommand = ini.ReadString(section, "PasswordCommand", "");
    a.Timeout = ini.ReadInteger(section, "Timeout", 60);
    if (a.Timeout < 0) a.Timeout = 60; // a typo must not switch the limit off
    a.HeaderCache = ini.ReadBool(section, "HeaderCache", true);
    const bool securitySet = !platform::Trimmed(ini.ReadString(section, "Security", "")).empty();
    a.Security = securitySet ? ini.ReadInteger(section, "Security", 1) : 0;
    if (a.Security < 0 || a.Security > 2) a.Security = 1;
    a.CAFile = ini.ReadString(section, "CAFile", "");
    a.Auth = AuthName(ini.ReadString(section, "Auth", "user"));
    a.OAuth2Provider = Lowered(platform::Trimmed(ini.ReadString(section, "OAuth2Provider", "")));
    a.OAuth2ClientId = ini.ReadString(section, "OAuth2ClientId", "");
    a.OAuth2ClientSecret = ini.ReadString(section, "OAuth2ClientSecret", "");
    a.OAuth2Scope = ini.ReadString(section, "OAuth2Scope", "");
    a.OAuth2AuthorizeUrl = ini.ReadString(section, "OAuth2AuthorizeUrl", "");
    a.OAuth2DeviceUrl = ini.ReadString(section, "OAuth2DeviceUrl", "");
    a.OAuth2TokenUrl = ini.ReadString(section, "OAuth2TokenUrl", "");
    a.TokenCommand = ini.ReadString(section, "TokenCommand", "");
    a.Enabled = ini.ReadBool(section, "Enabled", true);
    return a;
}

} // namespace

std::string AccountNameProblem(const std::string& name, const std::vector<std::string>& others) {
    if (platform::Trimmed(name).empty()) return "An account needs a name";
    for (char c : name)
        if (!NameCharacter(c))
            return "The account name \"" + name +
                   "\" may hold only letters, digits, blanks, \"-\" and \"_\"";
    for (const std::string& other : others)
        if (SameName(platform::Trimmed(name), other))
            return "There is already an account named \"" + other + "\"";
    return "";
}

TAccountSettings ReadFirstAccount() {
    TAccountSettings first = ReadAccountKeys(SettingsFile(), "Config");
    first.AccountName = SettingsFile().ReadString("Config", "AccountName", "");
    if (first.AccountName.empty()) first.AccountName = TAccountSettings::kFirstAccountName;
    return first;
}

std::vector<TAccountSettings> ReadAccounts() {
    const platform::ProfileFile ini = SettingsFile();
    std::vector<TAccountSettings> accounts{ReadFirstAccount()};
    std::vector<std::string> names;
    const auto take = [&names](const std::string& name) {
        const std::string problem = AccountNameProblem(name, names);
        if (!problem.empty())
            throw platform::Exception(problem + " (" +
                                      platform::FileNameOf(platform::SettingsFilePath()) + ")");
        names.push_back(name);
    };
    take(accounts[0].AccountName);
    for (const std::string& section : ini.SectionNames()) {
        const std::optional<std::string> name = AccountNameOfSection(section);
        if (!name) continue;
        take(*name);
        accounts.push_back(ReadAccountKeys(ini, section));
        accounts.back().AccountName = *name;
        accounts.back().FilesName = *name;
    }
    if (accounts.size() > 1)
        for (TAccountSettings& account : accounts)
            account.LinePrefix = account.AccountName + ": ";
    return accounts;
}

const TAccountSettings* FindAccount(const std::vector<TAccountSettings>& accounts,
                                    const std::string& name) {
    for (const TAccountSettings& account : accounts)
        if (SameName(account.AccountName, platform::Trimmed(name))) return &account;
    return nullptr;
}

std::string AccountSectionOf(const std::string& name) {
    return std::string(kAccountWord) + " " + name;
}

void WriteAccount(const TAccountSettings& account) {
    const platform::ProfileFile ini = SettingsFile();
    const std::string& section = account.AccountSection;
    ini.WriteString(section, "Server", account.Server);
    ini.WriteString(section, "Login", account.Login);
    ini.WriteInteger(section, "Security", account.Security);
    ini.WriteString(section, "CAFile", account.CAFile);
    if (section != "Config") ini.WriteBool(section, "Enabled", account.Enabled);
}

std::string AccountFilePath(const std::string& filesName, const std::string& stem,
                            const std::string& extension) {
    return platform::ProgramDir() + "/" + stem + (filesName.empty() ? "" : "-" + filesName) +
           extension;
}

void RenameAccount(const TAccountSettings& account, const std::string& newName) {
    if (account.AccountSection == "Config")
        return SettingsFile().WriteString("Config", "AccountName", newName);
    SettingsFile().RenameSection(account.AccountSection, AccountSectionOf(newName));
    // The files go with the name, or the quarantine window would no longer list the kept
    // messages. A file left by a removed account of the new name stays where it is, and so
    // does one that cannot move: the messages are still on disk under the old name.
    for (const auto& [stem, extension] : {std::pair{"quarantine", ".mbox"},
                                          {"quarantine", ".1.mbox"}, // the older half
                                          {"headers", ".cache"}}) {
        const std::string from = AccountFilePath(account.FilesName, stem, extension);
        const std::string to = AccountFilePath(newName, stem, extension);
        std::error_code error;
        if (std::filesystem::exists(from, error) && !std::filesystem::exists(to, error))
            std::filesystem::rename(from, to, error);
    }
}

void RemoveAccount(const TAccountSettings& account) {
    if (account.AccountSection != "Config") SettingsFile().DeleteSection(account.AccountSection);
}
