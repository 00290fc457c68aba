#include "CommandLine.h"

TCheckArgs ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return {TCheckCommand::CheckOnly, {}};
    if (args.size() > 1) return {TCheckCommand::UsageError, {}};
    const std::string& arg = args[0];
    if (arg == "--eat") return {TCheckCommand::CheckAndEat, {}};
    if (arg == "--help") return {TCheckCommand::Help, {}};
    if (arg == "--version") return {TCheckCommand::Version, {}};
    if (arg == "--update") return {TCheckCommand::UpdateFromServer, {}};
    const std::string update = "--update=";
    if (arg.rfind(update, 0) == 0 && arg.size() > update.size())
        return {TCheckCommand::UpdateFromFile, arg.substr(update.size())};
    return {TCheckCommand::UsageError, {}};
}

const char* const kUsageText =
    "Usage: morvandle-check [--eat | --update[=FILE]]\n"
    "Checks the POP3 mailbox named in Morvandle.ini against the valid addresses in\n"
    "GoodAddr.txt and the spammer search strings in spammers.txt (both in the program's\n"
    "folder), and writes the activity log spammers.log there.\n"
    "\n"
    "  (no option)  Check Only: screen every message, delete nothing\n"
    "  --eat        Check and Eat: delete every message judged to be spam\n"
    "  --update     download spamupd.txt from the update server (UpdateServer in\n"
    "               Morvandle.ini) and merge it into spammers.txt: every line that no\n"
    "               entry covers is added\n"
    "  --update=FILE  merge the update file FILE instead (the file itself is kept)\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 the check finished without an error, 1 the server could not be\n"
    "reached or the connection could not be secured (or the settings could not be\n"
    "read), 2 usage error, 3 the check finished but reported an error on the way.\n"
    "With --update: 0 merged, 1 the file could not be had (no connection, no such file\n"
    "on the server, an incomplete download, a missing file) or the lists not saved,\n"
    "2 usage error.\n";
