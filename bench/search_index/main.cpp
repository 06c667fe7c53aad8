// bench_search_index gen DIR COUNT      generate DIR/vault, DIR/maildir, DIR/queries.txt
// bench_search_index build DIR [--check] index DIR/vault as the application does, save DIR/index.json;
//                                       --check: and the same bytes as one thread makes
// bench_search_index query DIR          load DIR/index.json, run DIR/queries.txt
// bench_search_index load DIR [--reader R] [--threads N] [--check]
//                                       load DIR/index.json only: time, memory held, peak;
//                                       R is hand (the index's own), nlohmann or simdjson;
//                                       N caps the index's own reader's threads (default: one a core, at most four)
// Each prints "key value" lines for run.py; every phase runs in its own
// process so its peak memory is its own.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "Generator.h"
#include "Readers.h"
#include "Index/IndexDecoder.h"
#include "Index/SearchIndex.h"
#include "Index/VaultScan.h"
#include "Util/AtomicFile.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

long peakRSSKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Resident memory now, not the peak: what the loaded index holds.
long currentRSSKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The core's own build: VaultScan::run over the vault as the application
// runs it on first opening (walk, read, parse, record, index, save), so the
// figure is what a user waits for. With --check the same vault is indexed
// again the one-thread way, and the two index.json texts must be the same.
int build(const fs::path& dir, bool check) {
    const fs::path vault = dir / "vault";
    const bx::ArchiveLayout layout(vault);
    std::error_code ec;
    fs::remove(layout.indexURL(), ec);
    bx::SearchIndex index;
    const auto t0 = Clock::now();
    const auto result = bx::VaultScan::run(index, layout, {}, {});
    const auto t1 = Clock::now();
    const fs::path out = dir / "index.json";
    fs::rename(layout.indexURL(), out);
    const double cpu = cpuSeconds();

    std::printf("messages %zu\n", result.indexed);
    std::printf("build_s %.3f\n", seconds(t0, t1));
    std::printf("build_cpu_s %.3f\n", cpu);
    std::printf("build_msgs_per_s %.0f\n", static_cast<double>(result.indexed) / seconds(t0, t1));
    std::printf("tokens %zu\n", index.tokenCount());
    std::printf("index_json_mb %.1f\n", static_cast<double>(fs::file_size(out)) / 1e6);
    std::printf("build_peak_rss_mb %.0f\n", static_cast<double>(peakRSSKiB()) / 1024);
    if (check) {
        bx::SearchIndex oneThread;
        bx::VaultScan::Events events;
        events.read = [](const fs::path& p) { return bx::readFile(p); };  // a reader of its own: one thread
        bx::VaultScan::run(oneThread, layout, {}, events);
        fs::remove(layout.indexURL(), ec);
        std::printf("same_as_one_thread %s\n", oneThread.encode() == *bx::readFile(out) ? "yes" : "NO");
    }
    return 0;
}


long minorFaults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

int load(const fs::path& dir, const std::string& reader, unsigned threads, bool check) {
    if (!bench::haveReader(reader)) {
        std::fprintf(stderr, "no reader %s in this build\n", reader.c_str());
        return 2;
    }
    const long before = currentRSSKiB();
    const long faults = minorFaults();
    const double cpu = cpuSeconds();
    const auto t0 = Clock::now();
    std::string error;
    auto index = reader == "hand" ? bx::loadIndex(dir / "index.json", &error, threads, 8u << 20)
                                  : bench::loadWithReader(reader, dir / "index.json", error);
    const auto t1 = Clock::now();
    if (!index || index->count() == 0) {
        std::fprintf(stderr, "%s refused index.json: %s\n", reader.c_str(), error.c_str());
        return 1;
    }
    std::printf("reader %s\n", reader.c_str());
    if (reader == "hand") std::printf("threads %u\n", threads);
    std::printf("load_s %.3f\n", seconds(t0, t1));
    std::printf("load_cpu_s %.3f\n", cpuSeconds() - cpu);
    std::printf("load_minor_faults %ld\n", minorFaults() - faults);
    std::printf("loaded_records %zu\n", index->count());
    std::printf("load_held_mb %.0f\n", static_cast<double>(currentRSSKiB() - before) / 1024);
    std::printf("load_peak_rss_mb %.0f\n", static_cast<double>(peakRSSKiB()) / 1024);
    // The same bytes back as the file holds: the reader lost nothing.
    if (check) std::printf("round_trip %s\n", index->encode() == *bx::readFile(dir / "index.json") ? "same" : "DIFFERENT");
    // What an index kept only to search holds once its records are taken, as the store keeps it.
    {
        auto taken = index->takeLiveRecords();
        std::vector<bx::MessageRecord>().swap(taken);
        malloc_trim(0);
        std::printf("search_only_held_mb %.0f\n", static_cast<double>(currentRSSKiB() - before) / 1024);
    }
    return 0;
}

