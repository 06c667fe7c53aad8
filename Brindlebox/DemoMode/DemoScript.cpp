#include "DemoMode/DemoMode.h"

#include "Browser/TimelineSpine.h"
#include "Demo/DemoRecorder.h"
#include "DemoMode/DemoTyping.h"
#include "DemoMode/Snapshotter.h"
#include "Platform/Appearance.h"
#include "Platform/PlatformText.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Store/AppStore.h"
#include "Store/CleanupModel.h"

#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QLayout>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdio>
#include <memory>

namespace bx {

namespace {

QSet<QWidget*>& activeWindows() {
  static QSet<QWidget*> set;
  return set;
}

QString rectText(const QRectF& r) {
  auto n = [](double v) { return QString::number(v, 'f', 1); };
  return QStringLiteral("(%1, %2, %3, %4)").arg(n(r.x()), n(r.y()), n(r.width()), n(r.height()));
}

// The sheet attached to the window, if one is open.
QWidget* attachedSheet(QWidget* window) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QDialog*>(w);
    if (d && d->isVisible() && d->parentWidget() && d->parentWidget()->window() == window) return d;
  }
  return nullptr;
}

const MessageRecord* firstWithPrefix(AppStore& store, const char* prefix) {
  for (const MessageRecord* r : store.visible())
    if (QString::fromStdString(r->subject).startsWith(QLatin1String(prefix))) return r;
  return store.visible().empty() ? nullptr : store.visible().front();
}

void open(AppStore& store, const MessageRecord* r) {
  store.setSelectedPath(r ? std::optional<QString>(QString::fromStdString(r->path)) : std::nullopt);
}

void leave(int status) {
  std::fflush(stdout);
  QCoreApplication::exit(status);
}

// The recorder's operations hold their text by reference while they run;
// these keep a copy alive for as long.
orrery::Task<> clickOn(orrery::DemoRecorder& rec, QString anchor, double duration) {
  auto t = rec.click(anchor, duration);
  co_await t;
}

orrery::Task<> moveOn(orrery::DemoRecorder& rec, QString anchor, double duration) {
  auto t = rec.moveToAnchor(anchor, duration);
  co_await t;
}

} // namespace

// The spine drag: the cursor travels down the spine while the list follows.
// Points go through the window, from the layout and frame the spine last
// kept, so the cursor aims where the spine was drawn, not where a later
// layout might put it.
orrery::Task<> DemoMode::scrubSpine(orrery::DemoRecorder& rec, QWidget* window, std::optional<MonthKey> from,
                                    MonthKey to, double duration) {
  if (!AppStore::shared()) co_return;
  AppStore& store = *AppStore::shared();
  const QPointer<QWidget> alive(window);
  auto* spine = window ? window->findChild<TimelineSpine*>() : nullptr;
  if (!spine) co_return;
  const SpineGeometry g = spine->geometryNow();
  const QRectF f = QRectF(spine->frameInWindow());
  if (g.isEmpty()) co_return;
  auto rowTop = [&](int index) -> std::optional<double> {
    if (g.hasPosition(index)) return g.top(index);
    // A month outside the laid-out range: the laid-out month nearest by
    // month index, the newer one on a tie.
    int best = -1;
    for (int row = 0; row < g.monthCount(); ++row)
      if (best < 0 || std::abs(g.monthAt(row) - index) < std::abs(g.monthAt(best) - index)) best = row;
    if (best < 0 || !g.hasPosition(g.monthAt(best))) return std::nullopt;
    return g.top(g.monthAt(best));
  };
  auto screenPoint = [&](const MonthKey& m) -> std::optional<QPointF> {
    const auto top = rowTop(m.index());
    if (!top) return std::nullopt;
    const QPointF inWindow(f.x() + TimelineSpine::labelWidth + 14, f.y() + *top + g.rowHeight / 2);
    return window->mapToGlobal(inWindow);
  };
  MonthKey start;
  if (from) {
    const auto p = screenPoint(*from);
    if (p) {
      auto m = rec.move(*p, 0.7);
      co_await m;
      store.timeline().setProbe(*from);
      auto w = rec.wait(0.3);
      co_await w;
      rec.recordClick();
    }
    start = *from;
  } else {
    if (!store.timeline().currentMonth()) co_return;
    start = *store.timeline().currentMonth();
  }
  const auto a = screenPoint(start), b = screenPoint(to);
  if (!a || !b) co_return;
  const int steps = std::max(int(duration * 16), 8);
  for (int i = 1; i <= steps; ++i) {
    const double t = double(i) / steps;
    const double e = t < 0.5 ? 2 * t * t : 1 - (2 - 2 * t) * (2 - 2 * t) / 2;
    const QPointF p(a->x(), a->y() + e * (b->y() - a->y()));
    auto m = rec.move(p, duration / steps);
    co_await m;
    if (!alive) co_return;
    const double y = window->mapFromGlobal(p).y() - f.y();
    int index = 0;
    if (!g.month(y, &index)) co_return;
    const MonthKey month = MonthKey::fromIndex(index);
    store.timeline().setProbe(month);
    if (!store.timeline().currentMonth() || !(*store.timeline().currentMonth() == month)) store.scrub(month);
  }
}

