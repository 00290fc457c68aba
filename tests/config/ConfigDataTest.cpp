#include "ConfigFixture.h"

#include "platform/ErrorReport.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

using Lines = std::vector<std::string>;

using ConfigDataTest = ConfigFixture;

TEST_F(ConfigDataTest, NoFilesGiveTheDefaultsAndCreateNothing) {
    CreateConfigData();
    ASSERT_NE(ConfigData, nullptr);
    EXPECT_EQ(ConfigData->Server, "undefined");
    EXPECT_EQ(ConfigData->Login, "undefined");
    EXPECT_EQ(ConfigData->Password, "");
    EXPECT_FALSE(ConfigData->LogLevel || ConfigData->Unknown || ConfigData->Strict ||
                 ConfigData->NoCase);
    EXPECT_EQ(ConfigData->Width, 422);
    EXPECT_EQ(ConfigData->Height, 244);
    EXPECT_EQ(ConfigData->Top, 200);
    EXPECT_EQ(ConfigData->Left, 200);
    EXPECT_EQ(ConfigData->Update, "");
    EXPECT_TRUE(ConfigData->Quarantine);
    EXPECT_TRUE(ConfigData->GoodAddrList.empty());
    EXPECT_TRUE(ConfigData->SpammerList.empty());
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
    EXPECT_TRUE(std::filesystem::is_empty(ProgramDir()));
}

TEST_F(ConfigDataTest, ReadsEveryKeyWithTheValueRules) {
    WriteFile(IniPath(), "[Config]\r\nServer=pop.example.com\r\nLogin=me\r\nPassword=ijk\r\n"
                         "LogLevel=yes\r\nUnknown=1\r\nStrict=2\r\nNoCase=0x10\r\n"
                         "Width=0x1A6\r\nHeight=abc\r\nTop= 500\r\nLeft=-5\r\n"
                         "Update=12/01/2026 10:00:00\r\nQuarantine=0\r\n");
    WriteFile(ProgramFile("GoodAddr.txt"), "me@example.com\r\n");
    WriteFile(ProgramFile("spammers.txt"), "spam.example\r\nbuy now\r\n");
    CreateConfigData();
    EXPECT_EQ(ConfigData->Server, "pop.example.com");
    EXPECT_EQ(ConfigData->Login, "me");
    EXPECT_EQ(ConfigData->Password, "abc");
    EXPECT_FALSE(ConfigData->LogLevel);
    EXPECT_TRUE(ConfigData->Unknown);
    EXPECT_TRUE(ConfigData->Strict);
    EXPECT_TRUE(ConfigData->NoCase);
    EXPECT_EQ(ConfigData->Width, 422);
    EXPECT_EQ(ConfigData->Height, 244);
    EXPECT_EQ(ConfigData->Top, 500);
    EXPECT_EQ(ConfigData->Left, -5);
    EXPECT_EQ(ConfigData->Update, "12/01/2026 10:00:00");
    EXPECT_FALSE(ConfigData->Quarantine);
    EXPECT_EQ(ConfigData->GoodAddrList, Lines{"me@example.com"});
    EXPECT_EQ(ConfigData->SpammerList, (Lines{"spam.example", "buy now"}));
}

TEST_F(ConfigDataTest, WriteConfigWritesItsKeysInOrderAndLeavesTheRestAlone) {
    CreateConfigData();
    ConfigData->Server = "pop.example.com";
    ConfigData->Login = "me";
    ConfigData->Password = "abc";
    ConfigData->LogLevel = true;
    ConfigData->Strict = true;
    ConfigData->Update = "stamp"; // written by the update merge alone
    ConfigData->Width = 1;        // never written by WriteConfig
    ConfigData->WriteConfig();    // the password goes where the secret store decides
    EXPECT_EQ(ReadFile(IniPath()), "[Config]\nServer=pop.example.com\nLogin=me\n"
                                   "LogLevel=1\nUnknown=0\nStrict=1\nNoCase=0\n"
                                   "Quarantine=1\nSecurity=0\nCAFile=\n");

    WriteFile(IniPath(), "[Config]\nWidth=600\nLeft=7\nLogLevel=yes\nFoo=bar\n[Extra]\nX=1\n");
    ConfigData->LogLevel = false;
    ConfigData->Password = "";
    ConfigData->Quarantine = false;
    ConfigData->WriteConfig();
    EXPECT_EQ(ReadFile(IniPath()), "[Config]\nWidth=600\nLeft=7\nLogLevel=0\nFoo=bar\n"
                                   "Server=pop.example.com\nLogin=me\nUnknown=0\n"
                                   "Strict=1\nNoCase=0\nQuarantine=0\nSecurity=0\nCAFile=\n"
                                   "[Extra]\nX=1\n");
}

