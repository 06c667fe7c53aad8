#pragma once
// A real Dovecot IMAP server for one test, on free 127.0.0.1 ports.
//
//   bx::test::DovecotFixture dovecot;               // started, greeting seen
//   bx::test::trustTestCA();                         // SSL_CERT_FILE -> test CA
//   server.host = "localhost" (or "127.0.0.1");  server.port = dovecot.imapsPort();
//   ... log in as bx::test::users::alice ...
//
//   // seeding and independent checks (plain IMAP, not the product's code)
//   auto uids = dovecot.append(users::alice, "Archive/2024",
//                              {{bx::test::makeMessage("Hi"), someTime, {"\\Seen"}}});
//   std::string bytes = dovecot.fetchRaw(users::alice, "Archive/2024", uids[0]);
//   dovecot.doveadm({"mailbox", "update", "--uid-validity", "77", "-u", "alice", "INBOX"});
//
// What you get:
//   - IMAPS (TLS, certificate from TestCerts: localhost + 127.0.0.1 by the test
//     CA, or a bad one on request) on imapsPort(), plain IMAP on imapPort();
//     LOGIN works on both (plaintext auth allowed on loopback).
//   - passwd-file users (users::alice ... users::dana by default). A refused
//     login is answered after about 0.5 s (Dovecot's fixed failure-delay
//     tick); there is no growing penalty for repeated failures.
//   - Maildir storage under dir()/mail, without fsync; INTERNALDATE is a
//     message file's mtime.
//   - Hierarchy delimiter '/' (Maildir LAYOUT=fs: names may hold '.') or '.'
//     (Maildir++: names cannot hold '/').
//   - Optionally no UIDPLUS in the capabilities (CAPABILITY replies and the
//     LOGIN completion's code); the server still accepts UID EXPUNGE if sent,
//     so check the wire with the fake server when the exact command matters.
//   - It listens on 127.0.0.1 only: where "localhost" also resolves to ::1, a
//     client reaches it by trying the next address after the refusal.
//   - The server runs in its own process group, dies with the test process
//     (PR_SET_PDEATHSIG) and is stopped by pid on destruction.
// Start takes about 50-100 ms. Everything lives in one temp dir that is
// removed at the end (BX_KEEP_FAILED_TEMP=1 keeps it for failed tests; the
// log is dovecot.log in it).
// When the test runs as root (CI), logins run as "nobody" and mail processes
// are chrooted into dir()/mail as "nobody", so the temp dir's parents need no
// permissions for others. (Where root may not chroot, the server's dir goes
// to /tmp instead when $TMPDIR is closed to others.)

#include "Process.h"
#include "RawIMAPClient.h"
#include "TempDir.h"
#include "TestCerts.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bx::test {

struct TestUser {
    std::string name;
    std::string password;
};

namespace users {
inline const TestUser alice{"alice", "alice-secret"};
inline const TestUser bob{"bob", "correct horse battery"};   // spaces
inline const TestUser carol{"carol", "say \"cheese\" \\o/"};  // double quotes and a backslash
inline const TestUser dana{"dana", "Grüße-Paßwort"};         // non-ASCII (UTF-8)
}  // namespace users

// alice, bob, carol, dana.
const std::vector<TestUser>& defaultUsers();

struct DovecotOptions {
    char delimiter = '/';  // '/' or '.'
    bool uidplus = true;   // false: UIDPLUS is not advertised
    CertKind cert = CertKind::Localhost;
    std::vector<TestUser> users = defaultUsers();  // names: no ':' nor '/'; passwords: no ':' nor newline
    // Keep the server's directory (mail included) in /dev/shm instead of
    // $TMPDIR when that exists: seeding thousands of messages is several
    // times faster where file creation on disk is slow. Meant for large
    // seeds and benchmarks.
    bool memoryBacked = false;
    // Appended verbatim to dovecot.conf (later settings win), e.g.
    // "mail_debug = yes\n" or "imap_idle_notify_interval = 1 secs\n".
    std::string extraConfig;
};

class DovecotFixture {
public:
    static constexpr const char* host = "127.0.0.1";

    explicit DovecotFixture(DovecotOptions options = {});
    ~DovecotFixture();
    DovecotFixture(const DovecotFixture&) = delete;
    DovecotFixture& operator=(const DovecotFixture&) = delete;

    uint16_t imapsPort() const { return imapsPort_; }
    uint16_t imapPort() const { return imapPort_; }
    char delimiter() const { return options_.delimiter; }
    const DovecotOptions& options() const { return options_; }
    pid_t pid() const { return pid_; }
    bool running() const;

    // Joins name parts with this server's delimiter: path({"Archive", "2024"}).
    std::string path(std::initializer_list<std::string_view> parts) const;

    const std::filesystem::path& dir() const { return dir_.path(); }
    std::filesystem::path configFile() const { return dir() / "dovecot.conf"; }
    std::filesystem::path logFile() const { return dir() / "dovecot.log"; }
    // A user's Maildir root on disk; it is also INBOX (cur/, new/, tmp/).
    // Other mailboxes are below it in modified UTF-7: "A/Entwürfe" is
    // A/Entw&APw-rfe/ with '/' and .A.Entw&APw-rfe/ with '.'. Files are stored
    // with LF line ends (Dovecot adds the CRs when serving) and owned by
    // "nobody" when the tests run as root. Dovecot notices changes made here
    // on the next access.
    std::filesystem::path maildir(const TestUser& user) const;
    std::string log() const;

    // Stops the server (SIGTERM, then SIGKILL to its group). Idempotent.
    void stop();
    // Starts it again on the same ports with the same mail.
    void start();

    // Runs `doveadm -c <config> <args...>` (as root in CI; mail commands
    // switch to the mail user themselves). Mailbox names are UTF-8.
    CommandResult doveadm(const std::vector<std::string>& args) const;
    // As doveadm(), but throws with the output unless it exits with 0.
    std::string doveadmOrThrow(const std::vector<std::string>& args) const;

    // Seeding and checks through a fresh plain-IMAP session (RawIMAPClient).
    // Mailbox names are UTF-8 with this server's delimiter.
    RawIMAPClient session(const TestUser& user = users::alice) const;  // logged in
    void createMailbox(const TestUser& user, std::string_view mailbox) const;
    // Removes messages behind the product's back (STORE \Deleted, then UID
    // EXPUNGE of just these UIDs).
    void expunge(const TestUser& user, std::string_view mailbox, const std::vector<uint32_t>& uids) const;
    std::vector<uint32_t> append(const TestUser& user, std::string_view mailbox,
                                 const std::vector<SeedMessage>& messages) const;
    std::vector<uint32_t> uids(const TestUser& user, std::string_view mailbox) const;
    std::string fetchRaw(const TestUser& user, std::string_view mailbox, uint32_t uid) const;
    uint32_t uidValidity(const TestUser& user, std::string_view mailbox) const;
    // doveadm mailbox update --uid-validity.
    void setUidValidity(const TestUser& user, std::string_view mailbox, uint32_t validity) const;

private:
    void writeConfig() const;
    std::string instanceToken() const;
    bool tryStart(std::string& why);

    DovecotOptions options_;
    TempDir dir_;
    bool root_ = false;
    bool chroot_ = false;
    uint16_t imapsPort_ = 0;
    uint16_t imapPort_ = 0;
    pid_t pid_ = -1;
};

}  // namespace bx::test
