// bench_store DIR COUNT
// Generates DIR/vault with COUNT messages (kept between runs) and measures
// the store on it. Prints one line per figure.

#include "Generator.h"

#include "Store/AppStore.h"
#include "Index/VaultScan.h"
#include "Util/AtomicFile.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>
#include "common/BlockMeter.h"

namespace fs = std::filesystem;
using namespace bx;

namespace {

long peakRssMB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

long currentRssMB() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4096 / (1024 * 1024);
}

using bx::bench::BlockMeter;

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Scans to the end: true once the final publish (records, then indexing nil) came.
double scanMs(AppStore& s) {
  bool sawRecords = false, finished = false;
  auto c1 = QObject::connect(&s, &AppStore::recordsChanged, [&] { sawRecords = true; });
  auto c2 = QObject::connect(&s, &AppStore::indexingChanged, [&] {
    if (!s.indexing() && sawRecords) finished = true;
    sawRecords = false;
  });
  QElapsedTimer t;
  t.start();
  s.reloadArchive();
  waitFor([&] { return finished; }, 3'600'000);
  QObject::disconnect(c1);
  QObject::disconnect(c2);
  return double(t.nsecsElapsed()) / 1e6;
}

struct Stats {
  double p50, p95, max;
};
Stats stats(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

void print(const char* name, const Stats& s) {
  std::printf("%-34s p50 %7.2f ms  p95 %7.2f ms  max %7.2f ms\n", name, s.p50, s.p95, s.max);
}

// Typing `text` one character at a time, as the search field does.
Stats typing(AppStore& s, const QString& text, int rounds) {
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    for (int i = 1; i <= text.size(); ++i) {
      QElapsedTimer t;
      t.start();
      s.setQuery(text.left(i));
      times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    s.setQuery(QString());
  }
  return stats(times);
}

double openMs(AppStore& s, const std::string& path) {
  QElapsedTimer t;
  t.start();
  s.setSelectedPath(QString::fromStdString(path));
  waitFor([&] { return s.openMessage() && s.openMessage()->record.path == path; }, 60'000);
  return double(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_store DIR COUNT\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const fs::path dir = argv[1];
  const int count = std::stoi(argv[2]);
  const fs::path vault = dir / "vault";
  if (!fs::exists(vault / (".generated-" + std::to_string(count)))) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    QElapsedTimer t;
    t.start();
    ::bench::generateVault(dir, count, 7);
    writeFileAtomically(vault / (".generated-" + std::to_string(count)), "");
    std::printf("generated %d messages in %.1f s\n", count, double(t.elapsed()) / 1000);
  }
  fs::remove(vault / ".brindlebox/index.json");
  qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(vault.string()));
  qputenv("BRINDLEBOX_CREDENTIALS_FILE", QByteArray::fromStdString((dir / "passwords.json").string()));

  std::printf("messages %d\n", count);
  {
    AppStore store;
    BlockMeter meter;
    meter.start();
    const double first = scanMs(store);
    const double block = meter.stopMs();
    std::printf("%-34s %9.0f ms  (%zu records)\n", "first scan", first, store.records().size());
    std::printf("%-34s %9.1f ms\n", "first scan: longest GUI block", block);
    std::printf("%-34s %9ld MB\n", "first scan: peak RSS", peakRssMB());
    std::printf("%-34s %9ld MB\n", "store resident after scan", currentRssMB());
    {
      // In use against held free by the allocator: which of the two a
      // change in resident memory came from.
      const struct mallinfo2 m = mallinfo2();
      std::printf("%-34s %9zu MB in use, %zu MB free but held, %zu MB mapped\n", "store heap after scan",
                  (m.uordblks + m.hblkhd) >> 20, m.fordblks >> 20, m.hblkhd >> 20);
    }

    meter.start();
    const double rescan = scanMs(store);
    std::printf("%-34s %9.0f ms  (longest GUI block %.1f ms)\n", "rescan, unchanged", rescan, meter.stopMs());
    int reads = 0;
    auto index = SearchIndex::load(store.layout().indexURL());
    VaultScan::Events counting;
    counting.read = [&](const fs::path& p) {
      ++reads;
      return readFile(p);
    };
    VaultScan::run(*index, store.layout(), {}, counting);
    std::printf("%-34s %9d\n", "rescan, message files read", reads);

    {
      std::vector<double> v;
      for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        store.refreshVisible();
        v.push_back(double(t.nsecsElapsed()) / 1e6);
      }
      print("keystroke, empty query", stats(v));
    }
    print("keystroke, one word", typing(store, QStringLiteral("meeting"), 5));
    print("keystroke, three words", typing(store, QStringLiteral("the project report"), 3));
    {
      std::vector<double> v;
      for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        auto g = AppStore::group(store.visible());
        v.push_back(double(t.nsecsElapsed()) / 1e6);
      }
      print("regroup everything", stats(v));
    }

    const std::string small = "Bench/INBOX/bench-50k.eml", large = "Bench/INBOX/bench-20m.eml";
    std::string body50k = "From: Bench <bench@example.com>\r\nSubject: fifty\r\nDate: Tue, 05 Mar 2024 10:00:00 +0000\r\n\r\n";
    while (body50k.size() < 50'000) body50k += "A line of text in a long plain message body, repeated.\r\n";
    std::string body20m = "From: Bench <bench@example.com>\r\nSubject: twenty\r\nDate: Tue, 05 Mar 2024 10:00:00 +0000\r\n"
                          "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                          "Content-Type: text/plain\r\n\r\nSee attached.\r\n--b\r\nContent-Type: application/pdf\r\n"
                          "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=a.pdf\r\n\r\n";
    while (body20m.size() < 20'000'000) body20m += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0NTY3\r\n";
    body20m += "--b--\r\n";
    fs::create_directories(vault / "Bench/INBOX");
    writeFileAtomically(vault / small, body50k);
    writeFileAtomically(vault / large, body20m);
    scanMs(store);
    std::vector<double> o50, o20;
    for (int i = 0; i < 5; ++i) {
      o50.push_back(openMs(store, small));
      o20.push_back(openMs(store, large));
    }
    print("open 50 KB message", stats(o50));
    print("open 20 MB message", stats(o20));
    fs::remove(vault / small);
    fs::remove(vault / large);
  }
  return 0;
}
