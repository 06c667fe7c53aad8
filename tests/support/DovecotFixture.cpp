#include "DovecotFixture.h"

#include "Ports.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace bx::test {
namespace {

// Dovecot's own list after login, without UIDPLUS (LITERAL+ and MULTIAPPEND
// stay: the seeding helper relies on them).
const char* kCapsWithoutUidplus =
    "IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE SORT SORT=DISPLAY THREAD=REFERENCES THREAD=REFS "
    "THREAD=ORDEREDSUBJECT MULTIAPPEND URL-PARTIAL CATENATE UNSELECT CHILDREN NAMESPACE LIST-EXTENDED "
    "I18NLEVEL=1 CONDSTORE QRESYNC ESEARCH ESORT SEARCHRES WITHIN CONTEXT=SEARCH LIST-STATUS BINARY MOVE "
    "SNIPPET=FUZZY PREVIEW=FUZZY PREVIEW STATUS=SIZE SAVEDATE LITERAL+ NOTIFY";

// Root without CAP_SYS_CHROOT (some containers) cannot chroot the mail
// processes. BX_DOVECOT_NO_CHROOT=1 forces that path, to test it.
bool canChroot()
{
    static const bool can = [] {
        const char* no = std::getenv("BX_DOVECOT_NO_CHROOT");
        if (no != nullptr && std::string(no) == "1") return false;
        pid_t p = ::fork();
        if (p == 0) ::_exit(::chroot("/") == 0 ? 0 : 1);
        int st = 0;
        if (p < 0 || ::waitpid(p, &st, 0) != p) return false;
        return WIFEXITED(st) && WEXITSTATUS(st) == 0;
    }();
    return can;
}

// Can "nobody" reach into dir?
bool traversableByOthers(const fs::path& dir)
{
    fs::path p = fs::absolute(dir);
    for (;;) {
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
        if (p == p.root_path()) return true;
        p = p.parent_path();
    }
}

bool useChroot() { return ::geteuid() == 0 && canChroot(); }

fs::path dovecotParent(bool memoryBacked)
{
    fs::path base = TempDir::base();
    if (memoryBacked && ::access("/dev/shm", W_OK | X_OK) == 0) base = "/dev/shm";
    // Unix socket paths are limited to 108 bytes; Dovecot puts sockets about
    // 30 bytes deep under base_dir.
    if (base.string().size() > 60) base = "/tmp";
    // Without the chroot, the mail processes ("nobody") need a way in.
    if (::geteuid() == 0 && !useChroot() && !traversableByOthers(base)) base = "/tmp";
    return base;
}

std::string dovecotBinary()
{
    for (const char* p : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"}) {
        if (::access(p, X_OK) == 0) return p;
    }
    return "/usr/sbin/dovecot";
}

std::string doveadmBinary()
{
    for (const char* p : {"/usr/bin/doveadm", "/usr/local/bin/doveadm"}) {
        if (::access(p, X_OK) == 0) return p;
    }
    return "/usr/bin/doveadm";
}

struct MailUser {
    std::string name;
    uid_t uid;
    gid_t gid;
};

MailUser mailUser(bool root)
{
    if (root) {
        const passwd* pw = ::getpwnam("nobody");
        if (pw == nullptr) throw std::runtime_error("DovecotFixture: no user 'nobody'");
        return {"nobody", pw->pw_uid, pw->pw_gid};
    }
    const passwd* pw = ::getpwuid(::geteuid());
    if (pw == nullptr) throw std::runtime_error("DovecotFixture: current user has no name");
    return {pw->pw_name, pw->pw_uid, pw->pw_gid};
}

void writeText(const fs::path& p, const std::string& text)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("DovecotFixture: cannot write " + p.string());
}

