#pragma once

// Shared by the FTP client's scripted-server tests: a client, a recorder and a server whose
// script the test writes.

#include "FtpTest.h"

#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

namespace ftptest {

class FtpScripted : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& f : server.Failures())
            ADD_FAILURE() << "server: " << f;
    }

    // The server's side of the banner, USER and PASS; the test's own steps follow.
    static testsupport::ScriptedServer& LoginScript(testsupport::ScriptedServer& s) {
        s.SendLine("220 ready");
        s.Expect("USER bob").SendLine("331 password please");
        s.Expect("PASS pw").SendLine("230 logged in");
        return s;
    }
    testsupport::ScriptedServer& LoginScript() { return LoginScript(server); }

    // Points a client at a server as bob.
    static void Configure(TFtpClient& c, const testsupport::ScriptedServer& s) {
        c.SetHostName("127.0.0.1");
        c.SetPort(s.PortText());
        c.SetUserName("bob");
        c.SetPassWord("pw");
        c.SetTimeout(10);
    }

    void StartClient() {
        Configure(cli, server);
        server.Start();
    }

    void LogIn() {
        StartClient();
        ASSERT_TRUE(cli.ConnectSync()) << cli.ErrorMessage();
    }

    // Starts an asynchronous operation and waits for its OnRequestDone; returns its error.
    int Run(void (TCustomFtpCli::*op)()) {
        QCoreApplication::processEvents(); // reports of earlier blocking calls go first
        const std::size_t before = rec.done.size();
        (cli.*op)();
        if (!rec.WaitDone(before + 1)) return -1;
        return rec.Last().error;
    }

    testsupport::ScriptedServer server;
    TFtpClient cli;
    Recorder rec{cli};
};

} // namespace ftptest
