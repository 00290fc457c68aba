#pragma once

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "platform/Paths.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace scantest {

// Records what a scan shows, in the order it shows it.
struct RecordingView : screening::TScanView {
    std::vector<std::string> labels, activities;
    std::string statusBar = "Last Results - [none]";
    std::string failure;
    std::vector<std::string> progress;
    bool commandsEnabled = true;
    bool checkOnlyMark = false, checkEatMark = false, animating = false;
    bool hidden = false;
    int hideCalls = 0;

    void SetConnectionStatus(const std::string& t) override { labels.push_back(t); }
    void SetActivity(const std::string& t) override { activities.push_back(t); }
    void SetStatusBar(const std::string& t) override { statusBar = t; }
    void SetFailure(const std::string& t) override { failure = t; }
    void SetMailboxProgress(const std::string& t) override { progress.push_back(t); }
    void SetScanCommandsEnabled(bool on) override { commandsEnabled = on; }
    void SetScanModeChecks(bool only, bool eat) override {
        checkOnlyMark = only, checkEatMark = eat;
    }
    void SetTrayAnimation(bool on) override { animating = on; }
    bool HiddenToTray() const override { return hidden; }
    void HideToTray() override { ++hideCalls; }
    void SetProgressPosition(int) override {}
    void SetProgressMax(int) override {}
    void StepProgress(int) override {}

    bool Shown(const std::string& label) const {
        return std::find(labels.begin(), labels.end(), label) != labels.end();
    }
};

// A session wired as the main window wires it, logging without time stamps so that tests
// can compare the lines.
struct ScanFixture : ::testing::Test {
    testsupport::TempDir dir;
    TConfigData config;
    TkelLog log;
    TPop3Cli client;
    RecordingView view;
    screening::TScanSession session{client, log, config, view};
    int scanEnds = 0;

    ScanFixture() {
        platform::SetProgramDirOverride(dir.Path()); // where the quarantine file goes
        config.HeaderCache = false; // the conversation one TOP per message; cache tests set it
        log.SetOptions({});
        log.SetArchiveMode(bkNone);
        log.SetLogFileName(dir.File("spammers.log"));
        session.OnScanEnd = [this] { ++scanEnds; };
    }
    ~ScanFixture() override { platform::SetProgramDirOverride(""); }

    void UseServer(const std::string& hostAndPort, const std::string& user,
                   const std::string& password) {
        config.Server = hostAndPort;
        config.Login = user;
        config.Password = password;
        screening::ApplyPop3Settings(client, config);
    }

    // The greeting and bob's login that the scripted servers here start with.
    static testsupport::ScriptedServer& LoggedIn(testsupport::ScriptedServer& s) {
        testsupport::Pop3Greeting(s);
        testsupport::Pop3Login(s, "bob", "pw");
        return s;
    }

    // Starts the scripted server and points the check at it, as bob.
    void Serve(testsupport::ScriptedServer& s) {
        s.Start();
        UseServer("127.0.0.1:" + s.PortText(), "bob", "pw");
    }

    // Runs one scan to its end.
    void Scan(bool eat) {
        int before = scanEnds;
        session.StartScan(eat);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return scanEnds > before; }, 20000))
            << "the scan did not end";
        EXPECT_FALSE(session.Busy());
        EXPECT_TRUE(view.commandsEnabled);
        EXPECT_FALSE(view.animating);
        EXPECT_FALSE(view.checkOnlyMark || view.checkEatMark);
        EXPECT_TRUE(session.HeaderLines().empty());
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        const std::string text = testsupport::ReadFile(dir.File("spammers.log"));
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }
};

} // namespace scantest
