#include "CommandLine.h"

TCheckCommand ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return TCheckCommand::CheckOnly;
    if (args.size() > 1) return TCheckCommand::UsageError;
    if (args[0] == "--eat") return TCheckCommand::CheckAndEat;
    if (args[0] == "--help") return TCheckCommand::Help;
    if (args[0] == "--version") return TCheckCommand::Version;
    return TCheckCommand::UsageError;
}

const char* const kUsageText =
    "Usage: morvandle-check [--eat]\n"
    "Checks the POP3 mailbox named in Morvandle.ini against the valid addresses in\n"
    "GoodAddr.txt and the spammer search strings in spammers.txt (both in the program's\n"
    "folder), and writes the activity log spammers.log there.\n"
    "\n"
    "  (no option)  Check Only: screen every message, delete nothing\n"
    "  --eat        Check and Eat: delete every message judged to be spam\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 the check finished without an error, 1 the server could not be\n"
    "reached or the connection could not be secured (or the settings could not be\n"
    "read), 2 usage error, 3 the check finished but reported an error on the way.\n";
