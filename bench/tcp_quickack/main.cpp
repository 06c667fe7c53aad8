// Time IMAP work through a proxy that imitates servers which hold the last
// small segment of every reply until the client acknowledges what came before
// (Nagle on the server's side, the client in delayed-ACK mode: about 40 ms a
// reply). Each workload runs straight to Dovecot and through the proxy, once
// as the client is built (quick-ACK re-armed after every receive) and once
// with TCP_QUICKACK suppressed, which is how the client behaved before.
//
//   bench_tcp_quickack [--messages N] [--batches N] [--rounds N]
//
// Workloads, over TLS as the backup runs them:
//   backup   EXAMINE, UID SEARCH, sizes in chunks of 500, bodies in batches
//            of 40 messages (--messages, 1,500 of about 4 KB)
//   batches  --batches (103) UID FETCH commands of 3 small bodies each
// Figures are the best of --rounds (3) runs.
#include "Imap/IMAPClient.h"

#include "common/BenchPeers.h"
#include "support/DovecotFixture.h"
#include "support/TestCerts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

std::atomic<bool> suppressQuickAck{false};

}  // namespace

// Every setsockopt of this process comes here first (the executable's symbol
// wins over the C library's), so the benchmark can take TCP_QUICKACK away
// from the client without a switch in the product.
extern "C" int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    if (level == IPPROTO_TCP && name == TCP_QUICKACK && suppressQuickAck.load()) return 0;
    return static_cast<int>(::syscall(SYS_setsockopt, fd, level, name, value, length));
}

namespace {

// Forwards one port to another. Towards the client it leaves Nagle on and
// writes each chunk from the server in two sends, the last few bytes apart:
// that tail waits for the client's ACK of the rest.
class NagleProxy {
public:
    explicit NagleProxy(std::uint16_t upstreamPort) : upstream_(upstreamPort) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0)
            throw std::runtime_error("proxy: bind/listen failed");
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~NagleProxy() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : pumps_) t.join();
        ::close(listen_);
    }
    std::uint16_t port() const { return port_; }

private:
    void acceptLoop() {
        for (;;) {
            int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (stop_) return;
                continue;
            }
            int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(upstream_);
            if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(client);
                ::close(server);
                continue;
            }
            int one = 1;
            ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            pumps_.emplace_back([client, server] { pump(client, server); });
        }
    }

    static bool sendAll(int fd, const char* p, size_t n) {
        while (n > 0) {
            ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
            if (w <= 0) return false;
            p += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }

    static void pump(int client, int server) {
        std::vector<char> buf(256 * 1024);
        for (;;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 2, 60000) <= 0) break;
            if (fds[0].revents) {
                ssize_t n = ::recv(client, buf.data(), buf.size(), 0);
                if (n <= 0 || !sendAll(server, buf.data(), static_cast<size_t>(n))) break;
            }
            if (fds[1].revents) {
                ssize_t n = ::recv(server, buf.data(), buf.size(), 0);
                if (n <= 0) break;
                const size_t tail = std::min<size_t>(static_cast<size_t>(n) / 2, 64);
                if (!sendAll(client, buf.data(), static_cast<size_t>(n) - tail) ||
                    !sendAll(client, buf.data() + n - tail, tail))
                    break;
            }
        }
        ::close(client);
        ::close(server);
    }

    std::uint16_t upstream_;
    std::uint16_t port_ = 0;
    int listen_ = -1;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> pumps_;
};

std::unique_ptr<bx::IMAPClient> signIn(std::uint16_t port, const std::string& mailbox) {
    auto client = std::make_unique<bx::IMAPClient>(bx::IMAPServer("localhost", port, false), 60);
    client->connect();
    client->login(bx::test::users::alice.name, bx::test::users::alice.password);
    client->select(mailbox, true);
    return client;
}

// The backup's pattern: sizes first, then bodies in batches.
long long backupLike(std::uint16_t port) {
    auto client = signIn(port, "Backup");
    const auto uids = client->uidSearch("ALL");
    for (size_t i = 0; i < uids.size(); i += 500)
        (void)client->fetchMeta(std::vector<std::uint32_t>(uids.begin() + i, uids.begin() + std::min(uids.size(), i + 500)));
    long long got = 0;
    for (size_t i = 0; i < uids.size(); i += 40)
        client->fetchBodies(std::vector<std::uint32_t>(uids.begin() + i, uids.begin() + std::min(uids.size(), i + 40)),
                           [&](bx::IMAPFetchItem&&) { ++got; });
    client->logout();
    return got;
}

long long smallBatches(std::uint16_t port, int batches) {
    auto client = signIn(port, "Small");
    const auto uids = client->uidSearch("ALL");
    long long got = 0;
    for (int b = 0; b < batches; ++b) {
        std::vector<std::uint32_t> batch;
        for (int k = 0; k < 3; ++k) batch.push_back(uids[(static_cast<size_t>(b) * 3 + k) % uids.size()]);
        client->fetchBodies(batch, [&](bx::IMAPFetchItem&&) { ++got; });
    }
    client->logout();
    return got;
}

template <typename F>
double best(int rounds, F run) {
    double b = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        run();
        b = std::min(b, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    int messages = 1500, batches = 103, rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--messages")) messages = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--batches")) batches = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    }
    try {
        bx::test::trustTestCA();
        bx::test::DovecotFixture dovecot;
        bx::bench::seedMailbox(dovecot, "Backup", messages, 4 * 1024, 11);
        bx::bench::seedMailbox(dovecot, "Small", 300, 2 * 1024, 11);
        NagleProxy proxy(dovecot.imapsPort());

        std::printf("%-44s %12s %12s\n", "seconds, best of runs", "quick-ACK", "suppressed");
        struct Row {
            const char* name;
            std::uint16_t port;
            bool backup;
        } rows[] = {
            {"backup, Dovecot", dovecot.imapsPort(), true},
            {"backup, server holding its last segment", proxy.port(), true},
            {"small batches, Dovecot", dovecot.imapsPort(), false},
            {"small batches, server holding last segment", proxy.port(), false},
        };
        for (const auto& r : rows) {
            double t[2];
            for (int off = 0; off < 2; ++off) {
                suppressQuickAck = off == 1;
                t[off] = best(rounds, [&] {
                    const long long got = r.backup ? backupLike(r.port) : smallBatches(r.port, batches);
                    const long long want = r.backup ? messages : 3LL * batches;
                    if (got != want) throw std::runtime_error("fetched " + std::to_string(got) + " of " + std::to_string(want));
                });
            }
            std::printf("%-44s %12.3f %12.3f\n", r.name, t[0], t[1]);
        }
        suppressQuickAck = false;
        std::printf("(%d messages of about 4 KB; %d batches of 3 messages of about 2 KB)\n", messages, batches);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_tcp_quickack: %s\n", e.what());
        return 1;
    }
    return 0;
}
