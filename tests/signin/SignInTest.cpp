// Sign-in and the access token of each check, against the tests' own authorization server.
// No session bus here: tokens go to the settings file, as on a desktop without a keyring.

#include "signin/SignIn.h"
#include "config/dataConfig.h"
#include "platform/Paths.h"
#include "secrets/TokenStore.h"
#include "servers/TestCerts.h"
#include "signin/AccessToken.h"
#include "signin/LoopbackRedirect.h"
#include "support/OAuth2TestServer.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <optional>

namespace {

using namespace std::chrono_literals;

const std::string kStoredNotice = std::string("Signed in. ") + secrets::kNoKeyringTokenNotice;

struct SignInTest : ::testing::Test {
    testsupport::TempDir dir;
    testsupport::OAuth2TestServer server;
    QObject context;
    TConfigData config;

    void SetUp() override {
        platform::SetSettingsFileOverride(dir.File("Morvandle.ini"));
        config.Server = "pop.example";
        config.Login = "bob";
        config.OAuth2ClientId = "client";
        config.OAuth2TokenUrl = server.TokenUrl();
    }
    void TearDown() override { platform::SetSettingsFileOverride(""); }

    secrets::TSecret StoredRefreshToken() {
        std::optional<secrets::TSecret> read;
        secrets::ReadRefreshToken(config, &context, [&](const secrets::TSecret& r) { read = r; });
        EXPECT_TRUE(testsupport::WaitUntil([&] { return read.has_value(); }));
        return read.value_or(secrets::TSecret{});
    }

    void StoreRefreshToken(const std::string& token) {
        bool stored = false;
        secrets::StoreRefreshToken(config, token, &context,
                                   [&](const secrets::TStored& s) { stored = s.ok; });
        ASSERT_TRUE(testsupport::WaitUntil([&] { return stored; }));
    }

    secrets::TSecret AccessToken(std::chrono::milliseconds limit = 5s) {
        std::optional<secrets::TSecret> got;
        signin::TTokenLimits limits;
        limits.request = limit;
        signin::GetAccessToken(
            config, &context, [&](const secrets::TSecret& r) { got = r; }, limits);
        EXPECT_TRUE(testsupport::WaitUntil([&] { return got.has_value(); }, 10000));
        return got.value_or(secrets::TSecret{});
    }

    // Runs a sign-in to its end; the browser, when asked, follows the authorize address.
    signin::TSignInResult SignIn(std::string* shown = nullptr) {
        signin::TSignInLimits limits;
        limits.second = 20ms;
        limits.request = 5s;
        signin::TSignIn signIn(config, nullptr, limits);
        QNetworkAccessManager browser;
        std::optional<signin::TSignInResult> result;
        signIn.OnShowCode = [&](const std::string& uri, const std::string& code) {
            if (shown) *shown = uri + " " + code;
        };
        signIn.OnOpenUrl = [&](const std::string& url) {
            browser.get(QNetworkRequest(QUrl(QString::fromStdString(url))));
        };
        signIn.OnDone = [&](const signin::TSignInResult& r) { result = r; };
        signIn.Start();
        EXPECT_TRUE(testsupport::WaitUntil([&] { return result.has_value(); }, 10000));
        return result.value_or(signin::TSignInResult{false, "<no end>"});
    }
};

// Each answer of the polls: the sign-in goes on while the user has not finished, slower when
// asked to, and ends on an expired code or a refusal with nothing stored.
TEST_F(SignInTest, DeviceSignInFollowsEachPollAnswer) {
    config.OAuth2DeviceUrl = server.DeviceUrl();
    struct Case {
        std::vector<std::string> answers;
        std::string text;
        int polls;
    } const cases[] = {
        {{}, kStoredNotice, 1},
        {{"authorization_pending", "slow_down", "authorization_pending"}, kStoredNotice, 4},
        {{"authorization_pending", "expired_token"},
         "The sign-in code expired before the sign-in was done: sign in again",
         2},
        {{"access_denied"}, "The sign-in was declined", 1},
        {{"authorization_pending", "authorization_declined"}, "The sign-in was declined", 2},
        // Microsoft's descriptions run over several lines; the log and the console take one.
        {{"bad_verification_code AADSTS70000: Wrong code.\r\nTrace ID: 1\r\n"},
         "OAuth2 request to " + server.TokenUrl() +
             " failed: bad_verification_code: AADSTS70000: Wrong code. Trace ID: 1",
         1},
    };
    int polls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " after " + std::to_string(c.answers.size()));
        config.Login = "device" + std::to_string(polls); // a key of its own
        server.ScriptDeviceAnswers(c.answers);
        std::string shown;
        const signin::TSignInResult result = SignIn(&shown);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(shown, server.BaseUrl() + "/device WDJB-MJHT");
        int now = 0;
        for (const auto& request : server.Requests())
            now += request.path == "/token";
        EXPECT_EQ(now - polls, c.polls);
        polls = now;
        const secrets::TSecret stored = StoredRefreshToken();
        EXPECT_EQ(stored.ok, result.ok);
        if (result.ok) {
            EXPECT_FALSE(AccessToken().secret.empty());
        }
    }
}

