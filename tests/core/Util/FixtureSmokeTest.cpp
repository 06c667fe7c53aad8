// The test fixtures themselves: the Dovecot server in each variant, the test
// certificates, seeding and read-back, and the scripted fake server.

#include "support/DovecotFixture.h"
#include "support/Ports.h"
#include "support/RawIMAPClient.h"
#include "support/TempDir.h"
#include "support/TestCerts.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using namespace bx::test;
using namespace std::chrono_literals;

namespace {

bool hasCap(const std::vector<std::string>& caps, const std::string& word)
{
    return std::find(caps.begin(), caps.end(), word) != caps.end();
}

std::chrono::system_clock::time_point utc(int y, unsigned mo, unsigned d, int h, int mi, int s)
{
    using namespace std::chrono;
    return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

}  // namespace

TEST(TempDirTest, CreatesPrivateDirAndRemovesIt)
{
    fs::path kept;
    {
        TempDir t;
        kept = t.path();
        EXPECT_TRUE(fs::is_directory(kept));
        EXPECT_EQ(fs::status(kept).permissions() & fs::perms::all, fs::perms::owner_all);
        t.write("a/b.txt", "hello");
        EXPECT_EQ(t.read("a/b.txt"), "hello");
        TempDir moved(std::move(t));
        EXPECT_EQ(moved.path(), kept);
    }
    EXPECT_FALSE(fs::exists(kept));
}

struct Variant {
    const char* name;
    char delimiter;
    bool uidplus;
};

class DovecotVariantTest : public ::testing::TestWithParam<Variant> {};

TEST_P(DovecotVariantTest, LogsInOverTLSAndPlainAndSeeds)
{
    const Variant v = GetParam();
    DovecotOptions o;
    o.delimiter = v.delimiter;
    o.uidplus = v.uidplus;
    DovecotFixture dovecot(o);

    // TLS, verified against the test CA for both names in the certificate.
    for (const char* host : {"localhost", "127.0.0.1"}) {
        auto tls = RawIMAPClient::tls(dovecot.imapsPort(), TLSClientOptions{{}, host, true});
        EXPECT_EQ(tls.greeting().rfind("* OK", 0), 0u) << tls.greeting();
        tls.login(users::alice.name, users::alice.password);
        auto caps = tls.capabilities();
        EXPECT_TRUE(hasCap(caps, "IMAP4rev1"));
        EXPECT_EQ(hasCap(caps, "UIDPLUS"), v.uidplus);
        EXPECT_EQ(tls.delimiter(), v.delimiter);
        tls.logout();
    }

    // Plain, with every awkward password (quoted, and as a literal).
    for (const auto& u : defaultUsers()) {
        auto plain = RawIMAPClient::plain(dovecot.imapPort());
        EXPECT_EQ(plain.greeting().find("UIDPLUS"), std::string::npos);  // login capabilities never have it
        plain.login(u.name, u.password);
        plain.logout();
    }
    auto wrong = RawIMAPClient::plain(dovecot.imapPort());
    EXPECT_EQ(wrong.command("LOGIN alice wrong").status, "NO");

    // Seed nested and non-ASCII mailboxes, read the bytes, dates and flags back.
    const std::string nested = dovecot.path({"Archiv", "Entwürfe"});
    const std::string msg1 = makeMessage("first", "one\r\n");
    const std::string msg2 = makeMessage("zweite Grüße", "two\r\n");
    auto uids = dovecot.append(users::alice, nested,
                               {{msg1, utc(2020, 2, 29, 23, 59, 58), {"\\Seen"}},
                                {msg2, utc(1999, 12, 31, 0, 0, 1), {"\\Flagged", "$Forwarded"}}});
    ASSERT_EQ(uids.size(), 2u);
    EXPECT_LT(uids[0], uids[1]);

    auto s = dovecot.session(users::alice);
    auto boxes = s.listMailboxes();
    EXPECT_TRUE(std::count(boxes.begin(), boxes.end(), nested) == 1) << "no " << nested;
    EXPECT_TRUE(std::count(boxes.begin(), boxes.end(), "Archiv") == 1);
    EXPECT_EQ(s.uids(nested), uids);
    EXPECT_EQ(s.fetchRaw(nested, uids[0]), msg1);
    EXPECT_EQ(s.fetchRaw(nested, uids[1]), msg2);
    EXPECT_EQ(s.internalDate(nested, uids[0]), "29-Feb-2020 23:59:58 +0000");
    EXPECT_EQ(s.internalDate(nested, uids[1]), "31-Dec-1999 00:00:01 +0000");
    auto f = s.flags(nested, uids[1]);
    EXPECT_TRUE(hasCap(f, "\\Flagged") && hasCap(f, "$Forwarded") && !hasCap(f, "\\Seen"));

    // doveadm works on the same mail store.
    dovecot.setUidValidity(users::alice, nested, 4242);
    EXPECT_EQ(dovecot.uidValidity(users::alice, nested), 4242u);
    auto st = dovecot.doveadm({"mailbox", "status", "-u", "alice", "messages", nested});
    EXPECT_TRUE(st.ok()) << st.err;
    EXPECT_NE(st.out.find("messages=2"), std::string::npos) << st.out;
}

INSTANTIATE_TEST_SUITE_P(Variants, DovecotVariantTest,
                         ::testing::Values(Variant{"Slash", '/', true}, Variant{"Dot", '.', true},
                                           Variant{"NoUidplus", '/', false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DovecotFixtureTest, NameRulesFollowTheDelimiter)
{
    // A '/' server keeps a dot inside a name; a '.' server nests at the dot.
    DovecotFixture slash;
    slash.createMailbox(users::bob, "v1.2");
    auto s = slash.session(users::bob);
    auto boxes = s.listMailboxes();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "v1.2"), 1);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "v1"), 0);

    DovecotOptions o;
    o.delimiter = '.';
    DovecotFixture dot(o);
    dot.createMailbox(users::bob, "v1.2");
    auto d = dot.session(users::bob);
    boxes = d.listMailboxes();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "v1.2"), 1);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "v1"), 1);
}

