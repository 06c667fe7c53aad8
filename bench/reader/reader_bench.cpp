// Run: QTWEBENGINE_DISABLE_SANDBOX=1 BRINDLEBOX_PREVIEW_HELPER=<build>/Brindlebox/brindlebox-preview xvfb-run -a bench_reader [only|peers]
// ("only": the two 20 MB selections and nothing else; "peers": the plain
// view on the prepared 20 MB document, without and with the reader's sheet,
// then the same text served from memory by a bare scheme handler and by the
// reader's own)
// (as root the engine needs its sandbox off; the preview helper is found
// beside the application, which a benchmark is not; without a display it
// runs offscreen). One line per figure.
//
// "select" figures run the whole road of a message: the selection in the
// store, reading and parsing its file, the reader pane, the document's
// preparation and delivery, until the web view has painted the loaded page.
// The peer is a plain QWebEngineView loading the same HTML file.

#include "Platform/PreviewDialog.h"
#include "Reader/AttachmentFiles.h"
#include "Reader/MailContent.h"
#include "Reader/MailDocument.h"
#include "Safety/HTMLInspector.h"
#include "Reader/MailWebView.h"
#include "Reader/MessageReader.h"
#include "Reader/ReaderPage.h"
#include "Reader/RemoteBlocker.h"
#include "Store/AppStore.h"

#include <QApplication>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <QBuffer>
#include <QImage>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>
#include <unistd.h>
#include "common/BlockMeter.h"
#include "common/ProcessMemory.h"

using namespace bx;

