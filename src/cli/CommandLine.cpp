#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

TCheckArgs Command(const std::string& arg) {
    if (arg == "--eat") return {TCheckCommand::CheckAndEat, {}};
    if (arg == "--help") return {TCheckCommand::Help, {}};
    if (arg == "--version") return {TCheckCommand::Version, {}};
    if (arg == "--update") return {TCheckCommand::UpdateFromServer, {}};
    if (arg == "--set-password") return {TCheckCommand::SetPassword, {}};
    if (arg == "--sign-in") return {TCheckCommand::SignIn, {}};
    if (arg == "--list-accounts") return {TCheckCommand::ListAccounts, {}};
    if (arg == "--quarantine") return {TCheckCommand::Quarantine, {}};
    const std::string update = "--update=";
    if (arg.rfind(update, 0) == 0 && arg.size() > update.size())
        return {TCheckCommand::UpdateFromFile, arg.substr(update.size())};
    return {TCheckCommand::UsageError, {}};
}

// A number of one to `maxDigits` decimal digits and nothing else; nothing otherwise.
std::optional<long> Digits(const std::string& text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits ||
        !std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; }))
        return std::nullopt;
    return std::stol(text);
}

// Seconds of --wait=SECONDS, at most six digits (eleven days); -2 when not a number.
int WaitSeconds(const std::string& digits) {
    const std::optional<long> seconds = Digits(digits, 6);
    return seconds ? int(*seconds) : -2;
}

} // namespace

TCheckArgs ParseCommandLine(const std::vector<std::string>& args) {
    const TCheckArgs usageError{TCheckCommand::UsageError, {}};
    TCheckArgs parsed;
    bool command = false, wait = false, accounts = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--account" || arg.rfind("--account=", 0) == 0 || arg == "--all") {
            if (accounts) return usageError;
            accounts = true;
            if (arg == "--all")
                parsed.allAccounts = true;
            else if (arg != "--account")
                parsed.account = arg.substr(10);
            else if (i + 1 < args.size())
                parsed.account = args[++i];
            if (!parsed.allAccounts && parsed.account.empty()) return usageError;
            continue;
        }
        if (arg == "--wait" || arg.rfind("--wait=", 0) == 0) {
            if (wait) return usageError;
            wait = true;
            parsed.waitSeconds = arg == "--wait" ? kWaitWithoutLimit : WaitSeconds(arg.substr(7));
            if (parsed.waitSeconds == -2) return usageError;
            continue;
        }
        if (arg == "--list" || arg == "--json") {
            bool& flag = arg == "--list" ? parsed.list : parsed.json;
            if (flag) return usageError;
            flag = true;
            continue;
        }
        if (command) return usageError;
        command = true;
        if (arg == "--quarantine-export") {
            if (i + 2 >= args.size() || args[i + 2].empty()) return usageError;
            const std::optional<long> number = Digits(args[++i], 9);
            if (!number) return usageError;
            parsed.command = TCheckCommand::QuarantineExport;
            parsed.exportNumber = *number;
            parsed.exportFile = args[++i];
            continue;
        }
        const TCheckArgs one = Command(arg);
        if (one.command == TCheckCommand::UsageError) return usageError;
        parsed.command = one.command;
        parsed.updateFile = one.updateFile;
    }
    if (wait &&
        (parsed.command == TCheckCommand::Help || parsed.command == TCheckCommand::Version ||
         parsed.command == TCheckCommand::SetPassword || parsed.command == TCheckCommand::SignIn ||
         parsed.command == TCheckCommand::ListAccounts))
        return usageError;
    const bool check =
        parsed.command == TCheckCommand::CheckOnly || parsed.command == TCheckCommand::CheckAndEat;
    const bool quarantine = parsed.command == TCheckCommand::Quarantine ||
                            parsed.command == TCheckCommand::QuarantineExport;
    if ((parsed.list && parsed.command != TCheckCommand::CheckOnly) ||
        (parsed.json && (!parsed.list || parsed.allAccounts)) || (wait && quarantine) ||
        (parsed.allAccounts && quarantine))
        return usageError;
    if ((parsed.allAccounts && !check) ||
        (!parsed.account.empty() && !check && !quarantine &&
         parsed.command != TCheckCommand::SetPassword && parsed.command != TCheckCommand::SignIn))
        return usageError;
    return parsed;
}