int query(const fs::path& dir) {
    const auto t0 = Clock::now();
    auto index = bx::SearchIndex::load(dir / "index.json");
    const auto t1 = Clock::now();
    std::printf("query_load_s %.3f\n", seconds(t0, t1));

    std::vector<std::string> queries;
    std::ifstream in(dir / "queries.txt");
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) queries.push_back(line);

    // The first query pays for sorting the token list; it is reported apart.
    const auto s0 = Clock::now();
    (void)index->searchSlots("warmup");
    std::printf("first_query_ms %.2f\n", seconds(s0, Clock::now()) * 1e3);

    std::vector<double> one, two, slotsOnly;
    size_t hits = 0;
    for (const auto& q : queries) {
        const auto a = Clock::now();
        const auto result = index->search(q);
        const double ms = seconds(a, Clock::now()) * 1e3;
        hits += result.size();
        (q.find(' ') == std::string::npos ? one : two).push_back(ms);
        const auto b = Clock::now();
        (void)index->searchSlots(q);
        slotsOnly.push_back(seconds(b, Clock::now()) * 1e3);
    }
    std::vector<double> all = one;
    all.insert(all.end(), two.begin(), two.end());
    std::printf("queries %zu\n", queries.size());
    std::printf("mean_hits %.0f\n", queries.empty() ? 0.0 : static_cast<double>(hits) / static_cast<double>(queries.size()));
    std::printf("query_p50_ms %.3f\nquery_p99_ms %.3f\n", percentile(all, 0.5), percentile(all, 0.99));
    std::printf("query1_p50_ms %.3f\nquery1_p99_ms %.3f\n", percentile(one, 0.5), percentile(one, 0.99));
    std::printf("query2_p50_ms %.3f\nquery2_p99_ms %.3f\n", percentile(two, 0.5), percentile(two, 0.99));
    std::printf("slots_p50_ms %.3f\nslots_p99_ms %.3f\n", percentile(slotsOnly, 0.5), percentile(slotsOnly, 0.99));
    std::printf("query_peak_rss_mb %.0f\n", static_cast<double>(peakRSSKiB()) / 1024);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "gen") {
        bench::generateVault(argv[2], std::stoi(argv[3]), argc >= 5 ? std::stoull(argv[4]) : 7);
        return 0;
    }
    if (argc >= 3 && std::string(argv[1]) == "build")
        return build(argv[2], argc >= 4 && std::string(argv[3]) == "--check");
    if (argc >= 3 && std::string(argv[1]) == "query") return query(argv[2]);
    if (argc >= 3 && std::string(argv[1]) == "load") {
        std::string reader = "hand";
        unsigned threads = 0;
        bool check = false;
        for (int i = 3; i < argc; ++i) {
            if (std::string(argv[i]) == "--reader" && i + 1 < argc) reader = argv[++i];
            if (std::string(argv[i]) == "--threads" && i + 1 < argc) threads = unsigned(std::stoul(argv[++i]));
            if (std::string(argv[i]) == "--check") check = true;
        }
        return load(argv[2], reader, threads, check);
    }
    std::fprintf(stderr, "usage: %s gen DIR COUNT [SEED] | build DIR | load DIR [--reader hand|nlohmann|simdjson] [--threads N] [--check] | query DIR\n", argv[0]);
    return 2;
}
