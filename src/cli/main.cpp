// morvandle-check: the scan of the main window, without a window.

#include "cli/AccountRuns.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleScanView.h"
#include "cli/ConsoleUpdateView.h"
#include "cli/PasswordPrompt.h"
#include "cli/ResultListing.h"
#include "cli/SignIn.h"
#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/FtpCli.h"
#include "net/Pop3Prot.h"
#include "platform/AtomicFile.h"
#include "platform/ErrorReport.h"
#include "platform/Paths.h"
#include "screening/CheckLock.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"
#include "secrets/SecretStore.h"
#include "secrets/SettingsFileMode.h"
#include "signin/AccessToken.h"
#include "update/UpdateDownload.h"
#include "update/UpdateMerge.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

int errorsReported = 0;
// Set by SIGINT or SIGTERM: the running check ends and no further account starts.
bool stopRequested = false;

// The exit status when another check or update runs in the program's folder.
constexpr int kOtherCheckRunning = 3;

// SIGINT and SIGTERM only write a byte here; the event loop reads it and stops the check.
int stopPipe[2] = {-1, -1};

void RequestStop(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
}

// While it lives, SIGINT and SIGTERM call `stop` from the event loop.
class TStopOnSignal {
  public:
    explicit TStopOnSignal(std::function<void()> stop) {
        if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return; // the signals then kill
        notifier_ = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [stop = std::move(stop)] {
            char bytes[16];
            while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
            }
            stop();
        });
        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
    }
    ~TStopOnSignal() {
        if (!notifier_) return;
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        notifier_.reset();
        ::close(stopPipe[0]);
        ::close(stopPipe[1]);
    }
    TStopOnSignal(const TStopOnSignal&) = delete;
    TStopOnSignal& operator=(const TStopOnSignal&) = delete;

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

// One check or update per program folder: false, with the holder named on stderr, when
// another keeps the lock beyond the wait the command line allows.
bool TakeCheckLock(screening::TCheckLock& lock, int waitSeconds) {
    if (waitSeconds == kWaitWithoutLimit) {
        lock.Lock();
        return true;
    }
    if (lock.LockWithin(std::chrono::seconds(waitSeconds))) return true;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", lock.BusyText().c_str());
    return false;
}

// The log exactly as the main window sets it up.
void SetUpLogFile(TkelLog& log) {
    log.SetOptions({logTimestamp});
    log.SetMaxSize(524288);
    log.SetArchiveMode(bkSize);
    log.SetSingleBackup(true);
    log.SetTimestampFormat("dd mmm yyyy hh:nn:ss ");
    log.SetLogFileName(platform::ProgramDir() + "/spammers.log");
}