QRectF DemoMode::demoFrame(const QRectF& v) {
  const double width = std::min(v.width() - 48, 1600.0);
  const double height = std::min(v.height() - 32, 1000.0);
  const double x = std::round(v.center().x() - width / 2);
  const double y = std::round(v.center().y() - height / 2);
  return QRectF(x, y, width, height);
}

void DemoMode::refreshAnchors(QWidget* window) {
  if (!window) return;
  std::function<void(QWidget*)> walk = [&](QWidget* w) {
    if (w->layout()) w->layout()->activate();
    for (QObject* o : w->children())
      if (auto* c = qobject_cast<QWidget*>(o)) walk(c);
  };
  walk(window);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

void DemoMode::drawAsActive(QWidget* window) {
  if (!window || activeWindows().contains(window)) return;
  activeWindows().insert(window);
  // Inactive windows draw with the Inactive group; give it the Active colours.
  QPalette pal = window->palette();
  for (int role = 0; role < QPalette::NColorRoles; ++role) {
    const auto r = QPalette::ColorRole(role);
    pal.setColor(QPalette::Inactive, r, pal.color(QPalette::Active, r));
  }
  window->setPalette(pal);
  window->update();
  const QString title = window->windowTitle().isEmpty() ? QStringLiteral("sheet") : window->windowTitle();
  std::printf("demo: drawing %s as active (app not frontmost)\n", title.toUtf8().constData());
}

orrery::Task<> DemoMode::run() {
  if (!qEnvironmentVariableIsSet("BRINDLEBOX_DEMO_DIR")) co_return;
  const QString folder = qEnvironmentVariable("BRINDLEBOX_DEMO_DIR");
  // The recording never hands control back: the mode lasts until the exit.
  DemoTyping::setScriptRunning(true);
  AppStore* storePtr = AppStore::shared();
  if (!storePtr) { leave(1); co_return; }
  AppStore& store = *storePtr;
  Appearance::shared().setOverride(ColorScheme::Light);

  for (int i = 0; i < 150; ++i) {
    auto p = orrery::pause(200);
    co_await p;
    if (!store.indexing() && !store.records().empty() && Snapshotter::mainWindow()) break;
  }
  QPointer<QWidget> window = Snapshotter::mainWindow();
  if (!window) { leave(1); co_return; }
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) { leave(1); co_return; }
  const QRectF frame = demoFrame(QRectF(screen->availableGeometry()));
  window->setGeometry(frame.toRect());
  window->raise();
  window->activateWindow();
  for (int i = 0; i < 20; ++i) {
    if (window->isActiveWindow()) break;
    window->activateWindow();
    window->raise();
    auto p = orrery::pause(100);
    co_await p;
  }
  if (!window->isActiveWindow()) drawAsActive(window);

  auto* keep = new QTimer(window);
  keep->setInterval(200);
  QObject::connect(keep, &QTimer::timeout, window, [window, frame] {
    if (!window) return;
    if (!window->isActiveWindow() && !attachedSheet(window)) {
      window->activateWindow();
      window->raise();
    }
    if (window->geometry() != frame.toRect()) window->setGeometry(frame.toRect());
  });
  keep->start();

  store.setSidebar(SidebarItem::makeAll());
  store.refreshVisible();
  open(store, firstWithPrefix(store, "Lisbon"));
  {
    auto p = orrery::pause(1500);
    co_await p;
  }
  std::printf("demo window %s visible %s active=%s key=%s\n", rectText(QRectF(window->geometry())).toUtf8().constData(),
              rectText(QRectF(screen->availableGeometry())).toUtf8().constData(),
              QGuiApplication::applicationState() == Qt::ApplicationActive ? "true" : "false",
              window->isActiveWindow() ? "true" : "false");
  std::fflush(stdout);

  std::unique_ptr<orrery::DemoRecorder> rec;
  try {
    rec = std::make_unique<orrery::DemoRecorder>(folder, QRectF(window->geometry()), 30,
                                                 QList<QColor>{QColor::fromRgbF(0.95, 0.95, 0.95), QColor::fromRgbF(0.88, 0.88, 0.88)});
  } catch (const std::exception& e) {
    std::printf("demo failed: %s\n", e.what());
    { leave(1); co_return; }
  }
  rec->start();
  auto W = [&rec](double s) { return rec->wait(s); };
  { auto t = W(0.6); co_await t; }

  // Scene 1: fifteen years on the timeline.
  rec->caption(QStringLiteral("Fifteen years of mail, one vault"));
  {
    std::optional<MonthKey> newest;
    int oldestYear = 2012;
    if (!store.groups().empty()) {
      newest = store.groups().front().key;
      oldestYear = store.groups().back().key.year;
    }
    auto t = scrubSpine(*rec, window, newest, MonthKey(oldestYear + 1, 6), 1.8);
    co_await t;
  }
  { auto t = W(0.4); co_await t; }
  {
    auto t = scrubSpine(*rec, window, std::nullopt, MonthKey(QDate::currentDate().year() - 7, 6), 1.0);
    co_await t;
  }
  store.timeline().setProbe(std::nullopt);
  { auto t = W(0.4); co_await t; }

  // Scene 2: a verified copy.
  {
    const MessageRecord* pick = nullptr;
    if (const auto month = store.timeline().currentMonth())
      for (const MonthGroup& g : store.groups())
        if (g.key == *month) {
          for (const MessageRecord* r : g.records)
            if (r->trackers == 0 && !r->isSuspicious()) {
              pick = r;
              break;
            }
          if (!pick && !g.records.empty()) pick = g.records.front();
          break;
        }
    if (pick) {
      const QString path = QString::fromStdString(pick->path);
      refreshAnchors(window);
      { auto t = clickOn(*rec, QStringLiteral("msg-") + path, 0.7); co_await t; }
      store.setSelectedPath(path);
      { auto t = W(1.0); co_await t; }
    } else {
      auto t = W(1.0);
      co_await t;
    }
  }
  rec->caption(QStringLiteral("Every copy verified, byte for byte"));
  refreshAnchors(window);
  { auto t = moveOn(*rec, QStringLiteral("verifiedSeal"), 0.8); co_await t; }
  { auto t = W(1.8); co_await t; }

  // Scene 3: safety checks.
  rec->caption(QStringLiteral("Trackers and look-alikes, caught"));
  refreshAnchors(window);
  { auto t = clickOn(*rec, QStringLiteral("smart-suspicious"), 0.7); co_await t; }
  store.setSidebar(SidebarItem::makeSmart(SmartFilter::suspicious));
  store.refreshVisible();
  { auto t = W(0.6); co_await t; }
  if (store.visible().empty()) {
    rec->caption(QStringLiteral("Free space only after verifying"));
  } else {
    const MessageRecord* phish = firstWithPrefix(store, "Action required");
    const QString path = QString::fromStdString(phish->path);
    refreshAnchors(window);
    { auto t = clickOn(*rec, QStringLiteral("msg-") + path, 0.5); co_await t; }
    store.setSelectedPath(path);
    { auto t = W(1.0); co_await t; }
    refreshAnchors(window);
    { auto t = clickOn(*rec, QStringLiteral("bannerAction"), 0.7); co_await t; }
    demoShowLinks();
    { auto t = W(1.6); co_await t; }
    rec->caption(QStringLiteral("Free space only after verifying"));
  }

  // Scene 4: freeing space safely.
  refreshAnchors(window);
  { auto t = clickOn(*rec, QStringLiteral("freeUpToolbar"), 0.6); co_await t; }
  FreeUpSpaceSheet::initialYears = 5;
  store.setShowFreeUp(true);
  { auto t = W(0.8); co_await t; }
  auto refreshSheet = [&window] {
    if (QWidget* sheet = window ? attachedSheet(window) : nullptr) refreshAnchors(sheet);
  };
  if (QWidget* sheet = attachedSheet(window)) {
    drawAsActive(sheet);
    refreshAnchors(sheet);
  }
  { auto t = clickOn(*rec, QStringLiteral("verifyCopies"), 0.5); co_await t; }
  { auto t = runDemoCleanup(store); co_await t; }
  { auto t = W(0.7); co_await t; }
  refreshSheet();
  { auto t = clickOn(*rec, QStringLiteral("continueRelease"), 0.5); co_await t; }
  store.cleanup().setStage(CleanupStage::release);
  { auto t = W(0.5); co_await t; }
  refreshSheet();
  { auto t = clickOn(*rec, QStringLiteral("confirmField"), 0.45); co_await t; }
  {
    const int n = store.cleanup().plan() ? int(store.cleanup().plan()->verified().size()) : 0;
    // The recorder keeps a reference to the text while it types.
    const QString phrase = QStringLiteral("RELEASE %1").arg(n);
    auto t = rec->type(phrase, [](const QString& s) { DemoTyping::shared().setText(s); }, 0.05);
    co_await t;
  }
  { auto t = W(0.4); co_await t; }
  refreshSheet();
  { auto t = clickOn(*rec, QStringLiteral("releaseButton"), 0.45); co_await t; }
  { auto t = demoRelease(store); co_await t; }
  { auto t = W(1.5); co_await t; }

  // Scene 5: closing.
  rec->caption(PlatformText::localize(QStringLiteral("Your mail, kept on your Mac")));
  store.setShowFreeUp(false);
  { auto t = W(0.6); co_await t; }
  store.setSidebar(SidebarItem::makeAll());
  store.refreshVisible();
  { auto t = W(1.8); co_await t; }

  bool ok = true;
  QString error;
  try {
    const QString name = QStringLiteral("Brindlebox demo");
    auto t = rec->finish(name);
    co_await t;
  } catch (const orrery::DemoRecorder::Failure& f) {
    ok = false;
    error = f.message;
  } catch (const std::exception& e) {
    ok = false;
    error = QString::fromUtf8(e.what());
  }
  if (!ok) {
    std::printf("demo failed: %s\n", error.toUtf8().constData());
    { leave(1); co_return; }
  }
  std::fprintf(stderr, "demo frames written %d dropped %d over %.2f s (%.0f at 30 fps)\n", rec->framesWritten(),
               rec->droppedFrames(), rec->elapsed(), rec->elapsed() * 30);
  QCoreApplication::exit(0);
}

} // namespace bx
