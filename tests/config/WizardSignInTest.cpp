// The preferences dialog's login method: the keys it writes, and its Sign in… against the
// tests' own authorization server.
#include "WizardFixture.h"
#include "config/formSignIn.h"
#include "support/OAuth2TestServer.h"
#include "support/Wait.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

using WizardSignInTest = WizardFixture;

const std::string kAccount = "[Config]\r\nServer=pop.home\r\nLogin=me\r\n";
// What OK writes of the other settings.
const std::string kSaved =
    "LogLevel=0\r\nUnknown=0\r\nStrict=0\r\nNoCase=0\r\nQuarantine=1\r\nSecurity=0\r\nCAFile=\r\n";

// OK writes the login method's keys only where the dialog changed them; an OAuth2 method
// takes the password boxes away and offers the sign-in.
TEST_F(WizardSignInTest, WritesTheLoginMethodItChanged) {
    const struct {
        const char* name;
        std::string before; // after kAccount
        int auth, provider; // items chosen; -1 leaves the shown one
        const char* clientId;
        std::string after; // after kAccount
    } cases[] = {
        {"untouched", "", -1, -1, nullptr, kSaved},
        {"xoauth2", "", 3, 0, "client-1",
         kSaved + "Auth=xoauth2\r\nOAuth2Provider=microsoft\r\nOAuth2ClientId=client-1\r\n"},
        {"hand_written_kept", "Auth=XOAUTH2\r\nOAuth2Provider=Mine\r\n", -1, -1, nullptr,
         "Auth=XOAUTH2\r\nOAuth2Provider=Mine\r\n" + kSaved},
        {"back_to_password", "Auth=oauthbearer\r\nOAuth2ClientId=c\r\n", 0, -1, "",
         "Auth=user\r\nOAuth2ClientId=\r\n" + kSaved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(IniPath(), kAccount + c.before);
        Open();
        auto* auth = Find<QComboBox>("cmbAuth");
        if (c.auth >= 0) {
            auth->setCurrentIndex(c.auth);
            Q_EMIT auth->activated(c.auth);
        }
        if (c.provider >= 0) Find<QComboBox>("cmbOAuth2Provider")->setCurrentIndex(c.provider);
        if (c.clientId) SetText("editOAuth2ClientId", c.clientId);
        const bool oauth2 = auth->currentIndex() >= 3;
        EXPECT_EQ(Find<QAbstractButton>("btnSignIn")->isEnabled(), oauth2);
        EXPECT_EQ(Find<QLineEdit>("editPassword")->isEnabled(), !oauth2);
        Click("btnOk");
        EXPECT_EQ(ReadFile(IniPath()), kAccount + c.after);
    }
}

// Sign in… signs the account in as the dialog shows it: the device sign-in shows the address
// and code (Copy copies the code), the browser sign-in opens its address; then the outcome.
TEST_F(WizardSignInTest, SignInShowsEachStepAndTheOutcome) {
    testsupport::OAuth2TestServer server;
    QNetworkAccessManager browser;
    const auto opener = TfrmSignIn::UrlOpener;
    std::vector<std::string> opened;
    TfrmSignIn::UrlOpener = [&](const std::string& url) {
        opened.push_back(url);
        browser.get(QNetworkRequest(QUrl(QString::fromStdString(url))));
        return true;
    };
    const struct {
        const char* endpoint;
        std::string url;
        const char *text, *code;
    } cases[] = {
        {"OAuth2DeviceUrl", server.DeviceUrl(),
         "To sign in, open this address in a browser and enter the code below:", "WDJB-MJHT"},
        {"OAuth2AuthorizeUrl", server.AuthorizeUrl(),
         "Signing in: a browser window opened; finish signing in there.", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoint);
        WriteFile(IniPath(), kAccount + "OAuth2TokenUrl=" + server.TokenUrl() + "\r\n" +
                                 c.endpoint + "=" + c.url + "\r\n");
        opened.clear();
        Open();
        auto* auth = Find<QComboBox>("cmbAuth");
        auth->setCurrentIndex(3);
        Q_EMIT auth->activated(3);
        Find<QComboBox>("cmbOAuth2Provider")->setCurrentIndex(2);
        SetText("editOAuth2ClientId", "client");
        SetText("editLoginName", "bob");
        Click("btnSignIn");
        auto* signIn = dialog->findChild<TfrmSignIn*>("frmSignIn");
        ASSERT_NE(signIn, nullptr);
        auto* outcome = signIn->findChild<QLabel*>("lblSignInOutcome");
        ASSERT_TRUE(
            testsupport::WaitUntil([&] { return outcome->text().startsWith("Signed in."); }, 15000))
            << outcome->text().toStdString();
        EXPECT_EQ(signIn->findChild<QLabel*>("lblSignInText")->text().toStdString(), c.text);
        const std::string address =
            signIn->findChild<QLineEdit*>("editSignInAddress")->text().toStdString();
        if (*c.code) {
            EXPECT_EQ(address, server.BaseUrl() + "/device");
            signIn->findChild<QAbstractButton*>("btnCopyCode")->click();
            EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), c.code);
        } else {
            EXPECT_EQ(opened, std::vector<std::string>{address});
        }
        EXPECT_EQ(signIn->findChild<QAbstractButton*>("btnSignInCancel")->text(), "Close");
        // Stored for the login as typed, before the dialog saved anything.
        EXPECT_NE(ReadFile(IniPath()).find("OAuth2RefreshToken="), std::string::npos);
        EXPECT_EQ(ReadFile(IniPath()).find("Login=bob"), std::string::npos);
        signIn->findChild<QAbstractButton*>("btnSignInCancel")->click();
    }
    TfrmSignIn::UrlOpener = opener;
}

} // namespace
