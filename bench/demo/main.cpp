// bench_demo: prints one line per figure.
#include "Demo/DemoRecorder.h"
#include "DemoMode/DemoMode.h"
#include "Store/AppStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>

using namespace bx;

namespace {

// Lets the event loop run for a while (a benchmark, not a test: no QTest).
void spin(int msec) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < msec) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

double ms(QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

void recorderFigures(const QSize& windowSize, const QRectF& region, const char* label) {
  QWidget window;
  window.setObjectName("main");
  window.setGeometry(QRect(QPoint(0, 0), windowSize));
  auto* text = new QLabel(QStringLiteral("Brindlebox demo frame"), &window);
  text->setGeometry(40, 40, 600, 200);
  window.show();
  spin(200);
  QTemporaryDir dir;
  orrery::DemoRecorder rec(dir.path(), region, 30, {QColor(242, 242, 242), QColor(224, 224, 224)});
  const int n = 60;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < n; ++i) (void)orrery::DemoRecorder::grabWindow(&window);
  const double grab = ms(t) / n;
  t.restart();
  for (int i = 0; i < n; ++i) (void)rec.composite();
  const double composite = ms(t) / n;
  rec.start();
  t.restart();
  for (int i = 0; i < n; ++i) {
    rec.captureFrame();
    QCoreApplication::processEvents();
  }
  const double gui = ms(t) / n;
  auto fin = rec.finish(QStringLiteral("bench"));
  while (!fin.done()) spin(10);
  const double total = ms(t);
  std::printf("recorder %s: grab %.2f ms, composite %.2f ms, GUI share per frame %.2f ms, %d written %d dropped, "
              "%.1f ms per frame to the closed movie (preset %s)\n",
              label, grab, composite, gui, rec.framesWritten(), rec.droppedFrames(), total / n,
              orrery::DemoRecorder::presetFor(rec.pixelSize()));
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QElapsedTimer t;
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

  recorderFigures(QSize(1600, 1000), QRectF(0, 0, 1600, 1000), "1600 x 1000");
  recorderFigures(QSize(1600, 1000), QRectF(0, 0, 2560, 1600), "2560 x 1600");
  return 0;
}
