// SASL for POP3 AUTH: each mechanism's exact initial response, the 255-octet rule, and the
// status a failure challenge names.

#include "net/Pop3Sasl.h"

#include <gtest/gtest.h>

namespace {

TEST(Pop3Sasl, InitialResponsesAreTheMechanismsBytes) {
    struct Row {
        const char *mechanism, *user, *secret, *host, *port, *base64;
    } rows[] = {
        {"PLAIN", "bob", "pw", "h", "110", "AGJvYgBwdw=="},
        {"XOAUTH2", "alice@example.test", "tok123", "h", "110",
         "dXNlcj1hbGljZUBleGFtcGxlLnRlc3QBYXV0aD1CZWFyZXIgdG9rMTIzAQE="},
        {"OAUTHBEARER", "alice@example.test", "tok123", "mail.example.test", "995",
         "bixhPWFsaWNlQGV4YW1wbGUudGVzdCwBaG9zdD1tYWlsLmV4YW1wbGUudGVzdAFwb3J0PTk5NQFhdXRoPUJlYXJl"
         "ciB0b2sxMjMBAQ=="},
        // "," and "=" in the user name are escaped, or they would end its field.
        {"OAUTHBEARER", "a,b=c", "t", "h", "110",
         "bixhPWE9MkNiPTNEYywBaG9zdD1oAXBvcnQ9MTEwAWF1dGg9QmVhcmVyIHQBAQ=="},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.mechanism) + " " + r.user);
        const auto response = SaslInitialResponse(r.mechanism, r.user, r.secret, r.host, r.port);
        ASSERT_TRUE(response.has_value());
        EXPECT_EQ(SaslBase64(*response), r.base64);
    }
    EXPECT_FALSE(SaslInitialResponse("CRAM-MD5", "u", "p", "h", "110").has_value());
    // OAUTHBEARER names the port in digits, also when the setting names the service.
    EXPECT_EQ(SaslPortNumber("pop3s"), "995");
    EXPECT_EQ(SaslPortNumber(" 1110 "), "1110");
}

TEST(Pop3Sasl, TheAuthLineWithItsLineEndMayHold255Octets) {
    EXPECT_TRUE(Pop3AuthLineFits(std::string(253, 'A')));  // 255 with CR LF
    EXPECT_FALSE(Pop3AuthLineFits(std::string(254, 'A'))); // 256
}

TEST(Pop3Sasl, FailureChallengesNameTheirStatus) {
    struct Row {
        const char *line, *status;
    } rows[] = {
        {"+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=", "401"},
        {"+ eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=", "invalid_token"},
        {"+ eyJzdGF0dXMiOjQwMH0=", "400"},                // a number
        {"+ eyJzY2hlbWVzIjoiYmVhcmVyIn0=", ""},           // no status
        {"+ ", ""},                                       // no JSON
        {"+ not base64!", ""},                            // garbage
        {"+OK eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=", ""}, // no challenge
    };
    for (const Row& r : rows)
        EXPECT_EQ(SaslFailureStatus(r.line), r.status) << r.line;
}

} // namespace
