// An account's sync file of N messages over 7 folders, as a backup leaves
// it, read back by the loader (the hand reader of the written form) and by
// the general JSON reader over a stream (how it was read before), and
// written. A no-change rerun of a large account does little else locally.
//
//   bench_sync_state [--messages N] [--rounds N]   (100,000, 9)
//
// Medians over the rounds, wall and CPU; the file lies on /dev/shm.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"
#include "Vault/SyncStateCodec.h"
#include "common/BenchFigures.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bx::bench::cpuNow;
using bx::bench::loadAverage;
using bx::bench::median;

namespace {

struct Series {
    std::vector<double> wall, cpu;
    template <class F>
    void time(F&& f) {
        const double c0 = cpuNow();
        const auto t0 = Clock::now();
        f();
        wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        cpu.push_back(cpuNow() - c0);
    }
};

}  // namespace

int main(int argc, char** argv) {
    int messages = 100000, rounds = 9;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--messages")) messages = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    fs::path dir;
    int status = 0;
    try {
        dir = bx::bench::scratchFolder("sync");
        const bx::ArchiveLayout layout(dir);
        const auto id = *bx::UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
        const bx::MailAccount account(id, "Bench", "alice", bx::IMAPServer("localhost", 993, false), "custom", {}, {});
        static const char* const names[] = {"INBOX", "Archive", "Sent", "Lists", "Work", "Family", "Receipts"};
        bx::SyncFolders folders;
        for (int f = 0; f < 7; ++f) {
            // INBOX takes the remainder, as in bench_backup.
            const int count = messages / 7 + (f == 0 ? messages % 7 : 0);
            bx::SyncFolder folder(names[f], std::string("Bench/") + names[f], 1700000000u + f);
            folder.hasSizes = true;
            folder.lastRun = std::chrono::system_clock::now();
            for (int k = 1; k <= count; ++k) {
                const auto uid = static_cast<std::uint32_t>(k);
                const std::string year = std::to_string(2015 + k % 10);
                folder.entries.setPath(uid, folder.directory + "/" + year + "/" + year + "-03-05 Message number " +
                                                std::to_string(k) + " " + std::to_string(k) + ".eml");
                folder.entries.setSize(uid, 1400 + k % 200);
            }
            folder.highestUID = static_cast<std::uint32_t>(count);
            folders.emplace(names[f], std::move(folder));
        }
        Series write, hand, general;
        std::size_t read = 0;
        for (int r = 0; r < rounds; ++r) {
            write.time([&] { layout.saveSync(folders, account); });
            hand.time([&] { read += layout.loadSyncFolders(id).size(); });
            general.time([&] {
                std::ifstream in(layout.syncURL(id), std::ios::binary);
                read += bx::decodeAnySyncFile(in).size();
            });
        }
        if (read != static_cast<std::size_t>(2 * 7 * rounds)) throw std::runtime_error("a read lost folders");
        std::printf("%d messages in 7 folders, sync file %.1f MB; load average %s\n", messages,
                    fs::file_size(layout.syncURL(id)) / 1e6, loadAverage().c_str());
        std::printf("medians over %d rounds                      wall        CPU\n", rounds);
        const auto line = [](const char* name, const Series& s) {
            std::printf("  %-38s %7.1f ms %7.1f ms\n", name, median(s.wall) * 1e3, median(s.cpu) * 1e3);
        };
        line("load (the written form, by hand)", hand);
        line("general JSON reader over a stream", general);
        line("save", write);
        std::printf("  load average at the end: %s\n", loadAverage().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sync_state: %s\n", e.what());
        status = 1;
    }
    if (!dir.empty()) fs::remove_all(dir);
    return status;
}
