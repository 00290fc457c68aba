#pragma once

#include <string>
#include <vector>

enum class TCheckCommand {
    CheckOnly,
    CheckAndEat,
    UpdateFromServer,
    UpdateFromFile,
    Help,
    Version,
    UsageError
};

struct TCheckArgs {
    TCheckCommand command = TCheckCommand::CheckOnly;
    std::string updateFile; // with UpdateFromFile
};

// morvandle-check [--eat | --update[=FILE] | --help | --version]
TCheckArgs ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kUsageText;
