#pragma once

#include <string>
#include <vector>

enum class TCheckCommand {
    CheckOnly,
    CheckAndEat,
    UpdateFromServer,
    UpdateFromFile,
    SetPassword,
    SignIn,
    ListAccounts,
    Quarantine,       // --quarantine
    QuarantineExport, // --quarantine-export N FILE
    Help,
    Version,
    UsageError
};

// --wait without a number: wait for another check as long as it runs.
inline constexpr int kWaitWithoutLimit = -1;

struct TCheckArgs {
    TCheckCommand command = TCheckCommand::CheckOnly;
    std::string updateFile; // with UpdateFromFile
    // Seconds to wait for another check in the program folder (--wait[=SECONDS]): 0 none.
    int waitSeconds = 0;
    // Which accounts a check (or --set-password) is for: --account NAME, or --all; neither
    // means the first.
    std::string account = {};
    bool allAccounts = false;
    // Check Only, then the results per message (--list), as JSON (--json).
    bool list = false;
    bool json = false;
    // With QuarantineExport: the message's number in the --quarantine list, and the file.
    long exportNumber = 0;
    std::string exportFile = {};
};

// morvandle-check [--eat | --update[=FILE] | --set-password | --list-accounts | --help |
//                  --version] [--account NAME | --all] [--wait[=SECONDS]]
TCheckArgs ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kUsageText;
