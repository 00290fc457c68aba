#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

class QThread;

namespace testsupport {

class OAuth2Endpoints;

// A small OAuth2 authorization server on 127.0.0.1 (port 0) for tests, in a thread of its
// own, so that it answers while the test thread blocks (a child process waited for, or a
// POP3 server asking it about a token):
//
//   POST /introspect   form token=T (or "Authorization: Bearer T"): {"active":true,
//                      "username":U} for a token it issued that is still valid, else
//                      {"active":false}
//   POST /token        grant_type authorization_code (PKCE S256 checked), refresh_token
//                      (the refresh token rotates: the old one dies), or
//                      urn:ietf:params:oauth:grant-type:device_code
//   POST /devicecode   starts a device sign-in
//   GET  /authorize    redirects (302) to redirect_uri with code and state
//
// Knobs may be turned at any time from the test thread.
class OAuth2TestServer {
  public:
    OAuth2TestServer();
    ~OAuth2TestServer();
    OAuth2TestServer(const OAuth2TestServer&) = delete;
    OAuth2TestServer& operator=(const OAuth2TestServer&) = delete;

    int Port() const { return port_; }
    std::string BaseUrl() const; // "http://127.0.0.1:<port>", or https
    // HTTPS from now on, with this certificate and EC or RSA key (PEM files); false when
    // unreadable.
    bool UseTls(const std::string& certFile, const std::string& keyFile);
    std::string AuthorizeUrl() const { return BaseUrl() + "/authorize"; }
    std::string DeviceUrl() const { return BaseUrl() + "/devicecode"; }
    std::string TokenUrl() const { return BaseUrl() + "/token"; }
    std::string IntrospectUrl() const { return BaseUrl() + "/introspect"; }

    // The user that sign-ins and issued tokens belong to (default "bob").
    void SetUser(const std::string& user);
    // expires_in of the access tokens issued from now on (default 3600 s).
    void SetTokenLifetime(int seconds);
    // The answers to the device-flow polls, in order, before the one that issues tokens:
    // "authorization_pending", "slow_down", "expired_token", "access_denied"; text after a
    // blank goes in error_description.
    void ScriptDeviceAnswers(const std::vector<std::string>& errors);
    // interval of the device sign-in in seconds (default 1).
    void SetDeviceInterval(int seconds);
    // The authorize redirect carries this state instead of the one asked for.
    void SetRedirectState(const std::string& state);
    // Refresh grants answered with invalid_grant.
    void RefuseRefresh(bool refuse);
    // Down: the port refuses connections. Slow: every answer waits this long first.
    void SetDown(bool down);
    void SetDelayMs(int ms);

    // Tokens as a finished sign-in would leave them, for tests that start from there.
    std::string IssueRefreshToken();
    std::string IssueAccessToken();
    // What introspection says about a token (the user, or empty when not active).
    std::string ActiveUser(const std::string& token) const;

    struct Request {
        std::string method;
        std::string path;
        std::map<std::string, std::string> form; // body fields, or query for GET
    };
    std::vector<Request> Requests() const;
    // Token requests by grant_type (the short names "authorization_code", "refresh_token",
    // "device_code"), counting only those answered with tokens.
    int Granted(const std::string& grant) const;
    // Authorization-code exchanges whose code_verifier matched the challenge.
    int PkceVerified() const;

  private:
    int port_ = 0;
    bool tls_ = false;
    std::unique_ptr<QThread> thread_;
    OAuth2Endpoints* endpoints_ = nullptr; // lives in thread_, deleted when it ends
};

} // namespace testsupport