namespace {

using bx::bench::BlockMeter;

using bx::bench::totalRssKiB;

std::shared_ptr<const OpenMessage> message(const std::string& path, std::string html,
                                           std::vector<MailAttachment> attachments = {}) {
  OpenMessage m;
  m.record.path = path;
  m.record.account = "Bench";
  m.record.folder = "INBOX";
  m.parsed.subject = "Benchmark " + path;
  m.parsed.from = {MailAddress{"Sender", "s@example.com"}};
  m.parsed.htmlBody = std::move(html);
  m.parsed.attachments = std::move(attachments);
  m.fileSize = 1000;
  return std::make_shared<const OpenMessage>(std::move(m));
}

std::string paragraphs(size_t bytes) {
  std::string html = "<html><body>";
  while (html.size() < bytes) html += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.</p>\n";
  return html + "</body></html>";
}

bool waitFor(const std::function<bool()>& done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

// Sees a paint of any widget inside `root` (the engine draws through a
// child widget of the view).
struct PaintWatch : QObject {
  QWidget* root = nullptr;
  bool armed = false, painted = false;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (armed && e->type() == QEvent::Paint && o->isWidgetType() &&
        (o == root || root->isAncestorOf(static_cast<QWidget*>(o))))
      painted = true;
    return false;
  }
};

// Waits for the web view's load to finish and then for its next frame.
// Returns false when it did not come within the time.
// `started`, when given, is called on each turn until the load finished.
bool loadedAndPainted(QWebEngineView* web, bool& loaded, int ms, const std::function<void()>& started = {}) {
  PaintWatch watch;
  watch.root = web;
  qApp->installEventFilter(&watch);
  QDeadlineTimer deadline(ms);
  while (!loaded && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (started) started();
  }
  watch.armed = true;
  web->update();
  while (loaded && !watch.painted && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  qApp->removeEventFilter(&watch);
  return loaded && watch.painted;
}

// A message selected in the store until the reader's web view has painted
// it; the longest GUI block on the way. Median of `rounds`, each after
// selecting `other` so the reader is built anew.
void selectToPainted(AppStore& store, ReaderView& view, const char* name, const std::string& path,
                     const std::string& other, int rounds) {
  std::vector<double> times, blocks, handed;
  bool finished = true;
  for (int r = 0; r < rounds; ++r) {
    store.setSelectedPath(QString::fromStdString(other));
    waitFor([&] { return view.reader() && view.reader()->message().record.path == other; }, 120000);
    waitFor([] { return false; }, 300);
    BlockMeter meter;
    QElapsedTimer t;
    bool loaded = false;
    QMetaObject::Connection c;
    // The reader for the new message, and its web view, exist only once the
    // store has opened it.
    auto hook = QObject::connect(&store, &AppStore::openMessageChanged, [&] {
      QTimer::singleShot(0, [&] {
        if (view.reader() && view.reader()->webView() && !c)
          c = QObject::connect(view.reader()->webView(), &MailWebView::documentLoaded, [&](bool) { loaded = true; });
      });
    });
    meter.start();
    t.start();
    store.setSelectedPath(QString::fromStdString(path));
    waitFor([&] { return bool(c); }, 120000);
    // When the document was handed to the engine: the rest is the engine's.
    double handedAt = -1;
    MailWebView* web = view.reader() ? view.reader()->webView() : nullptr;
    const bool ok = web && loadedAndPainted(web, loaded, 120000, [&] {
      if (handedAt < 0 && web->loadsStarted() > 0) handedAt = double(t.nsecsElapsed()) / 1e6;
    });
    times.push_back(double(t.nsecsElapsed()) / 1e6);
    handed.push_back(handedAt);
    blocks.push_back(meter.stopMs());
    QObject::disconnect(hook);
    QObject::disconnect(c);
    finished = finished && ok;
  }
  std::sort(times.begin(), times.end());
  std::sort(handed.begin(), handed.end());
  std::printf("select %-32s %8.0f ms median of %d (min %.0f, max %.0f)   handed to the engine at %.0f ms   "
              "longest GUI block %5.0f ms%s\n",
              name, times[times.size() / 2], rounds, times.front(), times.back(), handed[handed.size() / 2],
              *std::max_element(blocks.begin(), blocks.end()), finished ? "" : "  (did not finish)");
}

// The peer: a plain web view loading to its painted frame, given its page
// and what it loads.
void plainView(const char* name, int rounds, const std::function<QWebEnginePage*(QObject*)>& makePage,
               const std::function<QUrl()>& url) {
  std::vector<double> times;
  bool finished = true;
  for (int r = 0; r < rounds; ++r) {
    QWebEngineView web;
    if (makePage) web.setPage(makePage(&web));
    web.resize(760, 600);
    web.show();
    web.load(QUrl(QStringLiteral("about:blank")));
    bool blank = false;
    auto c0 = QObject::connect(&web, &QWebEngineView::loadFinished, [&](bool) { blank = true; });
    waitFor([&] { return blank; }, 20000);
    QObject::disconnect(c0);
    bool loaded = false;
    QObject::connect(&web, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    QElapsedTimer t;
    t.start();
    web.load(url());
    finished = loadedAndPainted(&web, loaded, 120000) && finished;
    times.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  std::sort(times.begin(), times.end());
  std::printf("plain view %-28s %8.0f ms median of %d%s\n", name, times[times.size() / 2], rounds,
              finished ? "" : "  (did not finish)");
}

// An HTML file in a plain view of the engine's default profile.
void plainView(const char* name, const std::filesystem::path& file, int rounds) {
  plainView(name, rounds, {}, [&] { return QUrl::fromLocalFile(QString::fromStdString(file.string())); });
}

// Serves one text under the reader's scheme, as the reader's handler does,
// to a profile of the bench's own.
struct OneTextHandler : QWebEngineUrlSchemeHandler {
  QByteArray text;
  void requestStarted(QWebEngineUrlRequestJob* job) override {
    auto* buffer = new QBuffer(job);
    buffer->setData(text);
    buffer->open(QIODevice::ReadOnly);
    job->reply("text/html;charset=utf-8", buffer);
  }
};

void handlerView(const char* name, const QByteArray& html, int rounds) {
  static auto* handler = new OneTextHandler;
  static QWebEngineProfile* profile = [] {
    auto* p = new QWebEngineProfile(qApp);
    p->installUrlSchemeHandler(MailContent::scheme, handler);
    return p;
  }();
  handler->text = html;
  plainView(name, rounds, [](QObject* parent) { return new QWebEnginePage(profile, parent); },
            [] { return QUrl(QStringLiteral("bx-mail://bench/")); });
}

// The same text through the reader's profile and scheme (its interceptor
// and rule list included), in a plain view instead of the reader's.
void schemeView(const char* name, const QByteArray& html, int rounds) {
  RuleListPtr list;
  RemoteBlocker::shared().both([&](RuleListPtr blocking, RuleListPtr) { list = std::move(blocking); });
  waitFor([&] { return list != nullptr; }, 20000);
  plainView(name, rounds,
            [](QObject* parent) { return new QWebEnginePage(MailContent::shared().profile(), parent); },
            [&] { return MailContent::shared().publish(html, list, {}); });
}

void writeText(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

// A message handed to the reader ready made (no store, no file, no parse)
// until its load has finished.
void readyToLoaded(ReaderView& view, const char* name, std::shared_ptr<const OpenMessage> m) {
  BlockMeter meter;
  QElapsedTimer t;
  meter.start();
  t.start();
  view.present(m);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  bool loaded = false;
  QObject::connect(view.reader()->webView(), &MailWebView::documentLoaded, [&](bool) { loaded = true; });
  waitFor([&] { return loaded; }, 120000);
  QCoreApplication::processEvents();
  const qint64 ms = t.elapsed();
  std::printf("ready to loaded %-24s %6lld ms   longest GUI block %5.0f ms%s\n", name, ms, meter.stopMs(),
              loaded ? "" : "  (did not finish)");
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // A vault of its own: a 20 MB HTML message, a 20 MB message whose size is
  // in its attachment, and a small one to step away to.
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("bx-bench-reader-" + std::to_string(::getpid()));
  const std::filesystem::path vault = scratch / "vault";
  const std::string head = "From: Bench <bench@example.com>\r\nTo: me@example.com\r\nDate: Tue, 05 Mar 2024 10:00:00 +0000\r\n"
                           "MIME-Version: 1.0\r\n";
  const std::string html20 = paragraphs(20 * 1000 * 1000);
  writeText(vault / "Bench/INBOX/2024/html20.eml",
            head + "Subject: twenty html\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + html20 + "\r\n");
  {
    std::string m = head + "Subject: twenty attached\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                           "Content-Type: text/html; charset=utf-8\r\n\r\n<p>See attached.</p>\r\n--b\r\n"
                           "Content-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment; filename=a.pdf\r\n\r\n";
    while (m.size() < 20'000'000) m += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0NTY3\r\n";
    writeText(vault / "Bench/INBOX/2024/attached20.eml", m + "--b--\r\n");
  }
  writeText(vault / "Bench/INBOX/2024/small.eml",
            head + "Subject: small\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>small</p>\r\n");
  writeText(scratch / "html20.html", html20);
  // What the reader hands the engine for it.
  const std::string prepared20 = HTMLInspector::prepareForDisplay(html20, {}, false);
  writeText(scratch / "html20-prepared.html", prepared20);
  // Exactly the text the reader's view is given: with the reader's sheet.
  const QByteArray shown20 = ReaderPage::withSheet(prepared20, false, ColorScheme::Light);
  writeText(scratch / "html20-shown.html", shown20.toStdString());
  qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(vault.string()));
  qputenv("HOME", QByteArray::fromStdString((scratch / "home").string()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((scratch / "config").string()));

  MailContent::registerScheme();
  QApplication app(argc, argv);
  std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
  AppStore store;
  ReaderView view(&store);
  view.resize(760, 820);
  view.show();
  store.reloadArchive();
  waitFor([&] { return store.records().size() == 3 && !store.indexing(); }, 300000);

  // Back to back, ours and the peer.
  const std::string_view mode = argc > 1 ? std::string_view(argv[1]) : std::string_view();
  if (mode == "peers") {
    // Where the engine's time goes: the same text in a plain view, without
    // and with the reader's sheet.
    plainView("the same as prepared", scratch / "html20-prepared.html", 2);
    plainView("prepared with the reader's sheet", scratch / "html20-shown.html", 2);
    // The same text served from memory: by a bare scheme handler, then by
    // the reader's own (its profile, interceptor and rule list).
    handlerView("the same through a bare handler", shown20, 2);
    schemeView("the same through the reader's scheme", shown20, 2);
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    return 0;
  }
  const bool only = mode == "only";
  if (!only)
    selectToPainted(store, view, "small html", "Bench/INBOX/2024/small.eml", "Bench/INBOX/2024/attached20.eml", 3);
  selectToPainted(store, view, "20 MB in attachments", "Bench/INBOX/2024/attached20.eml", "Bench/INBOX/2024/small.eml", 5);
  selectToPainted(store, view, "20 MB html", "Bench/INBOX/2024/html20.eml", "Bench/INBOX/2024/small.eml", 3);
  if (only) {
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    return 0;
  }
  plainView("20 MB html file", scratch / "html20.html", 3);
  plainView("the same as prepared", scratch / "html20-prepared.html", 3);
  plainView("prepared with the reader's sheet", scratch / "html20-shown.html", 3);
  store.setSelectedPath(std::nullopt);
  QCoreApplication::processEvents();

  readyToLoaded(view, "50 KB html", message("b/i/1.eml", paragraphs(50 * 1000)));
  {
    std::vector<MailAttachment> parts;
    std::string html = "<html><body>";
    for (int i = 0; i < 10; ++i) {
      MailAttachment a;
      a.id = i;
      a.filename = "image" + std::to_string(i) + ".png";
      a.mimeType = "image/png";
      a.contentID = "img" + std::to_string(i);
      a.isInline = true;
      a.data = std::string(5 * 1000 * 1000, char('a' + i));
      parts.push_back(std::move(a));
      html += "<img src=\"cid:img" + std::to_string(i) + "\">";
    }
    html += "</body></html>";
    {
      // Where the GUI thread's time goes for this message.
      QElapsedTimer t;
      t.start();
      const std::string prepared = HTMLInspector::prepareForDisplay(html, parts, false);
      const qint64 prepare = t.restart();
      const MailDocument shown = MailDocument::read(prepared);
      std::printf("  prepareForDisplay %lld ms, MailDocument::read %lld ms (%zu bytes, %lld images)\n", prepare,
                  t.elapsed(), prepared.size(), qlonglong(shown.images.size()));
    }
    readyToLoaded(view, "ten 5 MB inline images", message("b/i/3.eml", html, std::move(parts)));
  }

  {
    MailAttachment big;
    big.filename = "archive.bin";
    big.mimeType = "application/octet-stream";
    big.data = std::string(100 * 1000 * 1000, 'z');
    auto m = message("b/i/4.eml", "<p>attachment</p>", {big});
    view.present(m);
    QCoreApplication::processEvents();
    BlockMeter meter;
    QElapsedTimer t;
    meter.start();
    t.start();
    view.reader()->previewAttachment(view.reader()->message().parsed.attachments.front());
    QCoreApplication::processEvents();
    std::printf("preview 100 MB attachment      %6lld ms   longest GUI block %5.0f ms\n", t.elapsed(), meter.stopMs());
    if (view.reader()->preview()) view.reader()->preview()->close();
  }

  {
    // A large photo: decoded by the helper process, the GUI thread only
    // copies the pixels it sends back.
    QImage photo(6000, 4000, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(photo.scanLine(y));
      for (int x = 0; x < photo.width(); ++x) line[x] = qRgb(x * 7 + y, y * 3 + x, (x ^ y) & 0xFF);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    photo.save(&buffer, "PNG");
    MailAttachment image;
    image.filename = "photo.png";
    image.mimeType = "image/png";
    image.data = png.toStdString();
    view.present(message("b/i/5.eml", "<p>photo</p>", {image}));
    QCoreApplication::processEvents();
    BlockMeter meter;
    QElapsedTimer t;
    meter.start();
    t.start();
    view.reader()->previewAttachment(view.reader()->message().parsed.attachments.front());
    bool ready = false;
    if (auto* preview = view.reader()->preview())
      QObject::connect(preview, &PreviewDialog::ready, [&] { ready = true; });
    waitFor([&] { return ready; }, 60000);
    std::printf("preview %4.1f MB PNG 6000x4000     %6lld ms   longest GUI block %5.0f ms%s\n", png.size() / 1e6,
                t.elapsed(), meter.stopMs(), ready ? "" : "  (did not finish)");
    if (view.reader()->preview()) view.reader()->preview()->close();
  }

  const std::string body = paragraphs(30 * 1000) + "<img src=\"https://img.example/a.png\">";
  for (int i = 1; i <= 200; ++i) {
    bool loaded = false;
    view.present(message("b/m/" + std::to_string(i) + ".eml", body + std::to_string(i)));
    QObject::connect(view.reader()->webView(), &MailWebView::documentLoaded, [&](bool) { loaded = true; });
    waitFor([&] { return loaded; }, 20000);
    // processEvents alone never deletes what deleteLater left for the loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (i == 20 || i == 100 || i == 200) {
      waitFor([] { return false; }, 300);
      long files = 0;
      std::error_code ec;
      for (auto it = std::filesystem::recursive_directory_iterator(AttachmentFiles::runFolder(), ec);
           it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ++files;
      std::printf("memory after %3d messages: %7ld KiB (app + renderers), %d documents held, %ld temp entries\n", i,
                  totalRssKiB(), MailContent::shared().documentCount(), files);
    }
  }
  AttachmentFiles::removeRunFolder();
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return 0;
}
