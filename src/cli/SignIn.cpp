#include "SignIn.h"

#include "config/dataConfig.h"
#include "signin/SignIn.h"

#include <QCoreApplication>
#include <cstdio>

int RunSignIn(QCoreApplication& app, const TConfigData& config) {
    signin::TSignIn signIn(config);
    // Flushed at once: the user acts on these lines while the program waits.
    signIn.OnShowCode = [](const std::string& uri, const std::string& code) {
        std::printf("To sign in, open %s and enter the code %s\n", uri.c_str(), code.c_str());
        std::fflush(stdout);
    };
    signIn.OnOpenUrl = [](const std::string& url) {
        std::printf("To sign in, open this address in a browser:\n%s\n", url.c_str());
        std::fflush(stdout);
    };
    int status = 1;
    signIn.OnDone = [&status](const signin::TSignInResult& result) {
        if (result.ok) {
            std::printf("%s\n", result.text.c_str());
            status = 0;
        } else {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", result.text.c_str());
        }
        QCoreApplication::exit(0);
    };
    signIn.Start();
    app.exec();
    return status;
}
