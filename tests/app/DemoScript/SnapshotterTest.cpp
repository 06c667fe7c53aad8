// Shot files: names, folder, and writes that never go through a planted link.
#include "DemoMode/DemoMode.h"
#include "DemoMode/Snapshotter.h"
#include "Util/AtomicFile.h"
#include "support/TempDir.h"

#include <QDialog>
#include <QImage>
#include <QMainWindow>
#include <QPainter>
#include <QTest>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

using namespace bx;

namespace {

struct EnvGuard {
  std::vector<std::pair<const char*, std::optional<QByteArray>>> saved;
  void set(const char* k, const char* v) {
    saved.push_back({k, qEnvironmentVariableIsSet(k) ? std::optional(qgetenv(k)) : std::nullopt});
    if (v) qputenv(k, v); else qunsetenv(k);
  }
  ~EnvGuard() {
    for (auto it = saved.rbegin(); it != saved.rend(); ++it)
      if (it->second) qputenv(it->first, *it->second); else qunsetenv(it->first);
  }
};

QImage tile() {
  QImage img(8, 6, QImage::Format_ARGB32);
  img.fill(Qt::red);
  return img;
}

} // namespace

TEST(Snapshotter, FileNamesFollowTheAppearanceSwitch) {
  bx::test::TempDir dir("bx-shots");
  struct Case {
    const char* appearance;
    const char* file;
  };
  const Case cases[] = {{"dark", "dark-5-search.png"}, {"Dark", "5-search.png"}, {"", "5-search.png"},
                        {nullptr, "5-search.png"}, {"dark ", "5-search.png"}};
  for (const Case& c : cases) {
    EnvGuard env;
    env.set("BRINDLEBOX_SNAPSHOT_DIR", dir.path().c_str());
    env.set("BRINDLEBOX_SNAPSHOT_APPEARANCE", c.appearance);
    EXPECT_EQ(Snapshotter::fileFor("5-search"), dir.path() / c.file) << (c.appearance ? c.appearance : "unset");
    ASSERT_TRUE(Snapshotter::write(tile(), "5-search"));
    EXPECT_EQ(QImage(QString::fromStdString((dir.path() / c.file).string())).size(), QSize(8, 6));
  }
}

