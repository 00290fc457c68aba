// The update download against servers that do not keep their word: one that sends more than
// it announced and never stops, one that trickles, one that announces too much. Each ends
// soon, with its own result, and leaves no part file behind.

#include "update/UpdateDownload.h"

#include "config/dataConfig.h"
#include "net/FtpCli.h"
#include "platform/FileInfo.h"

#include "support/ScriptedServer.h"
#include "support/TempDir.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using testsupport::ScriptedServer;
using update::TDownloadResult;

struct Case {
    const char* name;
    std::int64_t maxSize;
    std::chrono::milliseconds totalTime;
    int chunk, pauseMs; // how the server sends the file; 0 bytes: it is never asked for it
    TDownloadResult result;
    qint64 atMostMs;
};

TEST(UpdateDownload, ServersThatSendTooMuchOrTooSlowlyAreCutOff) {
    const Case cases[] = {
        {"more than announced, for ever", 16 << 20, std::chrono::minutes(10), 64 << 10, 0,
         TDownloadResult::TooLarge, 5000},
        {"one byte per 200 ms", 16 << 20, std::chrono::seconds(1), 1, 200,
         TDownloadResult::TimedOut, 5000},
        {"announced more than the maximum", 20, std::chrono::minutes(10), 0, 0,
         TDownloadResult::OverLimit, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        server.SendLine("220 ready");
        server.Expect("USER anonymous").SendLine("331 password please");
        server.Expect("PASS morvandle@").SendLine("230 logged in");
        server.Expect("CWD /pub/apps").SendLine("250 ok");
        server.Expect("SIZE spamupd.txt").SendLine("213 30");
        if (c.chunk > 0) {
            server.Expect("TYPE I").SendLine("200 binary");
            server.ExpectPrefix("PORT 127,0,0,1,").SendLine("200 PORT ok.");
            server.Expect("RETR spamupd.txt").SendLine("150 here it comes");
            server.OpenData().StreamData(c.chunk, c.pauseMs);
        } else {
            server.Expect("QUIT").SendAndClose("221 bye\r\n");
        }
        server.Start();

        testsupport::TempDir dir;
        const std::string target = dir.File("spamupd.txt");
        const std::string part = update::UpdatePartFile(target);
        TConfigData config;
        config.UpdateServer = "127.0.0.1:" + server.PortText();
        TFtpClient ftp;
        update::ConfigureUpdateClient(ftp, config);
        ftp.SetTimeout(10); // longer than any pause: only the bounds may end these downloads
        // The part file's size whenever the client reports something, up to its stop.
        std::int64_t written = 0;
        ftp.OnDisplay = [&](TCustomFtpCli*, const std::string&) {
            written = std::max(written, platform::FileSize(part).value_or(0));
        };

        QElapsedTimer clock;
        clock.start();
        const TDownloadResult result =
            update::DownloadUpdateFile(ftp, target, nullptr, nullptr, {c.maxSize, c.totalTime});
        EXPECT_EQ(static_cast<int>(result), static_cast<int>(c.result));
        EXPECT_GE(clock.elapsed(), c.chunk == 1 ? c.totalTime.count() : 0);
        EXPECT_LT(clock.elapsed(), c.atMostMs);
        EXPECT_LT(written, 1 << 20);
        EXPECT_FALSE(platform::FileExists(part));
        EXPECT_FALSE(platform::FileExists(target));
        EXPECT_EQ(server.Failures(), std::vector<std::string>{});
        if (c.result == TDownloadResult::TooLarge)
            RecordProperty("BytesWrittenBeforeStop", std::to_string(written));
    }
}

} // namespace
