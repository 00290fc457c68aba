#pragma once

#include "cli/CommandLine.h"
#include "config/Accounts.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The accounts a check is for: the first without an option, the one --account names, or
// every enabled one with --all. Nothing, with the reason on stderr, when the settings name
// no such account or hold a bad name.
std::optional<std::vector<TAccountSettings>> ChosenAccounts(const TCheckArgs& args);

// Runs `checkOne` for each account in turn with ConfigData holding that account's keys, until
// all ran or `stopped` is set, and returns the worst of their statuses (WorseStatus). A check
// that throws counts as 1 and the next one runs all the same.
int CheckAccounts(const std::vector<TAccountSettings>& accounts,
                  const std::function<int()>& checkOne, const bool& stopped);

// 1 (the account could not be checked) before 3 (checked, with an error) before 0.
int WorseStatus(int a, int b);

// Puts the account `name` into ConfigData, for --set-password --account; an empty name keeps
// the first. False, with the reason on stderr, when there is no such account.
bool UseNamedAccount(const std::string& name);

// --list-accounts: one line per account, "NAME\tLOGIN@SERVER", with "\tdisabled" for those
// that --all leaves out. 0, or 1 when the settings hold a bad name.
int ListAccounts();