const char* const kUsageText =
    "Usage: morvandle-check [--eat | --update[=FILE]] [--wait[=SECONDS]]\n"
    "       morvandle-check [--eat] (--account NAME | --all) [--wait[=SECONDS]]\n"
    "       morvandle-check --set-password [--account NAME]\n"
    "       morvandle-check --sign-in [--account NAME]\n"
    "       morvandle-check --list-accounts\n"
    "       morvandle-check --list [--json | --all] [--account NAME] [--wait[=SECONDS]]\n"
    "       morvandle-check --quarantine | --quarantine-export N FILE [--account NAME]\n"
    "Checks the POP3 mailbox named in Morvandle.ini against the valid addresses in\n"
    "GoodAddr.txt and the spammer search strings in spammers.txt (both in the program's\n"
    "folder), and writes the activity log spammers.log there.\n"
    "The password comes from the command in PasswordCommand if it is set, else from the\n"
    "desktop keyring (service morvandle, key LOGIN@SERVER), else from Morvandle.ini.\n"
    "With Auth=xoauth2 or oauthbearer the login uses an access token instead: the first\n"
    "line of TokenCommand's output if it is set, else one got with the refresh token that\n"
    "--sign-in stored (keyring key oauth2:LOGIN@SERVER).\n"
    "\n"
    "  (no option)  Check Only: screen every message, delete nothing\n"
    "  --eat        Check and Eat: delete every message judged to be spam\n"
    "  --update     download spamupd.txt from the update server (UpdateServer in\n"
    "               Morvandle.ini) and merge it into spammers.txt: every line that no\n"
    "               entry covers is added\n"
    "  --update=FILE  merge the update file FILE instead (the file itself is kept)\n"
    "  --set-password  read the password (twice, without echo, from a terminal; else\n"
    "               one line of standard input) and store it in the desktop keyring,\n"
    "               or scrambled in Morvandle.ini when no keyring is available\n"
    "  --sign-in    sign in with OAuth2 (the OAuth2Provider, OAuth2ClientId... keys):\n"
    "               shows the address to open and the code to enter (or the address\n"
    "               of the browser sign-in), waits, and stores the refresh token like\n"
    "               a password\n"
    "  --account NAME  check the account NAME instead of the first one (the first is\n"
    "               section [Config] of Morvandle.ini, named by its key AccountName,\n"
    "               Main by default; each further one is a section [Account NAME]);\n"
    "               with --set-password: store that account's password\n"
    "  --all        check every enabled account (Enabled=1, the default) in turn\n"
    "  --list-accounts  list the accounts, one a line: the name, LOGIN@SERVER, and\n"
    "               \"disabled\" for an account that --all leaves out\n"
    "  --list       Check Only, then one line per message: number, verdict (OK,\n"
    "               spammer, unknown sender, check skipped), reason, From and Subject,\n"
    "               tab-separated; the check's progress goes to standard error\n"
    "  --json       with --list: a JSON array of objects (number, uidl, size, from,\n"
    "               subject, date, verdict, reason, entry, line) instead; one account\n"
    "  --quarantine  list the messages kept in the quarantine (quarantine.1.mbox, then\n"
    "               quarantine.mbox): number, date kept, From, Subject, size\n"
    "  --quarantine-export N FILE  write message N of that list to FILE, byte for\n"
    "               byte as received (an .eml file a mail program opens)\n"
    "  --wait       if another check or update runs in the program's folder, wait\n"
    "               for it to end (without --wait: do nothing and exit with 3)\n"
    "  --wait=SECONDS  wait for it at most that long\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 the check finished without an error, 1 the server could not be\n"
    "reached or the connection could not be secured (or the settings or the password\n"
    "could not be read), 2 usage error, 3 the check finished but reported an error on the way,\n"
    "or another check was running and nothing was done.\n"
    "With several accounts, each account's lines begin with its name, one failing\n"
    "account does not stop the others, and the status is the worst of the accounts':\n"
    "1 if any account gave 1, else 3 if any gave 3, else 0.\n"
    "With --update: 0 merged, 1 the file could not be had (no connection, no such file\n"
    "on the server, an incomplete download, a missing file) or the lists not saved,\n"
    "2 usage error, 3 another check was running and nothing was done.\n"
    "With --sign-in: 0 signed in, 1 not (refused, expired, or not stored), 2 usage error.\n"
    "With --quarantine and --quarantine-export: 0 done, 1 no such message or a file\n"
    "that could not be read or written, 2 usage error.\n"
    "With --set-password: 0 stored, 1 not stored (the two entries differ, no input,\n"
    "or Morvandle.ini could not be written), 2 usage error.\n";