TEST_F(ConfigDataTest, SecurityReadsSoThatNoTypoSendsThePasswordInClear) {
    struct Case {
        std::string lines;
        int32_t security;
    };
    for (const Case& c : std::vector<Case>{{"", 0},
                                           {"Security=\r\n", 0},
                                           {"Security=0\r\n", 0},
                                           {"Security=1\r\n", 1},
                                           {"Security= 2\r\n", 2},
                                           {"Security=3\r\n", 1},
                                           {"Security=-1\r\n", 1},
                                           {"Security=TLS\r\n", 1}}) {
        WriteFile(IniPath(), "[Config]\r\n" + c.lines + "CAFile=/etc/my ca.pem\r\n");
        CreateConfigData();
        EXPECT_EQ(ConfigData->Security, c.security) << c.lines;
        EXPECT_EQ(ConfigData->CAFile, "/etc/my ca.pem");
        ConfigData->Security = 2;
        ConfigData->WriteConfig();
        DestroyConfigData();
        CreateConfigData();
        EXPECT_EQ(ConfigData->Security, 2);
        EXPECT_EQ(ConfigData->CAFile, "/etc/my ca.pem");
        DestroyConfigData();
    }
}

TEST_F(ConfigDataTest, PasswordIsScrambledExactlyOnceEachWay) {
    EXPECT_EQ(ScramblePassword("abc"), "ijk");
    EXPECT_EQ(UnscramblePassword("ijk"), "abc");
    // Scrambling maps '(' onto a blank and '*' onto a quote: the value is stored in quotes,
    // which the reader removes after the blanks around them.
    const std::string clear = "(*pass word*(";
    const std::string stored = "\"" + ScramblePassword(clear) + "\"";
    WriteFile(IniPath(), "[Config]\nPassword= " + stored + "\t\n");
    CreateConfigData();
    EXPECT_EQ(ConfigData->Password, clear);
    WritePasswordKey(ConfigData->Password);
    DestroyConfigData();
    CreateConfigData();
    EXPECT_EQ(ConfigData->Password, clear);
    EXPECT_NE(ReadFile(IniPath()).find("Password=" + stored + "\n"), std::string::npos);
}

TEST_F(ConfigDataTest, SingleKeyWritersTouchOnlyTheirKey) {
    WriteFile(IniPath(), "[Config]\nServer=s\nLogLevel=0\nWidth=1\n");
    CreateConfigData();
    ConfigData->LogLevel = true;
    ConfigData->Server = "changed in memory only";
    ConfigData->SaveLogLevel();
    WriteConfigInteger("Width", 640);
    WriteConfigInteger("Top", -20);
    WriteConfigString("Update", "01/02/2026");
    EXPECT_EQ(ReadFile(IniPath()),
              "[Config]\nServer=s\nLogLevel=1\nWidth=640\nTop=-20\nUpdate=01/02/2026\n");
}

TEST_F(ConfigDataTest, RefusedWriteRaisesUnableToWrite) {
    WriteFile(dir.File("config"), "a regular file where the folder should be");
    CreateConfigData();
    for (auto write : {+[] { ConfigData->WriteConfig(); }, +[] { ConfigData->SaveLogLevel(); },
                       +[] { WriteConfigInteger("Left", 1); }}) {
        try {
            write();
            ADD_FAILURE() << "write was not refused";
        } catch (const platform::Exception& e) {
            EXPECT_STREQ(e.what(), "Unable to write to Morvandle.ini");
        }
    }
}

TEST_F(ConfigDataTest, ErrorAtCreationIsReportedAndEndsTheApplication) {
    WriteFile(IniPath(), "[Config]\nServer=pop.example.com\n");
    WriteFile(ProgramFile("GoodAddr.txt"), "me@example.com\r\n");
    // Exists, opens, and fails on the first read.
    std::filesystem::create_symlink("/proc/self/mem", ProgramFile("spammers.txt"));
    std::vector<std::string> reported;
    {
        platform::ScopedErrorReporter reporter(
            [&](const std::string& m) { reported.push_back(m); });
        CreateConfigData();
    }

    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].rfind("I/O error 5", 0), 0u) << reported[0];
    EXPECT_EQ(ConfigData->Server, "pop.example.com");
    EXPECT_EQ(ConfigData->GoodAddrList, Lines{"me@example.com"});
    // The request waits for the event loop and ends it with code 1. The time limit goes
    // with this test: left pending it would end some later test's event loop.
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(0); });
    limit.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 1);
}

} // namespace