// Checks the account whose keys ConfigData holds. With --list, the results go to standard
// output and the check's progress to standard error.
int CheckAccount(QCoreApplication& app, bool eat, const TCheckArgs& args) {
    const std::string& prefix = ConfigData->LinePrefix;
    const int errorsBefore = errorsReported; // another account's are not this one's
    // A first start: without a server the check could only fail with a lookup error.
    if (ConfigData->Server.empty() || ConfigData->Server == "undefined") {
        std::fprintf(stderr,
                     "%sNo server is set: run the desktop program's Preferences, or set Server "
                     "in %s\n",
                     prefix.c_str(), platform::SettingsFilePath().c_str());
        return 1;
    }
    int status = 0;
    {
        TkelLog log;
        SetUpLogFile(log);
        const secrets::TModeCheck mode = secrets::TightenSettingsFile();
        if (mode.kind != secrets::TModeCheck::Private) log.AddLine("", "", mode.text);
        if (mode.kind == secrets::TModeCheck::OthersCanRead)
            std::fprintf(stderr, "%s\n", mode.text.c_str());
        TPop3Cli client;
        screening::ApplyPop3Settings(client, *ConfigData);
        std::FILE* const progress = args.list ? stderr : stdout;
        TConsoleScanView view(progress, prefix);
        screening::TScanSession session(client, log, *ConfigData, view);
        session.SetResultDigests(false); // no "Eat marked" here
        session.OnScanEnd = [&app] {
            // Queued: the scan may end inside StartScan, before the loop runs.
            QMetaObject::invokeMethod(
                &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        };
        // Abandoned without QUIT, the check deletes nothing.
        TStopOnSignal stopOnSignal([&] {
            stopRequested = true;
            if (session.State() == screening::TScanSession::TScanState::Idle)
                QCoreApplication::exit(0); // still waiting for the password
            else
                session.Stop();
        });
        // The scan starts once the password (or access token) is at hand; without one it does
        // not start.
        signin::ReadLoginSecret(*ConfigData, &app, [&](const secrets::TSecret& password) {
            platform::Guarded([&] {
                if (!password.ok) {
                    // For cron jobs that drop the output.
                    log.AddLine("", "", prefix + password.error);
                    std::fflush(stdout);
                    std::fprintf(stderr, "%s%s\n", prefix.c_str(), password.error.c_str());
                    QCoreApplication::exit(0);
                    return;
                }
                client.SetPassWord(password.secret);
                session.StartScan(eat);
            });
        });
        app.exec();
        if (!view.StatusBar().empty()) std::fprintf(progress, "%s\n", view.StatusBar().c_str());
        if (args.list && session.ReachedReport())
            PrintResults(session.Results(), args.json, stdout, prefix);
        if (stopRequested)
            status = 3;
        else if (!session.ReachedReport())
            status = 1;
        else if (session.ErrorCount() > 0 || errorsReported > errorsBefore)
            status = 3;
    }
    return status;
}

int RunCheck(QCoreApplication& app, bool eat, const TCheckArgs& args) {
    screening::TCheckLock lock;
    if (!TakeCheckLock(lock, args.waitSeconds)) return kOtherCheckRunning;
    CreateConfigData();
    int status = 1;
    if (errorsReported == 0)
        if (const auto accounts = ChosenAccounts(args))
            status = CheckAccounts(
                *accounts, [&] { return CheckAccount(app, eat, args); }, stopRequested);
    DestroyConfigData();
    return status;
}

// Fetches spamupd.txt from the update server into the program's folder; false, with the
// reason on stderr, when no complete file arrived.
bool Download(const std::string& target, TkelLog& log) {
    TFtpClient ftp;
    update::ConfigureUpdateClient(ftp, *ConfigData);
    ftp.OnDisplay = [&log](TCustomFtpCli*, const std::string& msg) {
        if (ConfigData->LogLevel) log.AddLine("", "", msg);
    };
    log.AddLine("", "", "Retrieving spammers list update");
    std::printf("Connecting to %s....\n", ftp.HostName().c_str());
    std::fflush(stdout);
    const char* problem = nullptr;
    switch (
        update::DownloadUpdateFile(ftp, target, nullptr, nullptr, {ConfigData->MaxUpdateSize})) {
    case update::TDownloadResult::Downloaded:
        std::printf("Received - processing update...\n");
        return true;
    case update::TDownloadResult::NoConnection:
        problem = "Unable to connect to the update server";
        break;
    case update::TDownloadResult::NoSize:
        problem = "Unable to retrieve update file size";
        break;
    case update::TDownloadResult::Cancelled:
    case update::TDownloadResult::Incomplete:
        problem = "The update file did not arrive complete; nothing was merged";
        break;
    case update::TDownloadResult::NotStored:
        problem = "Unable to store the update file";
        break;
    case update::TDownloadResult::TooLarge:
        problem = update::kUpdateTooLargeText;
        break;
    case update::TDownloadResult::OverLimit:
        problem = update::kUpdateOverLimitText;
        break;
    case update::TDownloadResult::TimedOut:
        problem = update::kUpdateTimedOutText;
        break;
    }
    std::fprintf(stderr, "%s: %s\n", problem, ftp.HostName().c_str());
    return false;
}

// Merges an update file as the update dialog does, from the update server (file empty) or a
// local file. Exit status 0 after a merge, 1 when the settings or the file could not be had
// or the lists not saved, 3 when another check runs.
int RunUpdate(const std::string& file, int waitSeconds) {
    screening::TCheckLock lock;
    if (!TakeCheckLock(lock, waitSeconds)) return kOtherCheckRunning;
    CreateConfigData();
    int status = 1;
    if (errorsReported == 0) {
        TkelLog log;
        SetUpLogFile(log);
        TConsoleUpdateView view(stdout);
        const bool fromServer = file.empty();
        const std::string path = fromServer ? platform::ProgramDir() + "/spamupd.txt" : file;
        // Left by a download that was killed part-way.
        update::RemoveStaleUpdatePart(platform::ProgramDir() + "/spamupd.txt");
        if (!fromServer || Download(path, log)) {
            const update::TMergeResult result = update::MergeUpdateFile(
                path, fromServer ? update::usUpdateServer : update::usLocalFile, *ConfigData, log,
                view);
            if (result.merged) status = 0;
        }
    }
    DestroyConfigData();
    return status;
}

// Stores a password read from the terminal or standard input where the secret store puts it.
int RunSetPassword(QCoreApplication& app) {
    const std::optional<std::string> password = ReadNewPassword(stdin);
    if (!password) return 1;
    ConfigData->Password = *password;
    int status = 1;
    secrets::StorePassword(*ConfigData, &app, [&status](const secrets::TStored& stored) {
        if (!stored.ok) {
            std::fprintf(stderr, "%s\n", stored.error.c_str());
        } else {
            if (!stored.notice.empty()) std::printf("%s\n", stored.notice.c_str());
            status = 0;
        }
        QCoreApplication::exit(0);
    });
    app.exec();
    return status;
}

// Runs `run` with ConfigData holding the account `name` (the first when empty); 1 when the
// settings cannot be read or name no such account.
int ForNamedAccount(const std::string& name, const std::function<int()>& run) {
    int status = 1; // stays so when something nobody expected stops `run`
    platform::Guarded([&] {
        CreateConfigData();
        if (errorsReported == 0 && UseNamedAccount(name)) status = run();
        DestroyConfigData();
    });
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const TCheckArgs parsed = ParseCommandLine(args);
    const TCheckCommand command = parsed.command;
    // Qt's own event dispatcher, not GLib's: a console program joins no desktop main loop,
    // and the plain one costs less per event (a 1,000-message scan took a sixth less
    // processor time with it here). The keyring's answers arrive through GLib's loop only,
    // so the commands that may ask it for the password keep that one, where a bus is.
    const bool keyring =
        (command == TCheckCommand::CheckOnly || command == TCheckCommand::CheckAndEat ||
         command == TCheckCommand::SetPassword || command == TCheckCommand::SignIn) &&
        secrets::SessionBusReachable();
    if (!keyring && qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    platform::SetErrorReporter([](const std::string& message) {
        ++errorsReported;
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", message.c_str());
    });
    // What saves killed half way left behind.
    platform::RemoveStaleTempFiles(platform::ProgramDir());
    platform::RemoveStaleTempFiles(platform::FolderOf(platform::SettingsFilePath()));
    switch (command) {
    case TCheckCommand::Help:
        std::fputs(kUsageText, stdout);
        return 0;
    case TCheckCommand::Version:
        std::printf("morvandle-check %s\n", MORVANDLE_VERSION);
        return 0;
    case TCheckCommand::UsageError:
        std::fputs(kUsageText, stderr);
        return 2;
    case TCheckCommand::UpdateFromServer:
    case TCheckCommand::UpdateFromFile: {
        int status = 1; // stays so when reading or saving fails
        platform::Guarded([&] { status = RunUpdate(parsed.updateFile, parsed.waitSeconds); });
        return status;
    }
    case TCheckCommand::SetPassword:
        return ForNamedAccount(parsed.account, [&] { return RunSetPassword(app); });
    case TCheckCommand::SignIn:
        return ForNamedAccount(parsed.account, [&] { return RunSignIn(app, *ConfigData); });
    case TCheckCommand::ListAccounts:
        return ListAccounts();
    case TCheckCommand::Quarantine:
    case TCheckCommand::QuarantineExport:
        return ForNamedAccount(parsed.account, [&] {
            const std::string path = screening::QuarantinePath(ConfigData->FilesName);
            return command == TCheckCommand::Quarantine
                       ? PrintQuarantine(path, stdout)
                       : ExportFromQuarantine(path, parsed.exportNumber, parsed.exportFile);
        });
    case TCheckCommand::CheckAndEat:
    case TCheckCommand::CheckOnly:
        break;
    }
    const bool eat = command == TCheckCommand::CheckAndEat;
    int status = 1; // stays so when something nobody expected stops the check
    platform::Guarded([&] { status = RunCheck(app, eat, parsed); });
    return status;
}
