// bench_demo: prints one line per figure.
#include "Demo/DemoRecorder.h"
#include "Demo/MovieWriter.h"
#include "DemoMode/DemoMode.h"
#include "DemoMode/Snapshotter.h"
#include "Reader/MailContent.h"
#include "Shell/AppSession.h"
#include "Shell/MainWindow.h"
#include "Store/AppStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPainter>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace bx;

namespace {

// Lets the event loop run for a while (a benchmark, not a test: no QTest).
// It waits in the loop, as the application does: polling would keep the GUI
// thread busy and take a core from the encoder it measures.
void spin(int msec) {
  QEventLoop loop;
  QTimer::singleShot(msec, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
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

// Frame times of a movie, in seconds, in presentation order.
std::vector<double> frameTimes(const QString& movie) {
  QProcess probe;
  probe.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time", "-of",
                          "csv=p=0", movie});
  probe.waitForFinished(120000);
  std::vector<double> times;
  for (const QByteArray& line : probe.readAllStandardOutput().split('\n'))
    if (!line.trimmed().isEmpty()) times.push_back(line.trimmed().toDouble());
  std::sort(times.begin(), times.end());
  return times;
}

QString loadAverage() {
  QFile f("/proc/loadavg");
  if (!f.open(QIODevice::ReadOnly)) return "?";
  return QString::fromUtf8(f.readAll()).section(' ', 0, 2);
}

// Frames, rate and the gaps between frames above 50 ms (longest too).
void movieFigures(const char* label, const QString& movie, int dropped) {
  const std::vector<double> t = frameTimes(movie);
  if (t.size() < 2) {
    std::printf("%s: no movie (%zu frames)\n", label, t.size());
    return;
  }
  int gaps = 0;
  double longest = 0;
  for (std::size_t i = 1; i < t.size(); ++i) {
    const double gap = t[i] - t[i - 1];
    longest = std::max(longest, gap);
    if (gap > 0.050) ++gaps;
  }
  const double span = t.back() - t.front();
  std::printf("%s: %zu frames over %.2f s = %.1f fps; %d gaps over 50 ms, longest %.0f ms; recorder's dropped %d; "
              "load average %s\n",
              label, t.size(), span, (t.size() - 1) / span, gaps, longest * 1000, dropped, qPrintable(loadAverage()));
}

// The real main window over the demo vault, 1600 x 1000, a message open in
// the reader: what one frame costs the GUI thread, drawn afresh (as shots
// are) and from what the window last put on screen (as movie frames are);
// then 10 s recorded while the list is scrubbed through the years every
// 62 ms, as the demo's spine drag does.
void realWindowFigures() {
  qputenv("BRINDLEBOX_SNAPSHOT_DEMO", "");
  AppStore::demoArchivePreparer() = [] { return DemoMode::prepareArchive(); };
  AppSession session;
  session.start();
  QWidget* window = &session.window();
  window->setGeometry(160, 100, 1600, 1000);
  AppStore& store = session.store();
  QElapsedTimer wait;
  wait.start();
  while ((store.records().empty() || store.indexing()) && wait.elapsed() < 60000) spin(20);
  store.setSidebar(SidebarItem::makeAll());
  store.refreshVisible();
  if (!store.visible().empty()) store.setSelectedPath(QString::fromStdString(store.visible().front()->path));
  spin(4000);

  const int n = 60;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < n; ++i) (void)Snapshotter::render(window, 0, Snapshotter::Source::redraw);
  const double redraw = ms(t) / n;
  t.restart();
  for (int i = 0; i < n; ++i) (void)Snapshotter::render(window, 250, Snapshotter::Source::screen);
  const double screen = ms(t) / n;
  QTemporaryDir dir;
  orrery::DemoRecorder rec(dir.path(), QRectF(window->geometry()), 30, {QColor(242, 242, 242), QColor(224, 224, 224)});
  t.restart();
  for (int i = 0; i < n; ++i) (void)rec.composite();
  const double composite = ms(t) / n;
  std::printf("real window %d x %d: window drawn afresh %.2f ms, from the screen %.2f ms, whole frame %.2f ms "
              "(GUI thread, per frame)\n",
              window->width(), window->height(), redraw, screen, composite);

  rec.start();
  std::vector<MonthKey> months;
  for (const MonthGroup& g : store.groups()) months.push_back(g.key);
  QElapsedTimer run;
  run.start();
  for (int step = 0; run.elapsed() < 10000; ++step) {
    if (!months.empty()) {
      const MonthKey m = months[std::size_t(step) % months.size()];
      store.timeline().setProbe(m);
      store.scrub(m);
    }
    spin(62);
  }
  store.timeline().setProbe(std::nullopt);
  auto fin = rec.finish(QStringLiteral("bench"));
  while (!fin.done()) spin(10);
  movieFigures("real window, list scrubbed, 10 s", dir.filePath("raw.mov"), rec.droppedFrames());
}

// The whole demo recording, as the application makes it (the process's own
// launch with BRINDLEBOX_DEMO_DIR), then its movie's figures.
int demoRecording(int argc, char** argv, const QString& out) {
  qputenv("BRINDLEBOX_DEMO_DIR", out.toUtf8());
  AppStore::demoArchivePreparer() = [] { return DemoMode::prepareArchive(); };
  int status = 0;
  {
    AppSession session;
    session.start();
    status = QApplication::exec();
  }
  (void)argc;
  (void)argv;
  movieFigures("demo recording", QDir(out).filePath("raw.mov"), -1);
  return status;
}

} // namespace

int main(int argc, char** argv) {
  // As the application starts: web views share GL contexts, the reader's
  // scheme exists before the application.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  MailContent::registerScheme();
  QApplication app(argc, argv);
  AppSession::configureApplication();
  // "vault", "recorder" or "demo" runs only that part; "prepare" only
  // writes the vault a few times.
  const char* only = argc > 1 ? argv[1] : "";
  QElapsedTimer t;
  if (std::strcmp(only, "demo") == 0) {
    QTemporaryDir out;
    return demoRecording(argc, argv, argc > 2 ? QString::fromLocal8Bit(argv[2]) : out.path());
  }
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
  {
    AppStore store;
    const double open = ms(t);
    t.restart();
    store.reloadArchive();
    while (store.records().empty() || store.indexing()) spin(5);
    std::printf("store over the demo vault: open (writes the vault) %.1f ms, first scan %.1f ms, %zu records\n",
                open, ms(t), store.records().size());
  }
  }
  if (std::strcmp(only, "vault") == 0) return 0;

  const int frames = 150;
  encodeFigures(QSize(1600, 1000), frames);
  encodeFigures(QSize(2560, 1600), frames);
  realWindowFigures();
  return 0;
}
