#include "DemoMode/Snapshotter.h"

#include "DemoMode/DemoMode.h"
#include "DemoMode/DemoTyping.h"
#include "Engines/FriendlyError.h"
#include "Imap/IMAPError.h"
#include "Platform/Appearance.h"
#include "Sheets/AddAccountSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Sheets/SettingsView.h"
#include "Shell/Onboarding.h"
#include "Store/AppStore.h"
#include "Store/CleanupModel.h"
#include "Store/ProviderPreset.h"
#include "Theme/Theme.h"
#include "Util/AtomicFile.h"
#include "Demo/DemoRecorder.h"

#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QGuiApplication>
#include <QMainWindow>
#include <QElapsedTimer>
#include <QPainter>
#include <QUrl>
#include <QPointer>
#include <QScreen>
#include <QTabWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <functional>
#include <memory>

namespace bx {

namespace {

bool envPresent(const char* name) { return qEnvironmentVariableIsSet(name); }

QString rectText(const QRect& r) {
  return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

void dumpTree(QWidget* w, int depth) {
  if (depth > 8) return;
  std::fprintf(stderr, "%s%s %s\n", QString(depth * 2, u' ').toUtf8().constData(), w->metaObject()->className(),
               rectText(w->geometry()).toUtf8().constData());
  for (QObject* o : w->children())
    if (auto* c = qobject_cast<QWidget*>(o)) dumpTree(c, depth + 1);
}

// Web views in depth-first order; a web view's insides are not walked.
void collectWebViews(QWidget* w, QList<QWebEngineView*>& out) {
  for (QObject* o : w->children()) {
    auto* c = qobject_cast<QWidget*>(o);
    if (!c) continue;
    if (auto* web = qobject_cast<QWebEngineView*>(c)) {
      out << web;
      continue;
    }
    collectWebViews(c, out);
  }
}

} // namespace

std::filesystem::path Snapshotter::dir() {
  if (envPresent("BRINDLEBOX_SNAPSHOT_DIR"))
    return std::filesystem::path(qEnvironmentVariable("BRINDLEBOX_SNAPSHOT_DIR").toStdString());
  return privateTempDirectory();
}

bool Snapshotter::dark() { return qEnvironmentVariable("BRINDLEBOX_SNAPSHOT_APPEARANCE") == QLatin1String("dark"); }

QWidget* Snapshotter::mainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible() || w->windowType() != Qt::Window) continue;
    if (qobject_cast<QDialog*>(w)) continue;
    const QString id = w->objectName();
    if (id.isEmpty() || id.contains(QLatin1String("main"))) return w;
  }
  return nullptr;
}

namespace {

// The web views a shot shows: visible in the window and wider than 10 px.
QList<QWebEngineView*> shownWebViews(QWidget* window) {
  QList<QWebEngineView*> webs, out;
  collectWebViews(window, webs);
  for (QWebEngineView* web : webs)
    if (web->isVisibleTo(window) && web->width() > 10) out << web;
  return out;
}

// Waits until the page has painted: its load has ended and two grabs in a
// row agree, since the engine hands its frames over some time after the
// load and a grab before then shows an empty or half-drawn page. Gives up
// after some seconds rather than stall a shot.
orrery::Task<> untilPainted(QPointer<QWebEngineView> web) {
  // The first page of a run also waits for the engine to start, and a view
  // whose document is still being made has no address yet.
  auto pending = [&] { return web && web->page() && (web->page()->isLoading() || web->url().isEmpty()); };
  for (int i = 0; i < 300 && pending(); ++i) co_await orrery::pause(50);
  co_await orrery::pause(150);
  QImage last;
  for (int i = 0; i < 25 && web; ++i) {
    const QImage now = web->grab().toImage();
    if (!now.isNull() && now == last) co_return;
    last = now;
    co_await orrery::pause(60);
  }
}

} // namespace

namespace {

// The part of `w` that its ancestors up to `window` leave visible, in the
// window's coordinates.
QRect visibleInWindow(QWidget* w, QWidget* window) {
  QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
  for (QWidget* a = w->parentWidget(); a && a != window; a = a->parentWidget())
    r &= QRect(a->mapTo(window, QPoint(0, 0)), a->size());
  return r & window->rect();
}

// Draws again, inside `area`, every widget the window stacks above `web`:
// a later sibling of the web view or of one of its ancestors is painted
// after it, so on screen it covers the page (toasts, popovers, overlays).
void drawAbove(QPainter& p, QWidget* window, QWidget* web, const QRect& area) {
  for (QWidget* child = web; child && child != window; child = child->parentWidget()) {
    QWidget* parent = child->parentWidget();
    if (!parent) break;
    const QObjectList& siblings = parent->children();
    for (qsizetype i = siblings.indexOf(child) + 1; i < siblings.size(); ++i) {
      auto* w = qobject_cast<QWidget*>(siblings[i]);
      if (!w || w->isWindow() || !w->isVisible()) continue;
      const QRect shown = visibleInWindow(w, window) & area;
      if (shown.isEmpty()) continue;
      const QPoint at = w->mapTo(window, QPoint(0, 0));
      // Without the window background: a translucent overlay stays so.
      w->render(&p, at, QRegion(shown.translated(-at)), QWidget::DrawChildren);
    }
  }
}

} // namespace

