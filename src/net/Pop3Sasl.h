#pragma once

// SASL for the POP3 AUTH command (RFC 5034): the initial responses of the mechanisms the
// client speaks, the rule that decides whether one goes on the AUTH line, and what a server's
// failure challenge says. Pure functions over bytes.

#include <cstddef>
#include <optional>
#include <string>

// The initial response of `mechanism` (in capitals), before base64: PLAIN (RFC 4616)
// "\0user\0password", XOAUTH2 "user=U\x01auth=Bearer T\x01\x01", OAUTHBEARER (RFC 7628)
// "n,a=U,\x01host=H\x01port=P\x01auth=Bearer T\x01\x01". `secret` is the password for PLAIN
// and the access token for the other two. Nothing for a mechanism the client does not speak.
std::optional<std::string> SaslInitialResponse(const std::string& mechanism,
                                               const std::string& user, const std::string& secret,
                                               const std::string& host, const std::string& port);

std::string SaslBase64(const std::string& bytes);

// The port as OAUTHBEARER names it, in decimal: a service name ("pop3s") is looked up; a
// name that is not found stays as it is.
std::string SaslPortNumber(const std::string& port);

// RFC 5034 limits the AUTH command line, its CR LF included, to 255 octets: an initial
// response that would make it longer waits for the server's "+ " and goes on a line of its
// own (the long access tokens of some providers need this).
constexpr std::size_t kPop3MaxAuthLine = 255;
// Whether the AUTH command line (without CR LF) may be sent as it is.
bool Pop3AuthLineFits(const std::string& commandLine);

// A server's challenge in an AUTH exchange: "+" alone or "+ " and base64 (not "+OK").
bool Pop3IsChallenge(const std::string& line);

// The "status" named by the base64 JSON of a failure challenge ("401", "invalid_token"), on
// one line; empty when the challenge says none.
std::string SaslFailureStatus(const std::string& challengeLine);
