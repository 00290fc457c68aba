#pragma once

#include "screening/ScanResults.h"

#include <cstdio>
#include <string>
#include <vector>

// --list: one line per message (number, verdict, reason, From, Subject, tab-separated, after
// the account's line prefix), or with --json an array of objects with every field of the
// result.
void PrintResults(const std::vector<screening::TScanResult>& results, bool json, std::FILE* out,
                  const std::string& prefix = "");

// --quarantine: one line per kept message (number, date kept, From, Subject, size,
// tab-separated), oldest first. Returns the exit status: 0, or 1 when a file cannot be read.
int PrintQuarantine(const std::string& quarantinePath, std::FILE* out);

// --quarantine-export N FILE: writes the Nth message of that list to FILE as received.
// Returns the exit status: 0, or 1 (no such message, a file that cannot be read or written).
int ExportFromQuarantine(const std::string& quarantinePath, long number, const std::string& file);
