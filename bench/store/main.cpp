// bench_store DIR COUNT
// Generates DIR/vault with COUNT messages (kept between runs) and measures
// the store behind the real main window on it: the first scan, unchanged
// rescans against `find` walking the same tree, and keys typed into the
// search field until the list has painted its new frame. Prints one line
// per figure. Under xvfb-run for frames as a display shows them; without a
// display it falls back to the offscreen platform.

#include "Generator.h"

#include "Browser/MessageListView.h"
#include "Index/VaultScan.h"
#include "Reader/MailContent.h"
#include "Shell/AppSession.h"
#include "Shell/MainWindow.h"
#include "Store/AppStore.h"
#include "Util/AtomicFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QKeyEvent>
#include <QTimer>

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

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
  double p50, p99, max;
};
Stats stats(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back()};
}

void print(const char* name, const Stats& s) {
  std::printf("%-34s p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms\n", name, s.p50, s.p99, s.max);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Sees a paint in the window. The window paints every widget a change left
// dirty (the field, the list or its empty state, the spine) in one pass, so
// the turn of the event loop that saw a paint has drawn the whole frame.
struct PaintWatch : QObject {
  QWidget* window = nullptr;
  bool painted = false;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint && o->isWidgetType() && static_cast<QWidget*>(o)->window() == window)
      painted = true;
    return false;
  }
};

// Keys typed into the window's search field, one character at a time, each
// timed from the key press until the list has painted the frame that shows
// its result; then the field is cleared the same way. Returns the times and
// the number of messages the finished text found.
// CPU time of the calling thread, in ms.
double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Wall time from a key to the painted list, and the GUI thread's CPU over
// the same span (what the key cost that thread, whatever else runs).
struct KeyTimes {
  Stats wall, cpu;
};

KeyTimes typing(AppStore& s, QLineEdit& field, const QString& text, int rounds, size_t* found) {
  PaintWatch watch;
  watch.window = field.window();
  qApp->installEventFilter(&watch);
  std::vector<double> times, cpu;
  auto key = [&](Qt::Key k, const QString& ch, bool timed) {
    watch.painted = false;
    const double cpuStart = threadCpuMs();
    QElapsedTimer t;
    t.start();
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, ch);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, ch);
    QCoreApplication::sendEvent(&field, &press);
    QCoreApplication::sendEvent(&field, &release);
    while (!watch.painted && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (timed) {
      times.push_back(double(t.nsecsElapsed()) / 1e6);
      cpu.push_back(threadCpuMs() - cpuStart);
    }
  };
  for (int r = 0; r < rounds; ++r) {
    field.setFocus();
    for (QChar c : text) key(c == QLatin1Char(' ') ? Qt::Key_Space : Qt::Key(c.toUpper().unicode()), QString(c), true);
    *found = s.visible().size();
    for (int i = 0; i < text.size(); ++i) key(Qt::Key_Backspace, QString(), true);
  }
  qApp->removeEventFilter(&watch);
  return {stats(times), stats(cpu)};
}

