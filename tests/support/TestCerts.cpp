#include "TestCerts.h"

#include <openssl/err.h>

#include "TempDir.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>

#include <stdlib.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bx::test {
namespace {

struct KeyFree { void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); } };
struct CertFree { void operator()(X509* c) const { X509_free(c); } };
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("test certificates: " + what);
}

Key makeKey()
{
    EVP_PKEY* k = EVP_EC_gen("P-256");
    if (k == nullptr) fail("EC key generation");
    return Key(k);
}

void addExt(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) fail(std::string("extension ") + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// issuer == nullptr makes a self-signed CA.
Cert makeCert(EVP_PKEY* key, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey,
              const char* san, long notBeforeSecs, long notAfterSecs)
{
    Cert cert(X509_new());
    X509* c = cert.get();
    X509_set_version(c, 2);
    BIGNUM* serial = BN_new();
    BN_rand(serial, 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(c));
    BN_free(serial);
    X509_gmtime_adj(X509_getm_notBefore(c), notBeforeSecs);
    X509_gmtime_adj(X509_getm_notAfter(c), notAfterSecs);
    X509_set_pubkey(c, key);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Brindlebox Tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : c;
    X509_set_issuer_name(c, X509_get_subject_name(signer));
    addExt(c, signer, NID_subject_key_identifier, "hash");
    if (issuer == nullptr) {
        addExt(c, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExt(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExt(c, signer, NID_authority_key_identifier, "keyid:always");
        addExt(c, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExt(c, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        addExt(c, signer, NID_ext_key_usage, "serverAuth");
        if (san != nullptr) addExt(c, signer, NID_subject_alt_name, san);
    }
    if (X509_sign(c, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) fail("sign " + cn);
    return cert;
}

void writeCert(const fs::path& p, X509* c)
{
    FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr || PEM_write_X509(f, c) != 1) fail("write " + p.string());
    std::fclose(f);
}

void writeKey(const fs::path& p, EVP_PKEY* k)
{
    FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr || PEM_write_PrivateKey(f, k, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        fail("write " + p.string());
    }
    std::fclose(f);
}

constexpr long kDay = 24L * 3600;

ServerCert makeServer(const fs::path& dir, const std::string& stem, X509* ca, EVP_PKEY* caKey,
                      const char* san, long notBefore, long notAfter)
{
    Key key = makeKey();
    Cert cert = makeCert(key.get(), stem, ca, caKey, san, notBefore, notAfter);
    ServerCert out{dir / (stem + ".crt"), dir / (stem + ".key")};
    writeCert(out.certFile, cert.get());
    writeKey(out.keyFile, key.get());
    return out;
}

fs::path certDirPath;
pid_t certDirOwner = 0;

void removeCertDir()
{
    // A child forked from the test process runs this too; the files are the
    // parent's.
    if (certDirPath.empty() || ::getpid() != certDirOwner) return;
    std::error_code ec;
    fs::remove_all(certDirPath, ec);
}

TestCerts makeAll()
{
    std::string templ = (TempDir::base() / "bx-certs-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) fail("mkdtemp " + templ);
    certDirPath = templ;
    certDirOwner = ::getpid();
    std::atexit(removeCertDir);
    TestCerts t;
    t.dir = certDirPath;

    Key caKey = makeKey();
    Cert ca = makeCert(caKey.get(), "Brindlebox Test CA", nullptr, nullptr, nullptr, -kDay, 3650 * kDay);
    Key badKey = makeKey();
    Cert bad = makeCert(badKey.get(), "Untrusted Test CA", nullptr, nullptr, nullptr, -kDay, 3650 * kDay);
    t.trustedCA = t.dir / "ca.crt";
    t.untrustedCA = t.dir / "untrusted-ca.crt";
    writeCert(t.trustedCA, ca.get());
    writeCert(t.untrustedCA, bad.get());

    const char* good = "DNS:localhost,IP:127.0.0.1";
    t.localhost = makeServer(t.dir, "localhost", ca.get(), caKey.get(), good, -kDay, 3650 * kDay);
    t.otherHost = makeServer(t.dir, "other.example", ca.get(), caKey.get(), "DNS:other.example", -kDay,
                             3650 * kDay);
    t.untrusted = makeServer(t.dir, "untrusted", bad.get(), badKey.get(), good, -kDay, 3650 * kDay);
    t.expired = makeServer(t.dir, "expired", ca.get(), caKey.get(), good, -30 * kDay, -kDay);
    // The stem is the common name: "localhost".
    const fs::path bare = t.dir / "no-san";
    fs::create_directories(bare);
    t.noSubjectAltName = makeServer(bare, "localhost", ca.get(), caKey.get(), nullptr, -kDay, 3650 * kDay);
    return t;
}

}  // namespace

const ServerCert& TestCerts::server(CertKind kind) const
{
    switch (kind) {
    case CertKind::Localhost: return localhost;
    case CertKind::OtherHost: return otherHost;
    case CertKind::Untrusted: return untrusted;
    case CertKind::Expired: return expired;
    case CertKind::NoSubjectAltName: return noSubjectAltName;
    }
    return localhost;
}

const TestCerts& TestCerts::get()
{
    static std::once_flag once;
    static TestCerts certs;
    std::call_once(once, [] { certs = makeAll(); });
    return certs;
}

void trustTestCA()
{
    const TestCerts& c = TestCerts::get();
    ::setenv("SSL_CERT_FILE", c.trustedCA.c_str(), 1);
    // An empty directory: nothing from the system store vouches for the
    // untrusted certificates.
    fs::path empty = c.dir / "empty-cert-dir";
    fs::create_directories(empty);
    ::setenv("SSL_CERT_DIR", empty.c_str(), 1);
}

std::string sslErrors() {
    std::string out;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty()) out += "; ";
        out += buf;
    }
    return out;
}

}  // namespace bx::test
