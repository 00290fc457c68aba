#pragma once

#include <string>

namespace testservers {

// A test CA and server certificates made with openssl in `dir` (the make-test-certs script:
// ca.pem, server.key, server.pem for localhost, 127.0.0.1 and ::1, expired.pem, other.pem).
// Returns false with the reason in *error when openssl failed.
bool MakeTestCerts(const std::string& dir, std::string* error);

} // namespace testservers