// The peer of the rescan: `find` walking the vault and reading each file's
// modification time, as the scan's walk does.
double findWithStat(const fs::path& vault) {
  QElapsedTimer t;
  t.start();
  QProcess find;
  find.setStandardOutputFile(QProcess::nullDevice());
  find.start(QStringLiteral("find"), {QString::fromStdString(vault.string()), QStringLiteral("-name"),
                                      QStringLiteral("*.eml"), QStringLiteral("-printf"), QStringLiteral("%T@ %p\n")});
  find.waitForFinished(-1);
  return double(t.nsecsElapsed()) / 1e6;
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
    std::fprintf(stderr, "usage: bench_store DIR COUNT [RESCANS]\n");
    return 2;
  }
  if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  const fs::path dir = fs::absolute(argv[1]);
  const int count = std::stoi(argv[2]);
  const int rescans = argc > 3 ? std::max(1, std::stoi(argv[3])) : 20;
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
  // The session reads its settings from a home of its own.
  const fs::path home = dir / "home";
  fs::create_directories(home);
  qputenv("HOME", QByteArray::fromStdString(home.string()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / "config").string()));
  qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(vault.string()));
  qputenv("BRINDLEBOX_CREDENTIALS_FILE", QByteArray::fromStdString((dir / "passwords.json").string()));

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // As the application does: the reader's scheme exists before the application.
  MailContent::registerScheme();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  AppSession::configureApplication();
  std::printf("messages %d, platform %s\n", count, qPrintable(QGuiApplication::platformName()));
  {
    AppSession session;
    AppStore& store = session.store();
    MainWindow& window = session.window();
    window.resize(MainWindow::kDefaultSize);
    window.show();
    waitFor([] { return false; }, 500);

    BlockMeter meter;
    meter.start();
    const double first = scanMs(store);
    const double block = meter.stopMs();
    std::printf("%-34s %9.0f ms  (%zu records)\n", "first scan", first, store.records().size());
    std::printf("%-34s %9.1f ms\n", "first scan: longest GUI block", block);
    std::printf("%-34s %9ld MB\n", "first scan: peak RSS", peakRssMB());
    std::printf("%-34s %9ld MB\n", "store resident after scan", currentRssMB());

    // Unchanged rescans back to back with the peer; resident memory after
    // the first and the last shows whether rescans leave memory behind.
    std::vector<double> ours, peer, blocks;
    long residentFirst = 0;
    for (int i = 0; i < rescans; ++i) {
      peer.push_back(findWithStat(vault));
      meter.start();
      ours.push_back(scanMs(store));
      blocks.push_back(meter.stopMs());
      if (i == 0) residentFirst = currentRssMB();
    }
    std::printf("%-34s %9.0f ms  median of %d (find with stat %.0f ms, ratio %.2f)\n", "rescan, unchanged",
                median(ours), rescans, median(peer), median(ours) / median(peer));
    std::printf("%-34s %9.1f ms  median, %.1f ms max\n", "rescan: longest GUI block", median(blocks),
                *std::max_element(blocks.begin(), blocks.end()));
    std::printf("%-34s %9ld MB after the first, %ld MB after %d\n", "rescan: resident", residentFirst,
                currentRssMB(), rescans);
    {
      const struct mallinfo2 m = mallinfo2();
      std::printf("%-34s %9zu MB in use, %zu MB free but held\n", "store heap after rescans",
                  (m.uordblks + m.hblkhd) >> 20, m.fordblks >> 20);
    }
    int reads = 0;
    auto index = SearchIndex::load(store.layout().indexURL());
    VaultScan::Events counting;
    counting.read = [&](const fs::path& p) {
      ++reads;
      return readFile(p);
    };
    VaultScan::run(*index, store.layout(), {}, counting);
    std::printf("%-34s %9d\n", "rescan, message files read", reads);
    index.reset();

    auto* listView = window.findChild<MessageListView*>();
    if (!listView) {
      std::fprintf(stderr, "no message list in the window\n");
      return 1;
    }
    QLineEdit& field = *listView->searchField();
    size_t found = 0;
    for (const QString& text : {QStringLiteral("meeting"), QStringLiteral("project report"),
                                QStringLiteral("invoice payment due")}) {
      const KeyTimes k = typing(store, field, text, 3, &found);
      std::printf("%-34s p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms  (%zu found)\n",
                  qPrintable(QStringLiteral("key to painted list, \"") + text + QStringLiteral("\"")), k.wall.p50,
                  k.wall.p99, k.wall.max, found);
      print("  GUI thread CPU per key", k.cpu);
    }

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
    // The store's part only (read, parse, checks); bench_reader times the
    // selection to the painted reader.
    print("open 50 KB message (store)", stats(o50));
    print("open 20 MB message (store)", stats(o20));
    fs::remove(vault / small);
    fs::remove(vault / large);
    fs::remove_all(vault / "Bench");
    scanMs(store);
  }
  return 0;
}
