#pragma once
#include <string>
// Test certificates, made once per process with OpenSSL (EC P-256 keys, a few
// milliseconds) in a private temp dir that is removed at exit.
//
//   const auto& certs = bx::test::TestCerts::get();
//   bx::test::trustTestCA();          // SSL_CERT_FILE = certs.trustedCA
//
// Two certificate authorities:
//   trustedCA    the CA the client under test is told to trust
//   untrustedCA  a CA the client never trusts
// Server certificate sets (certificate file, key file), all EC:
//   localhost    DNS:localhost, IP:127.0.0.1, signed by trustedCA (the good one)
//   otherHost    DNS:other.example only, signed by trustedCA (wrong host name)
//   untrusted    DNS:localhost, IP:127.0.0.1, signed by untrustedCA
//   expired      DNS:localhost, IP:127.0.0.1, signed by trustedCA, expired a
//                day ago
//   noSubjectAltName  CN=localhost and no subjectAltName at all, signed by
//                trustedCA (only a common-name fallback would accept it)
// Certificate files hold the leaf only (no chain).

#include <filesystem>

namespace bx::test {

struct ServerCert {
    std::filesystem::path certFile;
    std::filesystem::path keyFile;
};

enum class CertKind {
    Localhost,  // valid for localhost and 127.0.0.1, trusted CA
    OtherHost,  // valid only for other.example, trusted CA
    Untrusted,  // valid for localhost and 127.0.0.1, signed by an untrusted CA
    Expired,    // valid names, trusted CA, but expired
    NoSubjectAltName,  // CN=localhost without subjectAltName, trusted CA
};

struct TestCerts {
    std::filesystem::path dir;
    std::filesystem::path trustedCA;
    std::filesystem::path untrustedCA;
    ServerCert localhost;
    ServerCert otherHost;
    ServerCert untrusted;
    ServerCert expired;
    ServerCert noSubjectAltName;

    const ServerCert& server(CertKind kind) const;

    // Made on first use; thread-safe.
    static const TestCerts& get();
};

// OpenSSL's queued error texts, joined by "; " (the queue is emptied).
std::string sslErrors();

// Points SSL_CERT_FILE at TestCerts::get().trustedCA for this process (and
// clears SSL_CERT_DIR so the system's CAs do not mask a refusal), which is
// how OpenSSL's SSL_CTX_set_default_verify_paths finds the test CA.
// Call it before the code under test builds its SSL_CTX.
void trustTestCA();

}  // namespace bx::test
