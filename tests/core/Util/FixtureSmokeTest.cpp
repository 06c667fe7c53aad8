// The test fixtures themselves: the Dovecot server in each variant, the test
// certificates, seeding and read-back, and the scripted fake server.

#include "support/DovecotFixture.h"
#include "support/FakeIMAPServer.h"
#include "support/Ports.h"
#include "support/RawIMAPClient.h"
#include "support/TempDir.h"
#include "support/TestCerts.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <fstream>
#include <sstream>
#include <thread>

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

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

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
        auto in = tls.check("LOGIN alice " + imapString(users::alice.password));
        EXPECT_EQ(in.tagged.find("UIDPLUS") != std::string::npos, v.uidplus) << in.tagged;  // the LOGIN code too
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

    // Messages removed behind the client's back; UID EXPUNGE works even
    // where UIDPLUS is not advertised.
    auto more = dovecot.append(users::alice, "INBOX", {{makeMessage("a"), {}, {}}, {makeMessage("b"), {}, {}}});
    dovecot.expunge(users::alice, "INBOX", {more[0]});
    EXPECT_EQ(dovecot.uids(users::alice, "INBOX"), std::vector<uint32_t>{more[1]});

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
    DovecotOptions o;
    o.memoryBacked = true;
    DovecotFixture dovecot(o);
    if (fs::exists("/dev/shm")) {
        EXPECT_EQ(dovecot.dir().parent_path(), fs::path("/dev/shm"));
    }
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

namespace {

// Processes of a group that are still alive (zombies count as gone: an init
// that does not reap may keep them around).
int liveInGroup(pid_t pgid)
{
    int n = 0;
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        // Processes come and go while we look: a stat file that cannot be
        // read belongs to one that is gone.
        FILE* f = std::fopen((it->path() / "stat").c_str(), "r");
        if (f == nullptr) continue;
        char buf[1024];
        std::size_t len = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        std::string stat(buf, len);
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size()) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = 0;
        long ppid = 0, pgrp = 0;
        rest >> state >> ppid >> pgrp;
        if (pgrp == pgid && state != 'Z' && state != 'X') ++n;
    }
    return n;
}

}  // namespace

TEST(DovecotFixtureTest, OutlivesTheThreadThatStartedIt)
{
    std::unique_ptr<DovecotFixture> dovecot;
    std::thread([&] { dovecot = std::make_unique<DovecotFixture>(); }).join();
    std::this_thread::sleep_for(200ms);  // a death signal would have landed by now
    EXPECT_TRUE(dovecot->running());
    EXPECT_TRUE(dovecot->uids(users::alice, "INBOX").empty());
}

TEST(DovecotFixtureTest, AForkedChildLeavesTheParentsServerAlone)
{
    DovecotFixture dovecot;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) std::exit(0);  // runs the exit handlers in the child
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(dovecot.running());
    EXPECT_NO_THROW(dovecot.session(users::alice).logout());
}