TEST(DovecotFixtureTest, RefusesBadCertificates)
{
    struct Case {
        CertKind kind;
        const char* host;
        const char* reason;
    };
    for (Case c : {Case{CertKind::OtherHost, "localhost", "hostname mismatch"},
                   Case{CertKind::Untrusted, "localhost", "unable to get local issuer certificate"},
                   Case{CertKind::Expired, "localhost", "certificate has expired"},
                   Case{CertKind::Localhost, "other.example", "hostname mismatch"}}) {
        DovecotOptions o;
        o.cert = c.kind;
        DovecotFixture dovecot(o);
        EXPECT_EQ(RawIMAPClient::tlsHandshakeError(dovecot.imapsPort(), TLSClientOptions{{}, c.host, true}),
                  c.reason);
        // Without verification the server itself works.
        EXPECT_EQ(RawIMAPClient::tlsHandshakeError(dovecot.imapsPort(), TLSClientOptions{{}, c.host, false}), "");
    }
}

TEST(DovecotFixtureTest, TrustTestCASetsTheDefaultVerifyPaths)
{
    trustTestCA();
    EXPECT_EQ(fs::path(std::getenv("SSL_CERT_FILE")), TestCerts::get().trustedCA);
    DovecotFixture dovecot;
    // A client that relies on the default paths: an empty CA file name makes
    // the helper use the test CA, so load the system default explicitly here.
    EXPECT_EQ(RawIMAPClient::tlsHandshakeError(dovecot.imapsPort(),
                                               TLSClientOptions{TestCerts::get().trustedCA, "localhost", true}),
              "");
}

TEST(DovecotFixtureTest, StopsAndRestartsOnTheSamePorts)
{
    DovecotFixture dovecot;
    dovecot.append(users::alice, "INBOX", {{makeMessage("kept"), {}, {}}});
    pid_t first = dovecot.pid();
    dovecot.stop();
    EXPECT_FALSE(dovecot.running());
    EXPECT_NE(::kill(-first, 0), 0) << "process group still alive";  // reaped, not just killed
    EXPECT_THROW(RawIMAPClient::plain(dovecot.imapPort(), 500ms), std::runtime_error);
    dovecot.start();
    EXPECT_EQ(dovecot.uids(users::alice, "INBOX").size(), 1u);
}

TEST(DovecotFixtureTest, SeedsThousandsQuickly)
{
    DovecotFixture dovecot;
    std::vector<SeedMessage> msgs;
    for (int i = 0; i < 3000; ++i) {
        msgs.push_back({makeMessage("bulk " + std::to_string(i)), utc(2021, 1, 1, 0, 0, 0) + std::chrono::minutes(i), {}});
    }
    auto t0 = std::chrono::steady_clock::now();
    auto uids = dovecot.append(users::alice, "Bulk", msgs);
    auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(uids.size(), msgs.size());
    EXPECT_EQ(dovecot.uids(users::alice, "Bulk"), uids);
    EXPECT_EQ(dovecot.fetchRaw(users::alice, "Bulk", uids[2999]), msgs[2999].bytes);
    ::testing::Test::RecordProperty("seed_3000_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}
