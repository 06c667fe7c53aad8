// Run: QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 BRINDLEBOX_PREVIEW_HELPER=<build>/Brindlebox/brindlebox-preview bench_reader
// (as root the engine needs its sandbox off; the preview helper is found
// beside the application, which a benchmark is not). One line per figure.

#include "Platform/PreviewDialog.h"
#include "Reader/AttachmentFiles.h"
#include "Reader/MailContent.h"
#include "Reader/MailDocument.h"
#include "Safety/HTMLInspector.h"
#include "Reader/MailWebView.h"
#include "Reader/MessageReader.h"
#include "Store/AppStore.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include "common/BlockMeter.h"
#include "common/ProcessMemory.h"

using namespace bx;

namespace {

using bx::bench::BlockMeter;

using bx::bench::totalRssKiB;

OpenMessage message(const std::string& path, std::string html, std::vector<MailAttachment> attachments = {}) {
  OpenMessage m;
  m.record.path = path;
  m.record.account = "Bench";
  m.record.folder = "INBOX";
  m.parsed.subject = "Benchmark " + path;
  m.parsed.from = {MailAddress{"Sender", "s@example.com"}};
  m.parsed.htmlBody = std::move(html);
  m.parsed.attachments = std::move(attachments);
  m.fileSize = 1000;
  return m;
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

// Selection to the body's load finished and one frame after it.
void firstPaint(ReaderView& view, const char* name, const OpenMessage& m) {
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
  std::printf("first_paint %-28s %6lld ms   longest GUI block %5.0f ms%s\n", name, ms, meter.stopMs(),
              loaded ? "" : "  (did not finish)");
}

}  // namespace

int main(int argc, char** argv) {
  MailContent::registerScheme();
  QApplication app(argc, argv);
  AppStore store;
  ReaderView view(&store);
  view.resize(760, 820);
  view.show();

  firstPaint(view, "warm-up", message("b/w/0.eml", "<p>warm</p>"));
  firstPaint(view, "50 KB html", message("b/i/1.eml", paragraphs(50 * 1000)));
  firstPaint(view, "20 MB html", message("b/i/2.eml", paragraphs(20 * 1000 * 1000)));
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
      const std::string shown = MailDocument::neutraliseHints(prepared);
      const qint64 hints = t.restart();
      const auto images = MailDocument::remoteImageSources(prepared);
      std::printf("  prepareForDisplay %lld ms, neutraliseHints %lld ms, remoteImageSources %lld ms (%zu bytes)\n",
                  prepare, hints, t.elapsed(), shown.size() + size_t(images.size()));
    }
    firstPaint(view, "ten 5 MB inline images", message("b/i/3.eml", html, std::move(parts)));
  }

  {
    MailAttachment big;
    big.filename = "archive.bin";
    big.mimeType = "application/octet-stream";
    big.data = std::string(100 * 1000 * 1000, 'z');
    OpenMessage m = message("b/i/4.eml", "<p>attachment</p>", {big});
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
  return 0;
}