TEST(DovecotFixtureTest, DiesWithTheTestProcess)
{
    TestCerts::get();  // made here, so the killed child leaves no certificate folder behind
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(p[0]);
        try {
            DovecotFixture d;
            std::string msg = std::to_string(d.pid()) + " " + d.dir().string() + "\n";
            (void)!::write(p[1], msg.data(), msg.size());
            ::pause();
        } catch (...) {
        }
        ::_exit(1);
    }
    ::close(p[1]);
    std::string msg;
    char buf[512];
    ssize_t n;
    while ((n = ::read(p[0], buf, sizeof buf)) > 0) {
        msg.append(buf, static_cast<std::size_t>(n));
        if (msg.find('\n') != std::string::npos) break;
    }
    ::close(p[0]);
    std::istringstream in(msg);
    pid_t server = 0;
    std::string dir;
    in >> server >> dir;
    ASSERT_GT(server, 0) << "the child did not start Dovecot";
    EXPECT_GT(liveInGroup(server), 0);

    ::kill(child, SIGKILL);  // no destructors, no atexit
    ::waitpid(child, nullptr, 0);
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (liveInGroup(server) > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(liveInGroup(server), 0) << "Dovecot outlived the process that started it";
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// ---- the scripted fake server ----

TEST(FakeIMAPServerTest, MatchingRules)
{
    struct Case {
        const char* pattern;
        const char* line;
        bool match;
        const char* tag;
    };
    const Case cases[] = {
        {"{tag} LOGIN alice *", "B0001 LOGIN alice \"pw\"", true, "B0001"},
        {"{tag} LOGIN alice *", "B0001 LOGIN bob \"pw\"", false, ""},
        {"{tag} CAPABILITY", "B0002 CAPABILITY", true, "B0002"},
        {"{tag} CAPABILITY", "B0002 CAPABILITY ", false, ""},
        {"{tag} CAPABILITY", " CAPABILITY", false, ""},
        {"{tag} UID FETCH * (UID*)", "A7 UID FETCH 1:3,9 (UID RFC822.SIZE)", true, "A7"},
        {"*", "", true, ""},
        {"{tag} LIST \"\" \"*\"", "t LIST \"\" \"*\"", true, "t"},
        {"x*y*z", "xaybz", true, ""},
        {"x*y*z", "xaybza", false, ""},
    };
    for (const Case& c : cases) {
        std::string tag;
        EXPECT_EQ(FakeIMAPServer::matches(c.pattern, c.line, &tag), c.match) << c.pattern << " vs " << c.line;
        if (c.match) {
            EXPECT_EQ(tag, c.tag) << c.pattern;
        }
    }
}

TEST(FakeIMAPServerTest, PlaysScriptAndRecordsTheClientsBytes)
{
    FakeIMAPServer fake;
    fake.sendBytewise("* OK [CAPABILITY IMAP4rev1] fake\r\n")
        .expect("{tag} LOGIN {5}")
        .send("+ go\r\n")
        .expectBytes("alice")
        .expect(" \"pw\"")
        .sendSplit("{tag} OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n", {1, 2, 10})
        .expectExact("T1 LOGOUT")
        .send("* BYE bye\r\nT1 OK out\r\n")
        .expectClose();
    fake.start();

    auto c = RawIMAPClient::plain(fake.port());
    EXPECT_EQ(c.greeting(), "* OK [CAPABILITY IMAP4rev1] fake\r\n");
    c.write("X1 LOGIN {5}\r\n");
    EXPECT_EQ(c.readResponse(), "+ go\r\n");
    c.write("alice");
    c.write(" \"pw\"\r\n");
    EXPECT_EQ(c.readResponse(), "X1 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n");
    auto bye = c.command("LOGOUT");
    EXPECT_TRUE(bye.ok());
    { RawIMAPClient gone(std::move(c)); }  // closes the socket

    ASSERT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
    EXPECT_EQ(fake.received(), "X1 LOGIN {5}\r\nalice \"pw\"\r\nT1 LOGOUT\r\n");
    EXPECT_EQ(fake.tag(), "X1");
    // The literal came after the continuation, so it is a read of its own.
    auto reads = fake.reads();
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[0], "X1 LOGIN {5}\r\n");
    EXPECT_EQ(reads[1].substr(0, 5), "alice");
    EXPECT_TRUE(fake.clientClosed());
}

TEST(FakeIMAPServerTest, MismatchEndsTheScriptAndClosesTheConnection)
{
    FakeIMAPServer fake;
    fake.send("* OK hi\r\n").expect("{tag} LOGIN *").send("{tag} OK never sent\r\n");
    fake.start();
    auto c = RawIMAPClient::plain(fake.port());
    c.write("a1 SELECT INBOX\r\n");
    EXPECT_THROW(c.readResponse(), std::runtime_error);  // closed, nothing sent
    ASSERT_TRUE(fake.waitDone());
    EXPECT_FALSE(fake.completed());
    EXPECT_NE(fake.failure().find("a1 SELECT INBOX"), std::string::npos) << fake.failure();
}

TEST(FakeIMAPServerTest, DropsMidLiteralAndResets)
{
    for (bool reset : {false, true}) {
        FakeIMAPServer fake;
        fake.send("* OK hi\r\n").expect("{tag} UID FETCH 1 BODY[]").send("* 1 FETCH (UID 1 BODY[] {100}\r\nabc");
        if (reset) {
            fake.reset();
        } else {
            fake.drop();
        }
        fake.start();
        auto c = RawIMAPClient::plain(fake.port());
        c.write("x UID FETCH 1 BODY[]\r\n");
        try {
            c.readResponse();
            ADD_FAILURE() << "a response despite the drop";
        } catch (const std::runtime_error& e) {
            std::string what = e.what();
            if (reset) EXPECT_NE(what.find("reset"), std::string::npos) << what;
            else EXPECT_NE(what.find("closed"), std::string::npos) << what;
        }
        ASSERT_TRUE(fake.waitDone());
        EXPECT_TRUE(fake.completed()) << fake.failure();
    }
}

