// Wall time and peak memory of BackupRunner::run beside mbsync, same account,
// same run.
//
//   bench_backup [--messages N] [--size BYTES] [--folders N] [--rounds N] [--reruns N]
//                [--batch-count N] [--batch-bytes N]
//
// The account holds N (10,000) messages of about BYTES (7,600) each, spread
// over --folders (7) folders: INBOX takes the remainder, so 10,000 is about
// 76 MB. A real account has several folders, and per-folder work (opening,
// searching, saving the sync state) only shows with several of them.
// Ours: a first backup into an empty vault on /dev/shm, then --reruns (3)
// reruns with nothing new. mbsync: a first pull into an empty Maildir on
// /dev/shm, then as many reruns. Every rerun starts at least 1.5 s after the
// run before it: mbsync sleeps a second when a Maildir changed within the
// current second, and that sleep is not the work being compared. Each side
// runs in a child process so its peak resident memory can be read on its own
// (see measured()). Figures are medians over --rounds (3) rounds (reruns:
// over every rerun of every round); the two sides alternate within a round.
// --batch-count and --batch-bytes change the engine's batch bounds (40 and
// 6,000,000), to see what the batch plan costs.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Engines/BackupRunner.h"
#include "common/BenchPeers.h"
#include "support/DovecotFixture.h"
#include "support/TestCerts.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Figure {
    double seconds = 0;
    long maxRssKB = 0;
    double cpu = 0;  // user + system time of the measured process
};

