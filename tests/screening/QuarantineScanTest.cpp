// Check and Eat with the quarantine on, against scripted servers: a message is deleted only
// once its copy is safe on disk, and nothing that goes wrong on the way harms the copies
// already kept.

#include "ScanTestSupport.h"
#include "platform/Clock.h"
#include "support/ScriptedServer.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <linux/capability.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

const QDateTime kNow(QDate(2026, 12, 8), QTime(1, 17, 40), Qt::UTC);

// Drops, for this thread, the capabilities that let root write where permissions forbid
// it, so that a read-only folder is read-only here too; restored when it goes.
class WithoutFileOverride {
  public:
    WithoutFileOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutFileOverride() {
        if (dropped_) ::syscall(SYS_capset, &header_, saved_);
    }

  private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

// Files may grow to `bytes` at most while it lives (the kernel's file size limit: a write
// past it fails half way, as on a full disk).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit small = saved_;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, handler_);
    }

  private:
    rlimit saved_{};
    void (*handler_)(int);
};

struct QuarantineScan : ScanFixture {
    QuarantineScan() {
        platform::SetNowOverride(kNow);
        config.Unknown = true; // nobody is at this address: every message is eaten
        config.GoodAddrList = {"nobody@elsewhere.example"};
        config.ListsChanged();
    }
    ~QuarantineScan() override { platform::SetNowOverride(QDateTime()); }

    std::string Mbox() const { return testsupport::ReadFile(dir.File("quarantine.mbox")); }

    static std::vector<std::string> Lines(int msg) {
        return {"From: m" + std::to_string(msg) + "@x.example",
                "Subject: number " + std::to_string(msg), "", "body " + std::to_string(msg),
                std::string(1000, 'b')};
    }
    static void Headers(ScriptedServer& s, int msg) {
        s.Expect("TOP " + std::to_string(msg) + " 0").SendLine("+OK");
        for (const std::string& line : Lines(msg)) {
            if (line.empty()) break;
            s.SendLine(line);
        }
        s.SendLine("").SendLine(".");
    }
    static void Retr(ScriptedServer& s, int msg) {
        s.Expect("RETR " + std::to_string(msg)).SendLine("+OK");
        for (const std::string& line : Lines(msg))
            s.SendLine(line);
        s.SendLine(".");
    }
    // Message msg as the quarantine keeps it.
    static std::string Kept(int msg) {
        std::string text = "From m" + std::to_string(msg) + "@x.example Tue Dec  8 01:17:40 2026\n";
        for (const std::string& line : Lines(msg))
            text += line + "\n";
        return text + "\n";
    }
    static void Open(ScriptedServer& s, int count) {
        LoggedIn(s);
        testsupport::Pop3Stat(s, count);
    }
};

bool Sent(const ScriptedServer& s, const std::string& command) {
    auto r = s.Received();
    return std::find(r.begin(), r.end(), command) != r.end();
}

} // namespace

TEST_F(QuarantineScan, NoCopyNoDeletion) {
    const std::string earlier = Kept(7); // what earlier scans kept must survive every case
    struct Case {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        bool limitFileSize, readOnlyFolder;
        std::string error;     // shown and logged (prefix)
        std::string mboxAfter; // appended behind `earlier`
        std::string notSent;   // a command the server must not receive
        std::string stats;
    } cases[] = {
        {"RETR refused",
         [](ScriptedServer& s) {
             Open(s, 2);
             Headers(s, 1);
             s.Expect("RETR 1").SendLine("-ERR cannot read it");
             Headers(s, 2);
             Retr(s, 2);
             s.Expect("DELE 2").SendLine("+OK");
             testsupport::Pop3Quit(s);
         },
         false, false, "Error 500 copying msg 1 to quarantine - not deleted", Kept(2), "DELE 1",
         "2 Checked, 0 OK'd, 1 Eaten"},
        {"connection lost during RETR",
         [](ScriptedServer& s) {
             Open(s, 2);
             Headers(s, 1);
             Retr(s, 1);
             s.Expect("DELE 1").SendLine("+OK");
             Headers(s, 2);
             // Enough of it to reach the disk before the connection goes.
             std::string part = "+OK\r\nFrom: m2@x.example\r\n\r\n";
             while (part.size() < 400000)
                 part += std::string(998, 'p') + "\r\n";
             s.Expect("RETR 2").SendAndClose(part + "half a li");
         },
         false, false, "Error 10004 copying msg 2 to quarantine - not deleted", Kept(1), "DELE 2",
         "2 Checked, 0 OK'd, 0 Eaten"},
        {"full disk",
         [](ScriptedServer& s) {
             Open(s, 1);
             Headers(s, 1);
             Retr(s, 1);
             testsupport::Pop3Quit(s);
         },
         true, false, "Cannot keep msg 1 in quarantine: ", "", "DELE 1",
         "1 Checked, 0 OK'd, 0 Eaten"},
        {"read-only folder",
         [](ScriptedServer& s) {
             Open(s, 1);
             Headers(s, 1);
             testsupport::Pop3Quit(s);
         },
         false, true, "Cannot keep msg 1 in quarantine: ", "", "RETR 1",
         "1 Checked, 0 OK'd, 0 Eaten"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::WriteFile(dir.File("quarantine.mbox"), earlier);
        testsupport::WriteFile(dir.File("spammers.log"), ""); // writable in a read-only folder
        ScriptedServer s;
        c.script(s);
        Serve(s);
        {
            std::optional<FileSizeLimit> limit;
            std::optional<WithoutFileOverride> unprivileged;
            if (c.limitFileSize) limit.emplace(earlier.size() + 500);
            if (c.readOnlyFolder) {
                ::chmod(dir.Path().c_str(), 0555);
                ::chmod(dir.File("quarantine.mbox").c_str(), 0444);
                unprivileged.emplace();
            }
            ASSERT_NO_FATAL_FAILURE(Scan(true));
        }
        ::chmod(dir.Path().c_str(), 0700);
        ::chmod(dir.File("quarantine.mbox").c_str(), 0600);
        EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
        EXPECT_FALSE(Sent(s, c.notSent));
        const std::string mbox = Mbox();
        EXPECT_TRUE(mbox == earlier + c.mboxAfter)
            << mbox.size() << " bytes instead of " << earlier.size() + c.mboxAfter.size();
        auto log = LogLines();
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
            return l.rfind(c.error, 0) == 0;
        })) << c.error;
        EXPECT_TRUE(std::any_of(view.labels.begin(), view.labels.end(),
                                [&](const std::string& l) { return l.rfind(c.error, 0) == 0; }));
        EXPECT_EQ(log.back(), "Stats: " + c.stats);
    }
}

TEST_F(QuarantineScan, CheckOnlyFetchesNoWholeMessage) {
    ScriptedServer s;
    Open(s, 1);
    Headers(s, 1);
    testsupport::Pop3Quit(s);
    Serve(s);
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
    EXPECT_EQ(view.statusBar, "Last Results - 1 Checked, 0 OK'd, 0 Eaten");
    EXPECT_FALSE(std::filesystem::exists(dir.File("quarantine.mbox")));
}
