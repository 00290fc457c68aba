#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The settings of one mailbox. Section [Config] of Morvandle.ini holds the first account
// (and the settings every account shares); each further account is a section
// [Account NAME] with these keys alone.
struct TAccountSettings {
    std::string Server;
    std::string Login;
    std::string Password; // in clear text; only the file holds it scrambled
    // A shell command whose first output line is the password; empty for none.
    std::string PasswordCommand;
    // Seconds a POP3 request may wait in silence; 0 for no limit. Read only: no window
    // edits it, so it is written to the file by hand.
    int32_t Timeout = 60;
    // Known messages (same UIDL and size) are screened from the header cache, not fetched.
    bool HeaderCache = true;
    // How the POP3 connection is secured: 0 plain, 1 TLS from the start (POP3S), 2 STLS.
    // A value other than these reads as 1: a mistyped setting must not send the password
    // in clear.
    int32_t Security = 0;
    // A PEM file of certificates trusted besides the system's; empty for none.
    std::string CAFile;
    // How the login proves who the user is: "user" (USER/PASS), "apop", "plain", "xoauth2" or
    // "oauthbearer", in lower case; an unknown value reads as "user".
    std::string Auth = "user";
    // OAuth2 sign-in: a provider preset ("microsoft", "google", "custom" or empty), the user's
    // registered client, and the scope and endpoints, each overriding the preset when set.
    std::string OAuth2Provider;
    std::string OAuth2ClientId;
    std::string OAuth2ClientSecret;
    std::string OAuth2Scope;
    std::string OAuth2AuthorizeUrl;
    std::string OAuth2DeviceUrl;
    std::string OAuth2TokenUrl;
    // A shell command whose first output line is an access token; empty for none.
    std::string TokenCommand;

    // Which account this is: its name, the settings section holding its keys, and whether
    // checks of every account include it (key Enabled, default 1).
    std::string AccountName = kFirstAccountName;
    std::string AccountSection = "Config";
    bool Enabled = true;
    // Names the account's own files (quarantine-NAME.mbox, headers-NAME.cache); empty for the
    // first account, whose files keep the names they had before there were accounts.
    std::string FilesName;
    // "NAME: " before the account's log and console lines when the settings hold more than
    // one account; empty otherwise.
    std::string LinePrefix;

    // The first account's name unless [Config] sets AccountName.
    static constexpr const char* kFirstAccountName = "Main";
};

// The first account alone, its name unchecked: what a single-mailbox program reads.
TAccountSettings ReadFirstAccount();
// Every account in the settings file: the first, then the [Account NAME] sections in file
// order. A bad or repeated name throws platform::Exception with a text saying which and why.
std::vector<TAccountSettings> ReadAccounts();

// Why `name` cannot name a new account (or an account renamed), or "" when it can: it must
// hold letters, digits, blanks, "-" and "_" only and differ, in any letter case, from the
// names in `others`.
std::string AccountNameProblem(const std::string& name, const std::vector<std::string>& others);

// The account whose settings would have that name, in any letter case; null for none.
const TAccountSettings* FindAccount(const std::vector<TAccountSettings>& accounts,
                                    const std::string& name);

// Writes the keys the preferences dialog edits (Server, Login, Security, CAFile, and Enabled
// of a further account) to the account's section, creating it when new.
void WriteAccount(const TAccountSettings& account);
// A file the account keeps in the program's folder: STEM-FILESNAME.EXT for a further account,
// STEM.EXT for the first (FilesName empty), e.g. ("Work", "quarantine", ".mbox").
std::string AccountFilePath(const std::string& filesName, const std::string& stem,
                            const std::string& extension);

// Renames an account (the first: its AccountName key; a further one: its section, and its
// quarantine and header cache files where no file has the new name yet), or removes a further
// one with all its keys. Errors as TConfigData::WriteConfig's.
void RenameAccount(const TAccountSettings& account, const std::string& newName);
void RemoveAccount(const TAccountSettings& account);
// The section a further account of that name lives in.
std::string AccountSectionOf(const std::string& name);
