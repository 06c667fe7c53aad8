// The free-up engine at scale, on a local Dovecot over TLS with the vault on
// /dev/shm:
//   - the copy check over N local copies (files/s), as the application runs it
//     after the survey, one item after another;
//   - the release of N verified messages: wall time, and the commands sent
//     (each one a round trip), counted by a forwarding proxy on a second,
//     identical mailbox;
//   - the release of N copies without recorded digests (a vault backed up
//     before they were kept), each compared with the server's bytes first,
//     on a third identical mailbox; beside it the backup of the same mail.
//
//   bench_freeup [--messages N] [--size BYTES]      (10,000 and about 4 KB)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Engines/BackupRunner.h"
#include "Engines/Cleaner.h"
#include "Vault/MessageDigests.h"
#include "common/BenchPeers.h"
#include "support/DovecotFixture.h"
#include "support/TempDir.h"
#include "support/TestCerts.h"

using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Forwards plain IMAP to Dovecot and counts the client's command lines.
class CountingProxy {
public:
    explicit CountingProxy(std::uint16_t upstream) : upstream_(upstream) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 4);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~CountingProxy() {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }
    std::uint16_t port() const { return port_; }
    long commands() const { return commands_; }

private:
    void serve() {
        int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(upstream_);
        int one = 1;
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
        std::vector<char> buf(1 << 16);
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, 30000) <= 0) break;
            bool done = false;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                ssize_t n = ::recv(fds[i].fd, buf.data(), buf.size(), 0);
                if (n <= 0) { done = true; break; }
                if (i == 0)
                    for (ssize_t k = 0; k < n; ++k)
                        if (buf[k] == '\n') ++commands_;
                ::send(fds[1 - i].fd, buf.data(), static_cast<size_t>(n), MSG_NOSIGNAL);
            }
            if (done) break;
        }
        ::close(client);
        ::close(server);
    }

    std::uint16_t upstream_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<long> commands_{0};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    int count = 10000;
    std::size_t size = 4000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--messages")) count = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--size")) size = static_cast<std::size_t>(std::atoll(argv[i + 1]));
    }
    setenv("TZ", "UTC", 1);
    bx::test::trustTestCA();
    bx::test::DovecotFixture dovecot;
    bx::test::TempDir shm("bx-bench-freeup", std::filesystem::exists("/dev/shm") ? "/dev/shm" : bx::test::TempDir::base());

    const auto old = std::chrono::system_clock::now() - std::chrono::hours(24 * 1500);
    std::mt19937 rng(7);
    auto t = Clock::now();
    for (const auto* user : {&bx::test::users::alice, &bx::test::users::bob, &bx::test::users::carol}) {
        std::vector<bx::test::SeedMessage> batch;
        for (int i = 0; i < count; ++i) {
            batch.push_back({bx::test::makeMessage("Message " + std::to_string(i), bx::bench::bodyOfSize(size, rng)),
                             std::chrono::floor<std::chrono::seconds>(old), {}});
            if (batch.size() == 500 || i + 1 == count) {
                dovecot.append(*user, "INBOX", batch);
                batch.clear();
            }
        }
    }
    std::printf("seeded 3 x %d messages of ~%zu bytes in %.1f s\n", count, size, since(t));

    auto accountFor = [&](const bx::test::TestUser& user, const char* label) {
        bx::MailAccount account;
        account.id = bx::UUID::random();
        account.label = label;
        account.username = user.name;
        account.server = bx::IMAPServer("localhost", dovecot.imapsPort(), false);
        return account;
    };
    bx::ArchiveLayout layout(shm.path());
    bx::MailAccount alice = accountFor(bx::test::users::alice, "Alice");
    bx::MailAccount bob = accountFor(bx::test::users::bob, "Bob");
    bx::MailAccount carol = accountFor(bx::test::users::carol, "Carol");

    t = Clock::now();
    bx::BackupRunner(layout, alice, bx::test::users::alice.password).run();
    const double backupSeconds = since(t);
    bx::BackupRunner(layout, bob, bx::test::users::bob.password).run();
    bx::BackupRunner(layout, carol, bx::test::users::carol.password).run();
    std::printf("backed up alice in %.1f s, bob and carol after\n", backupSeconds);

    const auto before = std::chrono::system_clock::now() - std::chrono::hours(24 * 730);
    bx::Cleaner cleaner(layout, alice, bx::test::users::alice.password);
    t = Clock::now();
    bx::CleanupPlan plan = cleaner.survey("INBOX", before);
    const double surveySeconds = since(t);

    t = Clock::now();
    for (auto& item : plan.items) item.status = bx::Cleaner::verify(item, layout);
    const double verifySeconds = since(t);
    std::int64_t bytes = 0;
    for (const auto& item : plan.items) bytes += item.serverSize;
    if (static_cast<int>(plan.verified().size()) != count) {
        std::fprintf(stderr, "only %zu of %d verified\n", plan.verified().size(), count);
        return 1;
    }

    // Setting up (re-check, re-measure, and any server comparison) ends
    // where the first progress report comes, before anything is flagged.
    double setupSeconds = 0;
    t = Clock::now();
    const auto released = cleaner.execute(plan, [&](std::int64_t done, std::int64_t) {
        if (done == 0) setupSeconds = since(t);
    });
    const double releaseSeconds = since(t);

    // The same release on bob's mailbox, over plain IMAP through a counting proxy.
    CountingProxy proxy(dovecot.imapPort());
    bx::MailAccount counted = bob;
    counted.server = bx::IMAPServer("127.0.0.1", proxy.port(), true);
    bx::Cleaner bobCleaner(layout, counted, bx::test::users::bob.password);
    bx::CleanupPlan bobPlan = bobCleaner.plan("INBOX", before);
    CountingProxy releaseProxy(dovecot.imapPort());
    counted.server.port = releaseProxy.port();
    bx::Cleaner bobRelease(layout, counted, bx::test::users::bob.password);
    t = Clock::now();
    const auto bobReleased = bobRelease.execute(bobPlan);
    const double plainSeconds = since(t);

    // Carol's copies lose their digests, as in a vault from before they were
    // kept: the release compares each with the server before flagging it.
    std::filesystem::remove(bx::MessageDigests::fileFor(layout, "Carol/INBOX"));
    bx::Cleaner carolCleaner(layout, carol, bx::test::users::carol.password);
    bx::CleanupPlan carolPlan = carolCleaner.plan("INBOX", before);
    double unrecordedSetupSeconds = 0;
    t = Clock::now();
    const auto carolReleased = carolCleaner.execute(carolPlan, [&](std::int64_t done, std::int64_t) {
        if (done == 0) unrecordedSetupSeconds = since(t);
    });
    const double unrecordedSeconds = since(t);
    const double compareSeconds = unrecordedSetupSeconds - setupSeconds;

    std::printf("\nfree-up of %d messages\n", count);
    std::printf("%-44s %12.3f s\n", "survey (EXAMINE, SEARCH, metadata)", surveySeconds);
    std::printf("%-44s %12.3f s\n", "copy check, all local copies", verifySeconds);
    std::printf("%-44s %12.0f files/s\n", "copy check rate", count / verifySeconds);
    std::printf("%-44s %12.1f MB/s\n", "copy check rate", bytes / 1e6 / verifySeconds);
    std::printf("%-44s %12lld\n", "released (TLS)", static_cast<long long>(released));
    std::printf("%-44s %12.3f s\n", "release wall time (TLS)", releaseSeconds);
    std::printf("%-44s %12.3f s\n", "  of which setting up, before any flag", setupSeconds);
    std::printf("%-44s %12.0f msgs/s\n", "release rate (TLS)", released / releaseSeconds);
    std::printf("%-44s %12lld\n", "released (plain, via counting proxy)", static_cast<long long>(bobReleased));
    std::printf("%-44s %12.3f s\n", "release wall time (plain, proxied)", plainSeconds);
    std::printf("%-44s %12ld\n", "release commands = round trips", releaseProxy.commands());
    std::printf("%-44s %12lld\n", "released, no digests (TLS)", static_cast<long long>(carolReleased));
    std::printf("%-44s %12.3f s\n", "release wall time, no digests (TLS)", unrecordedSeconds);
    std::printf("%-44s %12.3f s\n", "  of which setting up, before any flag", unrecordedSetupSeconds);
    std::printf("%-44s %12.3f s\n", "comparing with the server (the difference)", compareSeconds);
    std::printf("%-44s %12.1f MB/s\n", "server comparison rate", bytes / 1e6 / compareSeconds);
    std::printf("%-44s %12.3f s\n", "backup of the same mail (TLS)", backupSeconds);
    std::printf("%-44s %12.1f MB/s\n", "backup rate", bytes / 1e6 / backupSeconds);
    return released == count && bobReleased == count && carolReleased == count ? 0 : 1;
}