// The browser sign-in: the server checks the PKCE verifier against the challenge, and an
// answer whose state is not the one sent is refused before any exchange.
TEST_F(SignInTest, BrowserSignInChecksStateAndVerifier) {
    config.OAuth2AuthorizeUrl = server.AuthorizeUrl();
    struct Case {
        std::string redirectState;
        std::string text;
        int verified;
    } const cases[] = {
        {"", kStoredNotice, 1},
        {"forged",
         "The sign-in answer came back with another state than was sent; nothing was stored", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.redirectState);
        config.Login = "browser" + c.redirectState;
        server.SetRedirectState(c.redirectState);
        const int before = server.PkceVerified();
        EXPECT_EQ(SignIn().text, c.text);
        EXPECT_EQ(server.PkceVerified() - before, c.verified);
        EXPECT_EQ(StoredRefreshToken().ok, c.verified == 1);
    }
}

// The token of each check: kept while it lives at least another minute, else refreshed with
// the stored (rotated) refresh token; failures name their cause and keep the refresh token.
TEST_F(SignInTest, AccessTokenOfEachCheck) {
    struct Case {
        const char* name;
        int lifetime; // of the server's access tokens
        bool refuse;  // invalid_grant
        bool down;    // connection refused
        int delayMs;  // a slow endpoint
        const char* command;
        int refreshes;     // of two checks in a row
        std::string error; // of both checks; empty when each got a token
    } const cases[] = {
        {"kept", 3600, false, false, 0, "", 1, ""},
        {"expiring", 30, false, false, 0, "", 2, ""},
        {"refused", 3600, true, false, 0, "", 0, signin::kSignInExpiredText},
        {"down", 3600, false, true, 0, "", 0,
         "OAuth2 request to " + server.TokenUrl() + " failed: Connection refused"},
        {"slow", 3600, false, false, 3000, "", 0,
         "OAuth2 request to " + server.TokenUrl() + " failed: no answer within 1 second"},
        {"command", 3600, true, true, 0, "printf 'cmd-token\\nsecond\\n'", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config.Login = c.name;
        config.TokenCommand = c.command;
        server.SetTokenLifetime(c.lifetime);
        server.RefuseRefresh(c.refuse);
        server.SetDown(c.down);
        server.SetDelayMs(c.delayMs);
        const std::string original = server.IssueRefreshToken();
        StoreRefreshToken(original);
        const int before = server.Granted("refresh_token");
        for (int check = 0; check < 2; ++check) {
            const secrets::TSecret token = AccessToken(1s);
            EXPECT_EQ(token.ok ? "" : token.error, c.error);
            if (*c.command) {
                EXPECT_EQ(token.secret, "cmd-token");
            } else if (token.ok) {
                EXPECT_EQ(server.ActiveUser(token.secret), "bob");
            }
        }
        EXPECT_EQ(server.Granted("refresh_token") - before, c.refreshes);
        const std::string stored = StoredRefreshToken().secret;
        EXPECT_EQ(stored == original, c.refreshes == 0);
        server.SetDown(false);
        server.SetDelayMs(0);
    }
}

// The dialog's Cancel, pressed while the code shows: no poll, no report, nothing stored.
TEST_F(SignInTest, CancelledSignInEndsQuietly) {
    config.OAuth2DeviceUrl = server.DeviceUrl();
    signin::TSignInLimits limits;
    limits.second = 10ms;
    signin::TSignIn signIn(config, nullptr, limits);
    bool shown = false, done = false;
    signIn.OnShowCode = [&](const std::string&, const std::string&) {
        shown = true;
        signIn.Cancel();
    };
    signIn.OnDone = [&](const signin::TSignInResult&) { done = true; };
    signIn.Start();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return shown; }));
    testsupport::RunEventLoopFor(200);
    EXPECT_FALSE(done);
    EXPECT_FALSE(signIn.Running());
    EXPECT_EQ(server.Requests().size(), 1u); // the device code's alone
    EXPECT_FALSE(StoredRefreshToken().ok);
}