TEST(FakeIMAPServerTest, StallsBeforeTheNextStep)
{
    FakeIMAPServer fake;
    fake.send("* OK hi\r\n").stall(300ms).send("* late\r\n");
    fake.start();
    auto c = RawIMAPClient::plain(fake.port());
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(c.readResponse(), "* late\r\n");
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 250ms);
    // A client with a short time limit gives up during the stall.
    FakeIMAPServer slow;
    slow.send("* OK hi\r\n").stall(5s).send("* late\r\n");
    slow.start();
    auto d = RawIMAPClient::plain(slow.port());
    d.setTimeout(100ms);
    EXPECT_THROW(d.readResponse(), std::runtime_error);
}

TEST(FakeIMAPServerTest, ReportsAClientThatNeverComes)
{
    FakeIMAPServer::Options o;
    o.acceptTimeout = 50ms;
    FakeIMAPServer fake(o);
    fake.send("* OK hi\r\n");
    fake.start();
    ASSERT_TRUE(fake.waitDone());
    EXPECT_FALSE(fake.connected());
    EXPECT_EQ(fake.failure(), "no client connected");
}

TEST(FakeIMAPServerTest, SpeaksTLS)
{
    FakeIMAPServer::Options o;
    o.tls = true;
    FakeIMAPServer fake(o);
    fake.send("* OK tls\r\n").expect("{tag} LOGIN * *").send("{tag} OK in\r\n").drop();
    fake.start();
    auto c = RawIMAPClient::tls(fake.port(), TLSClientOptions{{}, "localhost", true});
    EXPECT_EQ(c.greeting(), "* OK tls\r\n");
    EXPECT_TRUE(c.command("LOGIN alice secret").ok());
    EXPECT_THROW(c.readResponse(), std::runtime_error);
    ASSERT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
    EXPECT_EQ(fake.received(), "T1 LOGIN alice secret\r\n");

    // A client that refuses the certificate: the script fails at the handshake.
    o.cert = CertKind::Untrusted;
    FakeIMAPServer bad(o);
    bad.send("* OK tls\r\n");
    bad.start();
    EXPECT_EQ(RawIMAPClient::tlsHandshakeError(bad.port()), "unable to get local issuer certificate");
    ASSERT_TRUE(bad.waitDone());
    EXPECT_NE(bad.failure().find("TLS handshake failed"), std::string::npos) << bad.failure();
}

TEST(FakeIMAPServerTest, AcceptsTheClientsNextConnection)
{
    FakeIMAPServer fake;
    fake.send("* OK first\r\n").expect("{tag} NOOP").drop()
        .acceptNext().send("* OK second\r\n").expect("{tag} NOOP").send("{tag} OK again\r\n");
    fake.start();
    {
        auto c = RawIMAPClient::plain(fake.port());
        EXPECT_EQ(c.greeting(), "* OK first\r\n");
        c.write("a NOOP\r\n");
        EXPECT_THROW(c.readResponse(), std::runtime_error);
    }
    auto d = RawIMAPClient::plain(fake.port());
    EXPECT_EQ(d.greeting(), "* OK second\r\n");
    EXPECT_TRUE(d.command("NOOP").ok());
    ASSERT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
    EXPECT_EQ(fake.connections(), 2);
    EXPECT_EQ(fake.received(), "a NOOP\r\nT1 NOOP\r\n");
}

TEST(FakeIMAPServerTest, DestructionDoesNotWaitForAClientThatNeverReads)
{
    auto fake = std::make_unique<FakeIMAPServer>();
    fake->send("* OK hi\r\n").send(std::string(64 << 20, 'x'));
    fake->start();
    auto c = RawIMAPClient::plain(fake->port());  // reads the greeting, then nothing
    fake.reset();                                   // must not hang in the 64 MiB send
    SUCCEED();
}
