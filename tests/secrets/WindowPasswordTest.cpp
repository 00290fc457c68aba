// The main window's scan commands read the password first, and do not scan without it.

#include "app/AppTestSupport.h"
#include "net/Pop3Prot.h"
#include "screening/CheckLock.h"

namespace {

struct WindowPassword : apptest::WindowFixture {};

} // namespace

TEST_F(WindowPassword, ScanStartsWithTheCommandsPasswordOrNotAtAll) {
    struct Case {
        const char* command;
        std::string status;   // the start of the status bar once it is over
        std::string password; // the POP3 client's
    } const cases[] = {
        {"printf 'pw\\n'", "Last Results - ", "pw"},
        {"echo nope >&2; exit 2", "The password command failed with exit status 2: nope", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        window.reset();
        DestroyConfigData();
        // Nothing listens there: a scan that starts ends at once.
        MakeWindow("Server=127.0.0.1:1\r\nPasswordCommand=" + std::string(c.command) + "\r\n");
        Click("btnCheck");
        EXPECT_TRUE(window->Busy()) << "looks started while the password is read";
        EXPECT_FALSE(Find<QPushButton>("btnCheck")->isEnabled());
        ASSERT_TRUE(testsupport::WaitUntil([&] { return !window->Busy(); }, 15000));
        EXPECT_EQ(Text("StatusBarPanel").toStdString().rfind(c.status, 0), 0u)
            << Text("StatusBarPanel").toStdString();
        EXPECT_EQ(window->Pop3Client().PassWord(), c.password);
        EXPECT_TRUE(Find<QPushButton>("btnCheck")->isEnabled());
        EXPECT_FALSE(Find<QAction>("CheckforSpam1")->isChecked());
        screening::TCheckLock lock;
        EXPECT_TRUE(lock.TryLock()) << "the window let go of the check lock";
    }
}
