#pragma once

#include <string>
#include <vector>

enum class TCheckCommand { CheckOnly, CheckAndEat, Help, Version, UsageError };

// morvandle-check [--eat | --help | --version]
TCheckCommand ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kUsageText;
