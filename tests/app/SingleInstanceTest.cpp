// Only one copy runs: a second morvandle process against a first one, and a crashed copy's
// lock.

#include "AppTestSupport.h"

#include "app/SingleInstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

using testsupport::TempDir;
using testsupport::WaitUntil;

namespace {

// A copy of the program in a folder of its own (its log goes there), with its own settings
// and the given runtime folder.
struct ProgramCopy {
    TempDir folder;
    QProcess process;

    explicit ProgramCopy(const std::string& runtimeDir) {
        const QString binary = QString::fromStdString(folder.File("morvandle"));
        QFile::copy(MORVANDLE_BINARY, binary);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(folder.File("config")));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProgram(binary);
    }
    ~ProgramCopy() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    std::string Log() const { return testsupport::ReadFile(folder.File("spammers.log")); }
};

using SecondCopy = apptest::WindowFixture;

} // namespace

TEST(SingleInstanceName, IsTheProgramFileNameCutAtItsFirstDot) {
    const struct {
        const char* path;
        const char* title;
    } cases[] = {{"/usr/bin/morvandle", "morvandle"},
                 {"C/MORVANDLE.EXE", "Morvandle"},
                 {"./Morvandle.bin.old", "Morvandle"},
                 {"mV", "mv"}};
    for (const auto& c : cases)
        EXPECT_EQ(DefaultTitle(c.path), c.title) << c.path;
}

TEST_F(SecondCopy, BringsTheFirstWindowUpWritesItsLinesAndEnds) {
    TempDir runtime;
    MakeWindow();
    TSingleInstance guard(QString::fromStdString(runtime.Path()), "morvandle");
    ASSERT_TRUE(guard.Acquire());
    int calls = 0;
    guard.OnActivate = [&] {
        ++calls;
        window->BringToFront();
    };
    window->show();

    const struct {
        const char* state;
        std::function<void()> enter;
    } states[] = {
        {"hidden to the tray", [&] { window->HideToTray(); }},
        {"minimised", [&] { window->showMinimized(); }},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.state);
        s.enter();
        ProgramCopy second(runtime.Path());
        QElapsedTimer clock;
        clock.start();
        second.process.start();
        ASSERT_TRUE(WaitUntil([&] { return second.process.state() == QProcess::NotRunning; }));
        EXPECT_LT(clock.elapsed(), 3000);
        EXPECT_EQ(second.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.process.exitCode(), 0) << second.process.readAllStandardError().data();
        ASSERT_TRUE(WaitUntil([&] { return window->isVisible() && !window->isMinimized(); }));
        EXPECT_FALSE(window->HiddenToTray());

        const std::string log = second.Log();
        EXPECT_NE(log.find("Morvandle v" MORVANDLE_VERSION " Started\r\n"), std::string::npos);
        EXPECT_NE(log.find("Morvandle v" MORVANDLE_VERSION " terminated\r\n"), std::string::npos);
        EXPECT_EQ(testsupport::ReadFile(second.folder.File("config/Morvandle.ini")), "<missing>")
            << "the second copy saved a window position";
    }
    EXPECT_EQ(calls, 2);
}

TEST(SingleInstance, ALockLeftByACrashedCopyDoesNotBlockTheNextStart) {
    TempDir runtime;
    {
        ProgramCopy crashed(runtime.Path());
        crashed.process.start();
        ASSERT_TRUE(WaitUntil(
            [&] { return QFile::exists(QString::fromStdString(runtime.File("morvandle.socket"))); },
            10000))
            << "the first copy did not start listening";
        crashed.process.kill(); // SIGKILL: lock and socket files stay behind
        crashed.process.waitForFinished();
    }
    ASSERT_TRUE(QFile::exists(QString::fromStdString(runtime.File("morvandle.lock"))));

    TSingleInstance guard(QString::fromStdString(runtime.Path()), "morvandle");
    ASSERT_TRUE(guard.Acquire());
    int calls = 0;
    guard.OnActivate = [&] { ++calls; };
    ProgramCopy next(runtime.Path());
    next.process.start();
    ASSERT_TRUE(WaitUntil([&] { return next.process.state() == QProcess::NotRunning; }));
    EXPECT_EQ(next.process.exitCode(), 0);
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
}