TEST(Snapshotter, WithoutAFolderShotsGoToThePrivateTempFolder) {
  EnvGuard env;
  env.set("BRINDLEBOX_SNAPSHOT_DIR", nullptr);
  env.set("BRINDLEBOX_SNAPSHOT_APPEARANCE", nullptr);
  const auto d = Snapshotter::dir();
  EXPECT_EQ(d, privateTempDirectory());
  struct stat st {};
  ASSERT_EQ(::lstat(d.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, ::getuid());
}

// A link planted at a shot's name is replaced, never written through.
TEST(Snapshotter, PlantedLinkIsReplacedNotFollowed) {
  bx::test::TempDir dir("bx-shots");
  const auto canary = dir.path() / "canary.txt";
  { std::ofstream(canary) << "keep me"; }
  const auto shots = dir.path() / "shots";
  std::filesystem::create_directories(shots);
  std::filesystem::create_symlink(canary, shots / "1-reader-newsletter.png");
  EnvGuard env;
  env.set("BRINDLEBOX_SNAPSHOT_DIR", shots.c_str());
  env.set("BRINDLEBOX_SNAPSHOT_APPEARANCE", nullptr);
  ASSERT_TRUE(Snapshotter::write(tile(), "1-reader-newsletter"));
  std::ifstream in(canary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(shots / "1-reader-newsletter.png"));
  EXPECT_FALSE(QImage(QString::fromStdString((shots / "1-reader-newsletter.png").string())).isNull());
}

TEST(Snapshotter, MainWindowAndSheet) {
  QMainWindow other;
  other.setObjectName("inspector");
  other.show();
  EXPECT_EQ(Snapshotter::mainWindow(), nullptr);
  QMainWindow main;
  main.setObjectName("main");
  main.show();
  EXPECT_EQ(Snapshotter::mainWindow(), &main);
  EXPECT_EQ(Snapshotter::openSheet(), nullptr);
  QDialog sheet(&main);
  sheet.setWindowModality(Qt::WindowModal);
  sheet.show();
  EXPECT_EQ(Snapshotter::mainWindow(), &main);
  EXPECT_EQ(Snapshotter::openSheet(), &sheet);
}

TEST(DemoFrame, CentredAndBounded) {
  struct Case {
    QRectF visible, frame;
  };
  const Case cases[] = {
      {{0, 25, 1728, 1079}, {64, 65, 1600, 1000}},
      {{0, 0, 1440, 875}, {24, 16, 1392, 843}},
      {{0, 0, 1920, 1200}, {160, 100, 1600, 1000}},
  };
  for (const Case& c : cases) EXPECT_EQ(DemoMode::demoFrame(c.visible), c.frame);
}

// Shows the window, loads a green page into its web view and shoots the
// window under `name`; the PNG written, or a null image.
static QImage shotOfGreenPage(QWidget& window, QWebEngineView* web, const QString& name) {
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return {};
  web->setHtml(QStringLiteral("<html><body style='margin:0;background:#1a8f3c'></body></html>"));
  auto shot = Snapshotter::capture(&window, name);
  if (!QTest::qWaitFor([&] { return shot.done(); }, 30000)) return {};
  return QImage(QString::fromStdString(Snapshotter::fileFor(name).string()));
}

// A shot taken while a page is still loading waits for it and shows the
// page, not the empty surface a web view shows before its first frame.
TEST(Snapshotter, ShotOfAWebViewWaitsForThePage) {
  bx::test::TempDir dir("bx-shots");
  EnvGuard env;
  env.set("BRINDLEBOX_SNAPSHOT_DIR", dir.path().c_str());
  env.set("BRINDLEBOX_SNAPSHOT_APPEARANCE", nullptr);
  QWidget window;
  window.setObjectName("main");
  window.resize(400, 300);
  auto* web = new QWebEngineView(&window);
  web->setGeometry(100, 50, 200, 200);
  const QImage png = shotOfGreenPage(window, web, QStringLiteral("web"));
  ASSERT_FALSE(png.isNull());
  const double k = png.width() / 400.0;
  EXPECT_EQ(QColor(png.pixel(int(200 * k), int(150 * k))), QColor(0x1a, 0x8f, 0x3c));
  EXPECT_NE(QColor(png.pixel(int(20 * k), int(20 * k))), QColor(0x1a, 0x8f, 0x3c));
}

namespace {

// A banner over part of the page, translucent around it, as a toast is.
class Banner : public QWidget {
public:
  using QWidget::QWidget;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect().adjusted(10, 10, -10, -10), QColor(0xc0, 0x39, 0x2b));
  }
};

} // namespace

// What the window stacks above a page (a toast, an overlay) is drawn over
// the page in shots and in movie frames, and only its own pixels: the page
// shows through around it.
TEST(Snapshotter, OverlaysAboveAPageStayAboveIt) {
  bx::test::TempDir dir("bx-shots");
  EnvGuard env;
  env.set("BRINDLEBOX_SNAPSHOT_DIR", dir.path().c_str());
  env.set("BRINDLEBOX_SNAPSHOT_APPEARANCE", nullptr);
  QWidget window;
  window.setObjectName("main");
  window.resize(400, 300);
  auto* pane = new QWidget(&window);
  pane->setGeometry(0, 0, 400, 300);
  auto* web = new QWebEngineView(pane);
  web->setGeometry(100, 50, 200, 200);
  auto* toast = new Banner(&window);  // a later sibling of the page's pane
  toast->setGeometry(120, 180, 160, 60);
  const QImage png = shotOfGreenPage(window, web, QStringLiteral("toast"));
  ASSERT_FALSE(png.isNull());
  const QColor page(0x1a, 0x8f, 0x3c), banner(0xc0, 0x39, 0x2b);
  const double k = png.width() / 400.0;
  auto at = [&](const QImage& img, int x, int y) { return QColor(img.pixel(int(x * k), int(y * k))); };
  EXPECT_EQ(at(png, 200, 100), page);
  EXPECT_EQ(at(png, 200, 210), banner);
  EXPECT_EQ(at(png, 124, 184), page);  // the banner's clear margin

  const QImage frame = Snapshotter::movieFrame(&window);
  ASSERT_FALSE(frame.isNull());
  EXPECT_EQ(at(frame, 200, 100), page);
  EXPECT_EQ(at(frame, 200, 210), banner);
  EXPECT_EQ(at(frame, 124, 184), page);
}