// The token endpoint's certificate is verified against the system's and CAFile's.
TEST_F(SignInTest, TokenEndpointOverVerifiedTls) {
    std::string error;
    ASSERT_TRUE(testservers::MakeTestCerts(dir.Path(), &error)) << error;
    ASSERT_TRUE(server.UseTls(dir.File("server.pem"), dir.File("server.key")));
    config.OAuth2TokenUrl = server.TokenUrl();
    struct Case {
        std::string caFile;
        std::string error; // the start of it; empty for a token
    } const cases[] = {
        {dir.File("ca.pem"), ""},
        {"", "OAuth2 request to " + server.TokenUrl() + " failed: SSL handshake failed"},
        {dir.File("other.pem") + ".missing",
         "Cannot read a certificate from the CA file " + dir.File("other.pem") + ".missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caFile);
        config.CAFile = c.caFile;
        config.Login = "tls" + std::to_string(c.error.size());
        StoreRefreshToken(server.IssueRefreshToken());
        const secrets::TSecret token = AccessToken();
        EXPECT_EQ(token.ok ? "" : token.error.substr(0, c.error.size()), c.error);
    }
}

// Forms carry secrets: never in clear beyond the machine.
TEST(OAuth2Addresses, HttpsOrLoopbackOnly) {
    struct Case {
        const char* url;
        bool allowed;
    } const cases[] = {
        {"https://login.example/oauth2/token", true},
        {"http://127.0.0.1:8080/token", true},
        {"http://localhost/token", false},
        {"http://login.example/token", false},
        {"http://127.0.0.1.example/token", false},
        {"ftp://127.0.0.1/token", false},
        {"token", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(signin::UrlRefused(c.url).empty(), c.allowed) << c.url;
}

// Microsoft's refresh tokens run to several kilobytes; without a keyring the settings file
// must give one back whole.
TEST_F(SignInTest, LongRefreshTokenComesBackWhole) {
    std::string token;
    for (int i = 0; i < 4000; ++i)
        token += "AQab-_.0123456789xyz"[i % 20];
    StoreRefreshToken(token);
    EXPECT_EQ(StoredRefreshToken().secret, token);
}

TEST_F(SignInTest, NoRefreshTokenMeansNotSignedIn) {
    EXPECT_EQ(AccessToken().error, secrets::kNotSignedInText);
}

} // namespace

// The listener takes one redirect: a connection opened before it closed gets the page, but
// its request is not a second answer.
TEST(LoopbackRedirect, TakesOneRedirect) {
    signin::TLoopbackRedirect listener(nullptr);
    ASSERT_TRUE(listener.Listen());
    std::vector<std::string> states;
    listener.OnRedirect = [&](const QUrlQuery& query) {
        states.push_back(query.queryItemValue("state").toStdString());
    };
    const QUrl uri(QString::fromStdString(listener.RedirectUri()));
    QTcpSocket first, second;
    for (QTcpSocket* socket : {&first, &second}) {
        socket->connectToHost(QHostAddress::LocalHost, uri.port());
        ASSERT_TRUE(socket->waitForConnected(5000));
    }
    for (const auto& [socket, state] : {std::pair{&first, "s1"}, std::pair{&second, "s2"}}) {
        socket->write("GET /?code=c&state=" + QByteArray(state) + " HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(testsupport::WaitUntil([&] { return socket->bytesAvailable() > 0; }));
        EXPECT_TRUE(socket->readLine().startsWith("HTTP/1.1 200"));
    }
    EXPECT_EQ(states, std::vector<std::string>{"s1"});
}
