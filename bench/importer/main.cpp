// Wall time and peak memory of importing one mbox file, two ways, each in a
// child process of its own:
//   whole   the file read into memory, Importer::splitMbox, Importer::store
//   stream  Importer::storeMbox (the file read piece by piece)
//
//   bench_importer [--megabytes N] [--size BYTES]
//
// The mbox holds about N (1,024) MB of messages of about BYTES (20,000) each,
// with some ">From " lines; the file and both vaults are on /dev/shm.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "Util/AtomicFile.h"
#include "Engines/Importer.h"
#include "common/BenchPeers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Figure {
    double seconds = 0;
    long maxRssKB = 0;
    int status = 0;
};

Figure inChild(const std::function<int()>& work) {
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int rc = 1;
        try {
            rc = work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
        }
        std::fflush(nullptr);
        ::_exit(rc);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    Figure f;
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.maxRssKB = usage.ru_maxrss;
    f.status = status;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    long megabytes = 1024;
    std::size_t size = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--megabytes")) megabytes = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--size")) size = static_cast<std::size_t>(std::atol(argv[i + 1]));
    }
    const fs::path root = bx::bench::shmDir("importer");
    const fs::path box = root / "big.mbox";
    {
        std::ofstream out(box, std::ios::binary);
        std::mt19937 rng(7);
        const long long target = megabytes * 1024LL * 1024LL;
        long long written = 0;
        for (int i = 0; written < target; ++i) {
            std::string m = "From sender@example.com Mon Jan  1 00:00:00 2024\n";
            m += "From: Sender <sender@example.com>\nTo: me@example.com\nSubject: Message " + std::to_string(i) +
                 "\nDate: Mon, 1 Jan 2024 00:00:00 +0000\nMessage-ID: <m" + std::to_string(i) + "@example.com>\n\n";
            m += ">From the archive\n";
            m += bx::bench::bodyOfSize(size, rng);
            m += "\n";
            out << m;
            written += static_cast<long long>(m.size());
        }
    }
    std::printf("mbox of %.0f MB, messages of about %zu bytes\n", fs::file_size(box) / 1048576.0, size);

    std::size_t wholeCount = 0, streamCount = 0;
    const Figure whole = inChild([&] {
        const auto data = bx::readFileOrThrow(box);
        const auto paths = bx::Importer::store(bx::Importer::splitMbox(data), "Whole", bx::ArchiveLayout(root / "v1"));
        return paths.empty() ? 1 : 0;
    });
    const Figure stream = inChild([&] {
        const auto paths = bx::Importer::storeMbox(box, "Stream", bx::ArchiveLayout(root / "v2"));
        return paths.empty() ? 1 : 0;
    });
    for (const auto& e : fs::recursive_directory_iterator(root / "v1")) wholeCount += e.is_regular_file();
    for (const auto& e : fs::recursive_directory_iterator(root / "v2")) streamCount += e.is_regular_file();
    std::printf("  whole file, split in memory  %8.3f s  %8.1f MB peak  (%zu files)\n", whole.seconds,
                whole.maxRssKB / 1024.0, wholeCount);
    std::printf("  read piece by piece          %8.3f s  %8.1f MB peak  (%zu files)\n", stream.seconds,
                stream.maxRssKB / 1024.0, streamCount);
    fs::remove_all(root);
    return whole.status == 0 && stream.status == 0 && wholeCount == streamCount ? 0 : 1;
}
