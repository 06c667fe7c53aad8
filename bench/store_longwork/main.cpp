// The store's long work, measured.
//
//   import [MiB]   writes an mbox of that size (default 1024) of ~100 KB
//                  messages, imports it the way the store does (read in
//                  pieces, split, stored) and prints the process's peak
//                  resident memory before and after, the time taken and the
//                  counts. The peak must stay far below the file size.
//   verify [items] makes that many local copies (default 10,000), then runs
//                  the paced verify walk of the free-up model with the real
//                  copy check and prints the wall time, the time spent in
//                  pauses, and the longest the GUI thread was busy applying
//                  one chunk.
#include "Store/CleanupModel.h"
#include "Store/ImportQueue.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

using namespace bx;
namespace fs = std::filesystem;

namespace {

long peakKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

fs::path scratch() {
    // Memory-backed when there is one: the benchmark measures the process,
    // not the disk.
    if (fs::exists("/dev/shm")) return "/dev/shm";
    return fs::temp_directory_path();
}

int runImport(long mib) {
    bx::test::TempDir dir("bx-bench", scratch());
    const fs::path box = dir.path() / "Large.mbox";
    const std::int64_t target = std::int64_t(mib) << 20;
    std::int64_t written = 0;
    int messages = 0;
    {
        std::ofstream out(box, std::ios::binary);
        std::string line(76, 'x');
        line += "\r\n";
        std::string body;
        while (body.size() < 100000) body += line;
        while (written < target) {
            const std::string n = std::to_string(messages++);
            const std::string msg = "From sender@example.com Mon Jan  1 10:00:00 2024\r\n"
                                    "From: Sender <s@example.com>\r\nTo: r@example.com\r\nSubject: Large " + n +
                                    "\r\nDate: Mon, 01 Jan 2024 10:00:00 +0000\r\nMessage-ID: <large" + n +
                                    "@example.com>\r\n\r\n" + n + "\r\n" + body + "\r\n";
            out << msg;
            written += std::int64_t(msg.size());
        }
    }
    const long before = peakKiB();
    const auto t0 = std::chrono::steady_clock::now();
    const ImportCounts counts = ImportRules::importFile(box, ArchiveLayout(dir.path() / "vault"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long after = peakKiB();
    std::printf("mbox: %.1f MiB, %d messages\n", double(written) / (1 << 20), messages);
    std::printf("imported %lld, skipped %lld in %.1f s\n", (long long)counts.imported, (long long)counts.skipped,
                seconds);
    std::printf("peak resident memory: %.1f MiB before, %.1f MiB after (file %.0f MiB)\n", before / 1024.0,
                after / 1024.0, double(written) / (1 << 20));
    return counts.imported == messages ? 0 : 1;
}

int runVerify(int n) {
    bx::test::TempDir dir("bx-bench", scratch());
    const ArchiveLayout layout(dir.path() / "vault");
    std::vector<CleanupItem> items;
    fs::create_directories(layout.root / "Work/INBOX/2020");
    for (int i = 0; i < n; ++i) {
        const std::string rel = "Work/INBOX/2020/m" + std::to_string(i) + ".eml";
        const std::string bytes = "From: a@example.com\r\nSubject: m" + std::to_string(i) + "\r\n\r\nBody " +
                                  std::to_string(i) + "\r\n";
        std::ofstream(layout.url(rel), std::ios::binary) << bytes;
        items.emplace_back(std::uint32_t(i + 1), std::int64_t(bytes.size()), std::nullopt, rel,
                           CleanupItem::Status::pending());
    }
    CleanupPlan plan("INBOX", "INBOX", Date{}, 1, std::move(items));

    double paused = 0;
    CleanupModel::Services services;
    services.layout = [&] { return layout; };
    services.password = [](const MailAccount&) { return std::optional<std::string>("x"); };
    services.reduceMotion = [] { return false; };
    CleanupModel model(services);
    model.setPlan(plan);
    bool done = false;
    QElapsedTimer wall;
    wall.start();
    model.verifyProgressively(*model.plan(), layout, [&] { done = true; });
    // The GUI thread is busy for as long as one processEvents call handles
    // events; between calls it only waits.
    std::int64_t longestBusyUs = 0;
    while (!done) {
        QElapsedTimer busy;
        busy.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        longestBusyUs = std::max<std::int64_t>(longestBusyUs, busy.nsecsElapsed() / 1000);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double seconds = wall.elapsed() / 1000.0;
    const VerifyPacing pacing = VerifyPacing::forItems(n);
    paused = pacing.chunks * pacing.pauseSeconds;
    std::printf("verify walk over %d items: %d chunks of %d, pause %.3f s\n", n, pacing.chunks, pacing.chunkSize,
                pacing.pauseSeconds);
    std::printf("wall %.2f s (pauses %.2f s, work %.2f s); longest GUI-thread turn %.2f ms; verified %zu\n",
                seconds, paused, seconds - paused, longestBusyUs / 1000.0, model.plan()->verified().size());
    return model.plan()->verified().size() == std::size_t(n) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "import") return runImport(argc > 2 ? std::stol(argv[2]) : 1024);
    if (mode == "verify") return runVerify(argc > 2 ? std::stoi(argv[2]) : 10000);
    std::cerr << "usage: bench_store_longwork import [MiB] | verify [items]\n";
    return 2;
}
