#include "CommandLine.h"

TCheckArgs ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return {TCheckCommand::CheckOnly, {}};
    if (args.size() > 1) return {TCheckCommand::UsageError, {}};
    const std::string& arg = args[0];
    if (arg == "--eat") return {TCheckCommand::CheckAndEat, {}};
    if (arg == "--help") return {TCheckCommand::Help, {}};
    if (arg == "--version") return {TCheckCommand::Version, {}};
    const std::string update = "--update=";
    if (arg.rfind(update, 0) == 0 && arg.size() > update.size())
        return {TCheckCommand::UpdateFromFile, arg.substr(update.size())};
    return {TCheckCommand::UsageError, {}};
}

const char* const kUsageText =
    "Usage: morvandle-check [--eat | --update=FILE]\n"
    "Checks the POP3 mailbox named in Morvandle.ini against the valid addresses in\n"
    "GoodAddr.txt and the spammer search strings in spammers.txt (both in the program's\n"
    "folder), and writes the activity log spammers.log there.\n"
    "\n"
    "  (no option)  Check Only: screen every message, delete nothing\n"
    "  --eat        Check and Eat: delete every message judged to be spam\n"
    "  --update=FILE  merge the update file FILE into spammers.txt: every line that no\n"
    "               entry covers is added (the file itself is kept)\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 the check finished without an error, 1 the server could not be\n"
    "reached (or the settings could not be read), 2 usage error, 3 the check finished\n"
    "but reported an error on the way. With --update: 0 merged, 1 the file could not be\n"
    "read or the lists not saved, 2 usage error.\n";
