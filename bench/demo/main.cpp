// bench_demo: prints one line per figure.
#include "Demo/DemoRecorder.h"
#include "Demo/MovieWriter.h"
#include "DemoMode/DemoMode.h"
#include "Store/AppStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace bx;

namespace {

// Lets the event loop run for a while (a benchmark, not a test: no QTest).
void spin(int msec) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < msec) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

double ms(QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

// A frame like the recorded ones: a backdrop, a window of text rows, and a
// box and cursor that move every frame so no two frames encode alike.
void paintFrame(QImage& image, int i) {
  QPainter p(&image);
  QLinearGradient g(0, 0, 0, image.height());
  g.setColorAt(0, QColor(242, 242, 242));
  g.setColorAt(1, QColor(224, 224, 224));
  p.fillRect(image.rect(), g);
  const QRect win = image.rect().adjusted(image.width() / 20, image.height() / 20, -image.width() / 20,
                                          -image.height() / 20);
  p.fillRect(win, Qt::white);
  QFont f;
  f.setPixelSize(std::max(10, image.height() / 70));
  p.setFont(f);
  p.setPen(QColor(40, 40, 40));
  const int row = f.pixelSize() * 2;
  for (int y = win.top() + row, n = 0; y < win.bottom(); y += row, ++n)
    p.drawText(win.left() + 20 + (n % 3) * 6, y, QStringLiteral("Message %1 from someone about something, %2 KB").arg(n + i / 15).arg(n * 7));
  p.fillRect(QRect(win.left() + (i * 13) % std::max(1, win.width() - 300), win.top() + (i * 7) % std::max(1, win.height() - 200), 300, 200),
             QColor(90, 140, 200, 160));
}

// Conversion and encoding of a fixed number of frames, in this thread, at a
// movie size: what the worker spends on each frame.
void encodeFigures(QSize pixels, int n) {
  QTemporaryDir dir;
  orrery::MovieWriter writer(dir.filePath("bench.mov").toStdString());
  const char* preset = orrery::DemoRecorder::presetFor(pixels);
  writer.open(pixels, 30, preset);
  writer.begin(false);
  QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
  double convert = 0, encode = 0;
  QElapsedTimer t;
  for (int i = 0; i < n; ++i) {
    paintFrame(image, i);
    t.restart();
    writer.convert(image);
    convert += ms(t);
    t.restart();
    writer.encodeConverted(std::int64_t(i) * 20);
    encode += ms(t);
  }
  t.restart();
  const QString error = writer.finish();
  const double flush = ms(t);
  std::printf("encode %d x %d (preset %s), %d frames: convert %.2f ms, encode %.2f ms per frame "
              "(+ %.0f ms to drain and close), %.1f ms per frame in all%s\n",
              pixels.width(), pixels.height(), preset, n, convert / n, encode / n, flush,
              (convert + encode + flush) / n, error.isEmpty() ? "" : qPrintable(" error: " + error));
}

// The GUI thread's part: grab and composite of a window, then the recorder
// with its worker fed a fixed number of frames at the recording rate (30
// a second), counting frames the worker could not take in time.
void recorderFigures(const QSize& windowSize, const QRectF& region, const char* label, int n) {
  QWidget window;
  window.setObjectName("main");
  window.setGeometry(QRect(QPoint(0, 0), windowSize));
  auto* text = new QLabel(QStringLiteral("Brindlebox demo frame"), &window);
  text->setGeometry(40, 40, 600, 200);
  window.show();
  spin(200);
  QTemporaryDir dir;
  orrery::DemoRecorder rec(dir.path(), region, 30, {QColor(242, 242, 242), QColor(224, 224, 224)});
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < n; ++i) (void)orrery::DemoRecorder::grabWindow(&window);
  const double grab = ms(t) / n;
  t.restart();
  for (int i = 0; i < n; ++i) (void)rec.composite();
  const double composite = ms(t) / n;
  rec.start();
  QElapsedTimer pace;
  pace.start();
  double gui = 0;
  for (int i = 1; i < n; ++i) {
    // The recorder takes a frame only once a frame's time has passed.
    while (pace.nsecsElapsed() < qint64(i) * 1000000000 / 30) QThread::usleep(500);
    text->setText(QStringLiteral("Brindlebox demo frame %1").arg(i));
    t.restart();
    rec.captureFrame();
    gui += ms(t);
  }
  auto fin = rec.finish(QStringLiteral("bench"));
  while (!fin.done()) spin(10);
  std::printf("recorder %s: grab %.2f ms, composite %.2f ms, GUI share per frame %.2f ms; "
              "%d frames offered at 30 fps: %d written, %d dropped (preset %s)\n",
              label, grab, composite, gui / (n - 1), n, rec.framesWritten(), rec.droppedFrames(),
              orrery::DemoRecorder::presetFor(rec.pixelSize()));
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // "vault" or "recorder" runs only that half; "prepare" only writes the
  // vault a few times.
  const char* only = argc > 1 ? argv[1] : "";
  QElapsedTimer t;
  if (std::strcmp(only, "prepare") == 0) {
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    for (int i = 0; i < runs; ++i) {
      t.restart();
      DemoMode::prepareArchive();
      std::printf("prepareArchive: %.1f ms\n", ms(t));
    }
    return 0;
  }
  if (std::strcmp(only, "recorder") != 0) {
  t.start();
  const auto root = DemoMode::prepareArchive();
  std::printf("prepareArchive: %.1f ms\n", ms(t));
  t.restart();
  const auto again = DemoMode::prepareArchive();
  std::printf("prepareArchive (second run, removes the first): %.1f ms\n", ms(t));

  qputenv("BRINDLEBOX_SNAPSHOT_DEMO", "");
  AppStore::demoArchivePreparer() = [] { return DemoMode::prepareArchive(); };
  t.restart();
  AppStore store;
  const double open = ms(t);
  t.restart();
  store.reloadArchive();
  while (store.records().empty() || store.indexing()) spin(5);
  std::printf("store over the demo vault: open (writes the vault) %.1f ms, first scan %.1f ms, %zu records\n", open,
              ms(t), store.records().size());
  }
  if (std::strcmp(only, "vault") == 0) return 0;

  const int frames = 150;
  encodeFigures(QSize(1600, 1000), frames);
  encodeFigures(QSize(2560, 1600), frames);
  recorderFigures(QSize(1600, 1000), QRectF(0, 0, 1600, 1000), "1600 x 1000", frames);
  recorderFigures(QSize(1600, 1000), QRectF(0, 0, 2560, 1600), "2560 x 1600", frames);
  return 0;
}