std::string readText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The greeting must carry this instance's token: a port picked at the same
// moment by another test could otherwise answer for a server that failed.
bool greets(uint16_t port, const std::string& token)
{
    try {
        auto c = RawIMAPClient::plain(port, std::chrono::milliseconds(500));
        return c.greeting().rfind("* OK", 0) == 0 && c.greeting().find(token) != std::string::npos;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

const std::vector<TestUser>& defaultUsers()
{
    static const std::vector<TestUser> u{users::alice, users::bob, users::carol, users::dana};
    return u;
}

DovecotFixture::DovecotFixture(DovecotOptions options)
    : options_(std::move(options)), dir_("bx-dovecot", dovecotParent(options_.memoryBacked)), root_(::geteuid() == 0), chroot_(useChroot())
{
    if (::access(dovecotBinary().c_str(), X_OK) != 0) {
        throw std::runtime_error("DovecotFixture: no dovecot binary (package dovecot-imapd; scripts/deps.sh installs it)");
    }
    if (options_.delimiter != '/' && options_.delimiter != '.') {
        throw std::invalid_argument("DovecotFixture: delimiter must be '/' or '.'");
    }
    MailUser mu = mailUser(root_);
    fs::create_directories(dir() / "mail");
    fs::create_directories(dir() / "run");
    fs::create_directories(dir() / "state");
    ::chmod((dir() / "mail").c_str(), 0755);
    if (root_ && !chroot_) ::chmod(dir().c_str(), 0711);
    std::string passwd;
    for (const auto& u : options_.users) {
        if (u.name.find_first_of(":/\n") != std::string::npos ||
            u.password.find_first_of(":\n") != std::string::npos) {
            throw std::invalid_argument("DovecotFixture: user name or password not storable: " + u.name);
        }
        fs::path home = dir() / "mail" / u.name;
        fs::create_directories(home);
        if (root_ && ::chown(home.c_str(), mu.uid, mu.gid) != 0) {
            throw std::runtime_error("DovecotFixture: chown " + home.string());
        }
        // As root the mail process is chrooted into dir()/mail, so the home
        // is written relative to that root.
        std::string homeField = chroot_ ? "/" + u.name : home.string();
        passwd += u.name + ":{PLAIN}" + u.password + ":" + std::to_string(mu.uid) + ":" +
                  std::to_string(mu.gid) + "::" + homeField + "::\n";
    }
    writeText(dir() / "passwd", passwd);
    ::chmod((dir() / "passwd").c_str(), 0600);

    std::string why;
    for (int attempt = 0; attempt < 8; ++attempt) {
        imapPort_ = freeLoopbackPort();
        imapsPort_ = freeLoopbackPort();
        if (imapsPort_ == imapPort_) continue;
        writeConfig();
        if (tryStart(why)) return;
        if (why.find("Address already in use") == std::string::npos) break;
    }
    throw std::runtime_error("DovecotFixture: Dovecot did not start: " + why);
}

DovecotFixture::~DovecotFixture() { stop(); }

bool DovecotFixture::running() const { return pid_ > 0 && serverRunning(pid_); }

void DovecotFixture::writeConfig() const
{
    MailUser mu = mailUser(root_);
    const std::string d = dir().string();
    const ServerCert& cert = TestCerts::get().server(options_.cert);
    std::ostringstream c;
    c << "# Written by the test fixture; run doveadm with -c on this file.\n"
      << "protocols = imap\n"
      << "listen = 127.0.0.1\n"
      << "base_dir = " << d << "/run\n"
      << "state_dir = " << d << "/state\n"
      << "log_path = " << d << "/dovecot.log\n"
      << "info_log_path = " << d << "/dovecot.log\n"
      << "instance_name = " << instanceToken() << "\n"
      << "login_greeting = Brindlebox test server " << instanceToken() << " ready.\n"
      << "ssl = yes\n"
      << "ssl_cert = <" << cert.certFile.string() << "\n"
      << "ssl_key = <" << cert.keyFile.string() << "\n"
      << "ssl_min_protocol = TLSv1.2\n"
      << "disable_plaintext_auth = no\n"
      << "auth_mechanisms = plain login\n"
      << "auth_failure_delay = 0\n"
      << "login_trusted_networks =\n"
      << "mail_fsync = never\n"
      << "mail_max_userip_connections = 200\n"
      << "default_login_user = " << (root_ ? "nobody" : mu.name) << "\n"
      << "default_internal_user = " << (root_ ? "root" : mu.name) << "\n";
    if (!root_) {
        // Sockets of the internal services are chowned to this group.
        const group* gr = ::getgrgid(mu.gid);
        c << "default_internal_group = " << (gr != nullptr ? gr->gr_name : std::to_string(mu.gid)) << "\n";
    }
    c
      << "first_valid_uid = " << (mu.uid < 500 ? mu.uid : 500) << "\n"
      << "first_valid_gid = 0\n";
    if (chroot_) {
        c << "valid_chroot_dirs = " << d << "/mail\n"
          << "mail_chroot = " << d << "/mail\n";
    }
    c << "mail_location = maildir:~/Maildir" << (options_.delimiter == '/' ? ":LAYOUT=fs" : "") << "\n"
      << "namespace inbox {\n  inbox = yes\n  separator = " << options_.delimiter << "\n  prefix =\n}\n"
      << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " << d << "/passwd\n}\n"
      << "userdb {\n  driver = passwd-file\n  args = username_format=%u " << d << "/passwd\n}\n"
      << "service imap-login {\n  chroot =\n"
      << "  inet_listener imap {\n    address = 127.0.0.1\n    port = " << imapPort_ << "\n  }\n"
      << "  inet_listener imaps {\n    address = 127.0.0.1\n    port = " << imapsPort_ << "\n    ssl = yes\n  }\n"
      << "}\n"
      // No listener for the auth penalty: otherwise every failed login
      // from 127.0.0.1 slows the next logins of every test down by seconds.
      << "service anvil {\n  chroot =\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n";
    if (!options_.uidplus) c << "imap_capability = " << kCapsWithoutUidplus << "\n";
    c << options_.extraConfig << "\n";
    writeText(configFile(), c.str());
}

bool DovecotFixture::tryStart(std::string& why)
{
    std::error_code ec;
    fs::remove(logFile(), ec);
    pid_ = spawnServer({dovecotBinary(), "-c", configFile().string(), "-F"}, dir() / "dovecot.stderr");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        if (greets(imapPort_, instanceToken())) return true;
        if (!serverRunning(pid_)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    why = log() + readText(dir() / "dovecot.stderr");
    stopServer(pid_, std::chrono::milliseconds(0));
    pid_ = -1;
    return false;
}

void DovecotFixture::stop()
{
    // A graceful shutdown costs Dovecot about a second; nothing in a test
    // needs it (mail is written through to the page cache either way).
    if (pid_ > 0) stopServer(pid_, std::chrono::milliseconds(0));
    pid_ = -1;
}

void DovecotFixture::start()
{
    if (running()) return;
    std::string why;
    if (!tryStart(why)) throw std::runtime_error("DovecotFixture: restart failed: " + why);
}

std::string DovecotFixture::instanceToken() const
{
    // Unique among live fixtures: the temp dir's random suffix.
    return "bx-" + dir().filename().string().substr(std::string("bx-dovecot-").size());
}

std::string DovecotFixture::path(std::initializer_list<std::string_view> parts) const
{
    std::string out;
    for (auto p : parts) {
        if (!out.empty()) out += options_.delimiter;
        out += p;
    }
    return out;
}

fs::path DovecotFixture::maildir(const TestUser& user) const { return dir() / "mail" / user.name / "Maildir"; }

std::string DovecotFixture::log() const { return readText(logFile()); }

CommandResult DovecotFixture::doveadm(const std::vector<std::string>& args) const
{
    std::vector<std::string> argv{doveadmBinary(), "-c", configFile().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv);
}

std::string DovecotFixture::doveadmOrThrow(const std::vector<std::string>& args) const
{
    CommandResult r = doveadm(args);
    if (!r.ok()) {
        std::string cmd;
        for (const auto& a : args) cmd += " " + a;
        throw std::runtime_error("doveadm" + cmd + " exited with " + std::to_string(r.exitCode) + ": " + r.err +
                                 r.out);
    }
    return r.out;
}

RawIMAPClient DovecotFixture::session(const TestUser& user) const
{
    RawIMAPClient c = RawIMAPClient::plain(imapPort_);
    c.login(user.name, user.password);
    return c;
}

void DovecotFixture::createMailbox(const TestUser& user, std::string_view mailbox) const
{
    auto c = session(user);
    c.createMailbox(mailbox);
    c.logout();
}

void DovecotFixture::expunge(const TestUser& user, std::string_view mailbox, const std::vector<uint32_t>& uids) const
{
    auto c = session(user);
    c.expunge(mailbox, uids);
    c.logout();
}

std::vector<uint32_t> DovecotFixture::append(const TestUser& user, std::string_view mailbox,
                                             const std::vector<SeedMessage>& messages) const
{
    auto c = session(user);
    auto uids = c.append(mailbox, messages);
    c.logout();
    return uids;
}

std::vector<uint32_t> DovecotFixture::uids(const TestUser& user, std::string_view mailbox) const
{
    auto c = session(user);
    auto out = c.uids(mailbox);
    c.logout();
    return out;
}

std::string DovecotFixture::fetchRaw(const TestUser& user, std::string_view mailbox, uint32_t uid) const
{
    auto c = session(user);
    auto out = c.fetchRaw(mailbox, uid);
    c.logout();
    return out;
}

uint32_t DovecotFixture::uidValidity(const TestUser& user, std::string_view mailbox) const
{
    auto c = session(user);
    auto out = c.uidValidity(mailbox);
    c.logout();
    return out;
}

void DovecotFixture::setUidValidity(const TestUser& user, std::string_view mailbox, uint32_t validity) const
{
    doveadmOrThrow({"mailbox", "update", "--uid-validity", std::to_string(validity), "-u", user.name,
                    std::string(mailbox)});
}

}  // namespace bx::test