namespace {

// Each web view's live page in its place over the window's pixels, and what
// the window stacks above a page over that; `p` draws in the window's
// coordinates.
void paintPages(QPainter& p, QWidget* window, int pageMaxAgeMs) {
  const QList<QWebEngineView*> webs = shownWebViews(window);
  if (webs.isEmpty()) return;
  struct Kept {
    QPointer<QWebEngineView> web;
    QUrl url;
    QSize size;
    QElapsedTimer age;
    QPixmap pixels;
  };
  static std::vector<Kept> kept;
  std::erase_if(kept, [](const Kept& k) { return !k.web; });
  for (QWebEngineView* web : webs) {
    auto it = std::find_if(kept.begin(), kept.end(), [&](const Kept& k) { return k.web == web; });
    const bool fresh = it != kept.end() && pageMaxAgeMs > 0 && it->url == web->url() && it->size == web->size() &&
                       it->age.isValid() && it->age.elapsed() < pageMaxAgeMs;
    if (!fresh) {
      if (it == kept.end()) it = kept.insert(kept.end(), Kept{web, {}, {}, {}, {}});
      it->pixels = web->grab();
      it->url = web->url();
      it->size = web->size();
      it->age.start();
    }
    const QRect area = visibleInWindow(web, window);
    if (area.isEmpty()) continue;
    const QPoint at = web->mapTo(window, QPoint(0, 0));
    p.save();
    p.setClipRect(area);
    p.drawPixmap(QRect(at, web->size()), it->pixels);
    p.restore();
    drawAbove(p, window, web, area);
  }
}

} // namespace

QImage Snapshotter::render(QWidget* window, int pageMaxAgeMs, Source source) {
  // The window's own pixels leave web views empty; each view's own grab is
  // its page's last composited frame, whatever covers the window on screen.
  QImage image = source == Source::screen ? orrery::DemoRecorder::screenPixels(window) : window->grab().toImage();
  if (image.isNull()) return image;
  QPainter p(&image);
  paintPages(p, window, pageMaxAgeMs);
  return image;
}

void Snapshotter::paintMovieFrame(QPainter& p, QWidget* window, const QRectF& target) {
  orrery::DemoRecorder::paintScreenPixels(p, window, target);
  if (window->width() <= 0 || window->height() <= 0) return;
  p.save();
  p.translate(target.topLeft());
  p.scale(target.width() / window->width(), target.height() / window->height());
  paintPages(p, window, 250);
  p.restore();
}

QImage Snapshotter::movieFrame(QWidget* window) {
  const qreal dpr = window->devicePixelRatioF();
  QImage image((QSizeF(window->size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  paintMovieFrame(p, window, QRectF(QPointF(0, 0), QSizeF(image.size())));
  p.end();
  image.setDevicePixelRatio(dpr);
  return image;
}

orrery::Task<> Snapshotter::capture(QWidget* window, QString name) {
  if (!window) co_return;
  const QPointer<QWidget> alive(window);
  for (QWebEngineView* web : shownWebViews(window)) {
    auto t = untilPainted(web);
    co_await t;
    if (!alive) co_return;
  }
  QScreen* screen = window->screen();
  std::fprintf(stderr, "snapshot %s window=%s theme=%s content=%s screen=%s\n", name.toUtf8().constData(),
               rectText(window->frameGeometry()).toUtf8().constData(),
               rectText(window->rect()).toUtf8().constData(),
               rectText(window->geometry()).toUtf8().constData(),
               rectText(screen ? screen->availableGeometry() : QRect()).toUtf8().constData());
  if (envPresent("BRINDLEBOX_SNAPSHOT_DEBUG")) dumpTree(window, 0);
  write(render(window), name);
}

QWidget* Snapshotter::openSheet() {
  QWidget* main = mainWindow();
  QWidget* any = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QDialog*>(w);
    if (!d || !d->isVisible()) continue;
    if (main && d->parentWidget() && d->parentWidget()->window() == main) return d;
    if (!any) any = d;
  }
  return any;
}

orrery::Task<> Snapshotter::shotSheet(QString name) {
  if (QWidget* sheet = openSheet()) {
    auto t = capture(sheet, name);
    co_await t;
  }
}

orrery::Task<> Snapshotter::settingsShots(AppStore& store) {
  static const std::pair<int, const char*> tabs[] = {{0, "general"}, {1, "accounts"}, {2, "about"}};
  for (const auto& [index, tabName] : tabs) {
    auto* view = new SettingsView(AppSheetStore::of(store));
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowTitle(QStringLiteral("Settings"));
    view->setObjectName(QStringLiteral("settings"));
    if (view->tabs() && index < view->tabs()->count()) view->tabs()->setCurrentIndex(index);
    view->show();
    view->raise();
    view->activateWindow();
    auto wait = pause(1.3);
    co_await wait;
    auto shot = capture(view, QStringLiteral("13-settings-") + QLatin1String(tabName));
    co_await shot;
    view->close();
  }
}

std::filesystem::path Snapshotter::fileFor(const QString& name) {
  return dir() / ((dark() ? QStringLiteral("dark-") : QString()) + name + QStringLiteral(".png")).toStdString();
}

bool Snapshotter::write(const QImage& image, const QString& name) {
  if (image.isNull()) return false;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return false;
  try {
    writeFileAtomically(fileFor(name), std::string_view(png.constData(), size_t(png.size())));
    return true;
  } catch (...) {
    return false;
  }
}

orrery::Task<> Snapshotter::pause(double seconds) {
  co_await orrery::pause(int(seconds * 1000 + 0.5));
}

} // namespace bx
