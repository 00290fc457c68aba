#pragma once

#include <cstdio>
#include <optional>
#include <string>

// The password for --set-password: from a terminal asked twice without echo (the prompts go
// to stderr, so stdout stays clean), else one line of `in`. Nothing, with the reason on
// stderr, when the two entries differ or no line came.
std::optional<std::string> ReadNewPassword(std::FILE* in);
