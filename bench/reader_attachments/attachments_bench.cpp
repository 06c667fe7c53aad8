// Run: QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 bench_reader_attachments [parts...]
// (as root the engine needs its sandbox off). For each count of parts (by
// default 20,000 and 60,000): a vault holding one message of that many small
// attached files, opened through the store into the reader; prints the
// memory of the application and its renderers before and after, and the
// time from selection to the body on screen. Goal: under 300 MB above idle
// for 60,000 parts.

#include "Reader/MailContent.h"
#include "Reader/MailWebView.h"
#include "Reader/MessageReader.h"
#include "Store/AppStore.h"

#include "common/ProcessMemory.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

using namespace bx;

namespace {

using bx::bench::totalRssKiB;

bool waitFor(const std::function<bool()>& done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

void writeMessage(const std::string& file, int parts) {
  std::ofstream out(file, std::ios::binary);
  out << "From: Sender <s@example.com>\r\nTo: me@example.org\r\nSubject: " << parts
      << " parts\r\nDate: Tue, 1 Dec 2026 10:00:00 +0000\r\nMessage-ID: <parts-" << parts
      << "@example.com>\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      << "--b\r\nContent-Type: text/plain\r\n\r\nThe attachments follow.\r\n";
  for (int i = 0; i < parts; ++i)
    out << "--b\r\nContent-Type: text/plain; name=\"part-" << i << ".txt\"\r\nContent-Disposition: attachment\r\n\r\n"
        << "part " << i << "\r\n";
  out << "--b--\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  MailContent::registerScheme();
  QApplication app(argc, argv);
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {20000, 60000};

  QTemporaryDir vault;
  QDir(vault.path()).mkpath("Bench/INBOX/2026");
  writeMessage((vault.path() + "/Bench/INBOX/2026/warm.eml").toStdString(), 1);
  for (int n : counts)
    writeMessage((vault.path() + QStringLiteral("/Bench/INBOX/2026/parts-%1.eml").arg(n)).toStdString(), n);
  qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
  AppStore store;
  ReaderView view(&store);
  view.resize(900, 820);
  view.show();
  store.reloadArchive();
  if (!waitFor([&] { return store.records().size() == counts.size() + 1 && !store.indexing(); }, 600000)) {
    std::printf("the vault was not indexed\n");
    return 1;
  }

  auto open = [&](const QString& path) {
    QElapsedTimer t;
    t.start();
    store.setSelectedPath(path);
    bool loaded = waitFor([&] { return view.reader() && view.reader()->message().record.path == path.toStdString(); },
                          600000);
    MailWebView* web = loaded && view.reader() ? view.reader()->webView() : nullptr;
    if (web) loaded = waitFor([&] { return web->loadsStarted() > 0 && !web->page()->isLoading(); }, 600000);
    waitFor([] { return false; }, 1500);
    return std::make_pair(loaded, t.elapsed());
  };

  open(QStringLiteral("Bench/INBOX/2026/warm.eml"));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  const long idle = totalRssKiB();
  std::printf("idle (one small message open): %7.1f MB\n", idle / 1024.0);
  for (int n : counts) {
    const auto [ok, ms] = open(QStringLiteral("Bench/INBOX/2026/parts-%1.eml").arg(n));
    const long after = totalRssKiB();
    std::printf("%6d attachments: open %6lld ms, %7.1f MB, %+7.1f MB above idle%s\n", n, ms, after / 1024.0,
                (after - idle) / 1024.0, ok ? "" : "  (did not finish)");
  }
  return 0;
}