// Peak memory must be the measured program's own. A forked child starts with
// the parent's resident pages (here: everything the seeding touched), and
// even after exec its peak counts the image it replaced. So each side runs as
// the grandchild of a fresh, small copy of this program (--measure), which
// reports the peak and CPU time of its own child.
Figure measured(const std::vector<std::string>& command) {
    const std::string figures = bx::bench::shmDir("figure").string() + "/figure.txt";
    std::vector<std::string> argv = {"bench_backup", "--measure", figures};
    argv.insert(argv.end(), command.begin(), command.end());
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::execv("/proc/self/exe", args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Figure f;
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("a benchmark child failed");
    std::ifstream in(figures);
    in >> f.maxRssKB >> f.cpu;
    fs::remove_all(fs::path(figures).parent_path());
    return f;
}

// --measure FILE PROGRAM ARGS...: runs PROGRAM, writes "<peak RSS in KB>
// <CPU seconds>" of it to FILE, exits with its status.
int measureChild(int argc, char** argv) {
    const pid_t pid = ::fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        ::execvp(argv[3], argv + 3);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    std::ofstream out(argv[2]);
    out << usage.ru_maxrss << " "
        << usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6
        << "\n";
    (void)argc;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

long long gBatchCount = 40, gBatchBytes = 6000000;

// The account's folders: INBOX and then these, as many as asked for.
std::vector<std::string> folderNames(int count) {
    static const char* const names[] = {"INBOX", "Archive", "Sent", "Lists", "Work", "Family", "Receipts",
                                        "Travel", "Receipts/2023", "Receipts/2024"};
    std::vector<std::string> out;
    for (int i = 0; i < count && i < static_cast<int>(std::size(names)); ++i) out.emplace_back(names[i]);
    return out;
}

int gFolders = 7;

// --ours VAULT PORT ACCOUNT-ID EXPECTED BATCH-COUNT BATCH-BYTES FOLDERS: one backup run.
int oursChild(char** argv) {
    const bx::MailAccount account(*bx::UUID::parse(argv[4]), "Bench", bx::test::users::alice.name,
                                  bx::IMAPServer("localhost", static_cast<std::uint16_t>(std::atoi(argv[3])), false),
                                  "custom", folderNames(std::atoi(argv[8])), {});
    bx::BackupRunner runner(bx::ArchiveLayout(argv[2]), account, bx::test::users::alice.password);
    runner.batchCount = std::atoll(argv[6]);
    runner.batchBytes = std::atoll(argv[7]);
    const auto summary = runner.run();
    if (std::getenv("BX_BENCH_RSS")) {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM", 0) == 0 || line.rfind("Rss", 0) == 0) std::fprintf(stderr, "%s\n", line.c_str());
        std::ifstream maps("/proc/self/smaps");
        std::string range, name, line;
        for (std::string l; std::getline(maps, l);) {
            if (!l.empty() && std::isxdigit(static_cast<unsigned char>(l[0])) && l.find('-') < l.find(' ')) range = l;
            if (l.rfind("Rss:", 0) == 0) {
                const long kb = std::atol(l.c_str() + 4);
                if (kb >= 512) std::fprintf(stderr, "%6ld kB %s\n", kb, range.c_str());
            }
        }
    }
    return summary.newMessages == std::atoll(argv[5]) ? 0 : 2;
}

Figure ours(const fs::path& vault, const bx::MailAccount& account, long long expected) {
    return measured({"/proc/self/exe", "--ours", vault.string(), std::to_string(account.server.port),
                     account.id.string(), std::to_string(expected), std::to_string(gBatchCount),
                     std::to_string(gBatchBytes), std::to_string(gFolders)});
}

Figure mbsync(const fs::path& root, uint16_t port) {
    const fs::path conf = root / "mbsyncrc";
    if (!fs::exists(conf)) bx::bench::writeMbsyncConfig(root, port, "*");
    return measured({"mbsync", "-q", "-c", conf.string(), "pull"});
}

// mbsync sleeps a second when the Maildir changed within the current second;
// a rerun starts after that second has passed.
void settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Every measurement of one kind, reduced to medians.
struct Series {
    std::vector<double> wall, cpu;
    long maxRssKB = 0;
    void add(const Figure& f) {
        wall.push_back(f.seconds);
        cpu.push_back(f.cpu);
        maxRssKB = std::max(maxRssKB, f.maxRssKB);
    }
    double medianWall() const { return median(wall); }
    double medianCPU() const { return median(cpu); }
};

// The first three fields of /proc/loadavg: the machine is shared, and the
// figures only mean something beside the load they were taken under.
std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

long long countFiles(const fs::path& dir) {
    long long n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".eml") ++n;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && !std::strcmp(argv[1], "--measure")) return measureChild(argc, argv);
    if (argc == 9 && !std::strcmp(argv[1], "--ours")) {
        try {
            return oursChild(argv);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ours: %s\n", e.what());
            return 1;
        }
    }
    int messages = 10000, rounds = 3, reruns = 3;
    std::size_t size = 7600;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--messages")) messages = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--size")) size = static_cast<std::size_t>(std::atol(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--reruns")) reruns = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--folders")) gFolders = std::clamp(std::atoi(argv[i + 1]), 1, 10);
        else if (!std::strcmp(argv[i], "--batch-count")) gBatchCount = std::atoll(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--batch-bytes")) gBatchBytes = std::atoll(argv[i + 1]);
    }
    try {
        bx::test::trustTestCA();
        bx::test::DovecotOptions options;
        options.extraConfig = "mail_fsync = never\n";
        bx::test::DovecotFixture dovecot(options);
        std::mt19937 rng(7);
        const auto t0 = Clock::now();
        long long totalBytes = 0;
        const std::vector<std::string> folders = folderNames(gFolders);
        const int perFolder = messages / static_cast<int>(folders.size());
        int next = 0;
        for (std::size_t f = 0; f < folders.size(); ++f) {
            const int count = f == 0 ? messages - perFolder * static_cast<int>(folders.size() - 1) : perFolder;
            std::vector<bx::test::SeedMessage> batch;
            for (int i = 0; i < count; ++i, ++next) {
                auto m = bx::test::makeMessage("Message " + std::to_string(next) + ": report/" + std::to_string(next % 97),
                                               bx::bench::bodyOfSize(size - 300, rng));
                totalBytes += static_cast<long long>(m.size());
                batch.push_back(
                    {std::move(m),
                     std::chrono::system_clock::time_point(std::chrono::seconds(1500000000LL + next * 3600LL)),
                     {}});
                if (batch.size() == 500 || i + 1 == count) {
                    dovecot.append(bx::test::users::alice, folders[f], batch);
                    batch.clear();
                }
            }
        }
        std::printf("%d messages in %zu folders, %.1f MB (seeded in %.1f s); load average %s\n", messages,
                    folders.size(), totalBytes / 1e6, std::chrono::duration<double>(Clock::now() - t0).count(),
                    loadAverage().c_str());

        const bx::MailAccount account(bx::UUID::random(), "Bench", bx::test::users::alice.name,
                                      bx::IMAPServer("localhost", dovecot.imapsPort(), false), "custom", folders, {});
        Series oursFirst, oursRerun, mbFirst, mbRerun;
        for (int r = 0; r < rounds; ++r) {
            const fs::path vault = bx::bench::shmDir("vault");
            const fs::path maildir = bx::bench::shmDir("mbsync");
            Figure a, c;
            if (r % 2 == 0) {
                a = ours(vault, account, messages);
                c = mbsync(maildir, dovecot.imapsPort());
            } else {
                c = mbsync(maildir, dovecot.imapsPort());
                a = ours(vault, account, messages);
            }
            oursFirst.add(a);
            mbFirst.add(c);
            std::printf("  round %d: first run: ours %.3f s, CPU %.3f s; mbsync %.3f s, CPU %.3f s\n", r + 1,
                        a.seconds, a.cpu, c.seconds, c.cpu);
            for (int k = 0; k < reruns; ++k) {
                settle();
                Figure b, d;
                if ((r + k) % 2 == 0) {
                    b = ours(vault, account, 0);
                    settle();
                    d = mbsync(maildir, dovecot.imapsPort());
                } else {
                    d = mbsync(maildir, dovecot.imapsPort());
                    settle();
                    b = ours(vault, account, 0);
                }
                oursRerun.add(b);
                mbRerun.add(d);
                std::printf("           rerun: ours %.3f s, CPU %.3f s; mbsync %.3f s, CPU %.3f s\n", b.seconds,
                            b.cpu, d.seconds, d.cpu);
            }
            if (countFiles(vault) != messages) throw std::runtime_error("the vault does not hold every message");
            fs::remove_all(vault);
            fs::remove_all(maildir);
        }
        std::printf("\nmedians over %d rounds (%d reruns each)   wall       CPU     peak RSS\n", rounds, reruns);
        auto line = [](const char* name, const Series& s) {
            std::printf("  %-22s %8.3f s %8.3f s %8.1f MB\n", name, s.medianWall(), s.medianCPU(),
                        s.maxRssKB / 1024.0);
        };
        line("BackupRunner, first", oursFirst);
        line("BackupRunner, rerun", oursRerun);
        line("mbsync, first", mbFirst);
        line("mbsync, rerun", mbRerun);
        std::printf("  ratio ours / mbsync (first run): wall %.2f, CPU %.2f\n",
                    oursFirst.medianWall() / mbFirst.medianWall(), oursFirst.medianCPU() / mbFirst.medianCPU());
        std::printf("  ratio ours / mbsync (rerun):     wall %.2f, CPU %.2f\n",
                    oursRerun.medianWall() / mbRerun.medianWall(), oursRerun.medianCPU() / mbRerun.medianCPU());
        std::printf("  load average at the end: %s\n", loadAverage().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_backup: %s\n", e.what());
        return 1;
    }
    return 0;
}
