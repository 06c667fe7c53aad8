// The copy check of the free-up engine (Cleaner::verify) over N local copies
// laid out as a backup leaves them (account / folder / year / file): in
// batches as the application's verify walk takes them (the plan in 40
// chunks), and each item alone one after another.
//
//   bench_verify [--messages N] [--size BYTES] [--rounds N]   (100,000, about 4 KB, 5)
//
// First with the digests the backup records (size, whole read, header check
// and SHA-256 against the recorded digest), then with the digest files moved
// away (size, read and header check only). Figures are medians over the
// rounds, in files per second; the vault lies on /dev/shm so the disk stays
// out of it. Every item must come out verified, and a copy changed in place
// at the same size must not.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Engines/Cleaner.h"
#include "common/BenchFigures.h"
#include "Vault/MessageDigests.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bx::bench::cpuNow;
using bx::bench::loadAverage;
using bx::bench::median;

namespace {

std::string message(int i, std::size_t size, std::mt19937& rng) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 .,";
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 2);
    std::string m = "Return-Path: <sender@example.com>\r\nFrom: Sender <sender@example.com>\r\n"
                    "To: Reader <reader@example.org>\r\nSubject: Report " +
                    std::to_string(i) +
                    "\r\nDate: Tue, 5 Mar 2024 09:15:00 +0100\r\nMessage-ID: <m" + std::to_string(i) +
                    "@example.com>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    while (m.size() < size) {
        for (int k = 0; k < 76; ++k) m += alphabet[pick(rng)];
        m += "\r\n";
    }
    return m;
}

struct Walk {
    double wall = 0, cpu = 0;
};

// Verifies every item once; returns the seconds taken and counts the verified.
Walk walk(std::vector<bx::CleanupItem>& items, const bx::ArchiveLayout& layout, bool batches, std::size_t& verified) {
    for (auto& item : items) item.status = bx::CleanupItem::Status::pending();
    const std::size_t chunk = std::max<std::size_t>(1, (items.size() + 39) / 40);
    const double c0 = cpuNow();
    const auto t0 = Clock::now();
    if (batches) {
        for (std::size_t start = 0; start < items.size(); start += chunk) {
            const std::vector<bx::CleanupItem> run(items.begin() + static_cast<std::ptrdiff_t>(start),
                                                   items.begin() + static_cast<std::ptrdiff_t>(
                                                                       std::min(start + chunk, items.size())));
            const auto statuses = bx::Cleaner::verify(run, layout);
            for (std::size_t i = 0; i < statuses.size(); ++i) items[start + i].status = statuses[i];
        }
    } else {
        for (auto& item : items) item.status = bx::Cleaner::verify(item, layout);
    }
    const Walk s{std::chrono::duration<double>(Clock::now() - t0).count(), cpuNow() - c0};
    verified = static_cast<std::size_t>(std::count_if(items.begin(), items.end(), [](const bx::CleanupItem& i) {
        return i.status == bx::CleanupItem::Status::verified();
    }));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    int messages = 100000, rounds = 5;
    std::size_t size = 4000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--messages")) messages = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--size")) size = static_cast<std::size_t>(std::atol(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    fs::path dir;
    int status = 0;
    try {
        dir = bx::bench::scratchFolder("verify");
        const bx::ArchiveLayout layout(dir / "vault");
        std::mt19937 rng(11);
        std::vector<bx::CleanupItem> items;
        std::vector<std::pair<std::string, std::string>> digests;
        std::size_t bytes = 0;
        for (int i = 0; i < messages; ++i) {
            // Ten years of one folder, as a backup files them.
            const std::string year = std::to_string(2015 + i % 10);
            const std::string rel = "Work/INBOX/" + year + "/" + year + "-03-05 Report " + std::to_string(i) + " " +
                                    std::to_string(i + 1) + ".eml";
            const std::string bytesOf = message(i, size, rng);
            fs::create_directories((layout.root / rel).parent_path());
            std::ofstream(layout.root / rel, std::ios::binary) << bytesOf;
            digests.emplace_back(rel, bx::MessageDigests::sha256(bytesOf));
            items.emplace_back(static_cast<std::uint32_t>(i + 1), static_cast<std::int64_t>(bytesOf.size()),
                               std::nullopt, rel, bx::CleanupItem::Status::pending());
            bytes += bytesOf.size();
        }
        bx::MessageDigests::append(layout, digests);
        std::printf("%d copies, %.1f MB; load average %s\n", messages, bytes / 1e6, loadAverage().c_str());

        // [digests?][batches?]: wall and CPU seconds of each round.
        std::vector<double> wall[2][2], cpu[2][2];
        std::size_t verified = 0;
        const auto measure = [&](int digests) {
            for (int r = 0; r < rounds; ++r)
                for (int batches : {1, 0}) {
                    const Walk w = walk(items, layout, batches, verified);
                    wall[digests][batches].push_back(w.wall);
                    cpu[digests][batches].push_back(w.cpu);
                    if (verified != items.size())
                        throw std::runtime_error(std::string("a copy did not verify (") +
                                                 (digests ? "digests" : "size only") + ")");
                }
        };
        measure(1);
        // A copy changed in place at the same size fails only by its digest.
        {
            const fs::path first = layout.root / *items.front().localPath;
            std::fstream f(first, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(-3, std::ios::end);
            f.put('#');
        }
        if (bx::Cleaner::verify(items.front(), layout) != bx::CleanupItem::Status::unreadable() ||
            bx::Cleaner::verify(items, layout).front() != bx::CleanupItem::Status::unreadable())
            throw std::runtime_error("a changed copy passed the digest check");
        const fs::path moved = dir / "digests";
        fs::create_directories(moved);
        for (const auto& e : fs::directory_iterator(layout.metaDirectory()))
            if (e.path().filename().string().rfind("digests-", 0) == 0) fs::rename(e.path(), moved / e.path().filename());
        measure(0);
        // The machine may be shared: CPU time leaves out the waits for a core.
        std::printf("medians over %d rounds                    wall  files/s (wall)    CPU  files/s (CPU)\n", rounds);
        for (int digests : {1, 0})
            for (int batches : {1, 0}) {
                const double w = median(wall[digests][batches]), c = median(cpu[digests][batches]);
                std::printf("  %-12s %-22s %8.3f s %10.0f   %8.3f s %10.0f\n", digests ? "digests" : "size only",
                            batches ? "in batches (the app)" : "each item alone", w, messages / w, c, messages / c);
            }
        std::printf("  load average at the end: %s\n", loadAverage().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_verify: %s\n", e.what());
        status = 1;
    }
    if (!dir.empty()) fs::remove_all(dir);
    return status;
}
