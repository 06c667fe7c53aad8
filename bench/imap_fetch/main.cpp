// Throughput of IMAPClient::fetchBodies over TLS from a local Dovecot, beside
// mbsync (isync) copying the same mailboxes into a Maildir on /dev/shm in the
// same run.
//
//   bench_imap_fetch [--small N] [--large N] [--rounds N]
//
// Mailboxes: "Small" with N (10,000) messages of about 8 KB, "Large" with N
// (1,000) of about 500 KB. Our side fetches every UID in one UID FETCH and in
// engine-sized batches (40 messages / 6 MB), handler discarding the bytes.
// mbsync does its whole job (fetch and write each message as a file).
// Each figure is the best of --rounds (3) runs.
#include "Imap/IMAPClient.h"

#include "common/BenchPeers.h"
#include "support/DovecotFixture.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestCerts.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figure {
    double seconds = 0;
    double cpu = -1;  // our thread's CPU time, when measured
    long long bytes = 0;
    long long messages = 0;
};

Figure fetchWithClient(const bx::test::DovecotFixture& dovecot, const std::string& mailbox, std::size_t batchCount,
                       long long batchBytes) {
    Figure f;
    auto start = Clock::now();
    double cpu0 = cpuSeconds();
    bx::IMAPClient client(bx::IMAPServer("localhost", dovecot.imapsPort(), false), 60);
    client.connect();
    client.login(bx::test::users::alice.name, bx::test::users::alice.password);
    client.select(mailbox, true);
    auto uids = client.uidSearch("ALL");
    std::vector<std::int64_t> sizes;
    if (batchCount < uids.size()) {
        for (const auto& item : client.fetchMeta(uids)) sizes.push_back(item.size.value_or(0));
    }
    auto handler = [&](bx::IMAPFetchItem&& item) {
        f.bytes += static_cast<long long>(item.body->size());
        ++f.messages;
    };
    if (batchCount >= uids.size()) {
        client.fetchBodies(uids, handler);
    } else {
        std::vector<std::uint32_t> batch;
        long long bytes = 0;
        for (std::size_t i = 0; i < uids.size(); ++i) {
            batch.push_back(uids[i]);
            bytes += sizes[i];
            if (batch.size() >= batchCount || bytes >= batchBytes || i + 1 == uids.size()) {
                client.fetchBodies(batch, handler);
                batch.clear();
                bytes = 0;
            }
        }
    }
    client.logout();
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.cpu = cpuSeconds() - cpu0;
    return f;
}

long long dirBytes(const fs::path& dir, long long& files) {
    long long total = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && (e.path().parent_path().filename() == "cur" || e.path().parent_path().filename() == "new")) {
            total += static_cast<long long>(e.file_size());
            ++files;
        }
    return total;
}

Figure fetchWithMbsync(const bx::test::DovecotFixture& dovecot, const std::string& mailbox) {
    const fs::path root = bx::bench::shmDir("mbsync");
    const fs::path conf = bx::bench::writeMbsyncConfig(root, dovecot.imapsPort(), mailbox);
    auto start = Clock::now();
    auto result = bx::test::runCommand({"mbsync", "-q", "-c", conf.string(), "pull"});
    Figure f;
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!result.ok()) {
        fs::remove_all(root);
        throw std::runtime_error("mbsync failed: " + result.err + result.out);
    }
    f.bytes = dirBytes(root / "mail", f.messages);
    fs::remove_all(root);
    return f;
}

void print(const char* label, const Figure& f) {
    double mb = f.bytes / 1e6;
    std::printf("  %-28s %8.3f s  %9.1f MB/s  %9.0f msgs/s  (%lld msgs, %.1f MB)", label, f.seconds,
                mb / f.seconds, f.messages / f.seconds, f.messages, mb);
    if (f.cpu >= 0) std::printf("  client CPU %.3f s", f.cpu);
    std::printf("\n");
}

template <typename F>
Figure best(int rounds, F run) {
    Figure b;
    for (int i = 0; i < rounds; ++i) {
        Figure f = run();
        if (i == 0 || f.seconds < b.seconds) b = f;
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    int small = 10000, large = 1000, rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--small")) small = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--large")) large = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    }
    try {
        bx::test::trustTestCA();
        bx::test::DovecotFixture dovecot;
        struct Set {
            const char* mailbox;
            int count;
            std::size_t size;
        } sets[] = {{"Small", small, 8 * 1024}, {"Large", large, 500 * 1024}};

        for (const auto& s : sets) {
            auto t0 = Clock::now();
            bx::bench::seedMailbox(dovecot, s.mailbox, s.count, s.size);
            std::printf("%s: %d messages of about %zu KB (seeded in %.1f s)\n", s.mailbox, s.count, s.size / 1024,
                        std::chrono::duration<double>(Clock::now() - t0).count());
            Figure one = best(rounds, [&] { return fetchWithClient(dovecot, s.mailbox, SIZE_MAX, 0); });
            Figure batched = best(rounds, [&] { return fetchWithClient(dovecot, s.mailbox, 40, 6000000); });
            Figure mbsync = best(rounds, [&] { return fetchWithMbsync(dovecot, s.mailbox); });
            print("fetchBodies, one command", one);
            print("fetchBodies, 40 / 6 MB", batched);
            print("mbsync to /dev/shm", mbsync);
            std::printf("  ratio mbsync time / ours: %.2f (one command), %.2f (batched)\n\n",
                        mbsync.seconds / one.seconds, mbsync.seconds / batched.seconds);
            if (one.messages != s.count || mbsync.messages != s.count)
                std::printf("  warning: message counts differ from %d\n", s.count);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_imap_fetch: %s\n", e.what());
        return 1;
    }
    return 0;
}
