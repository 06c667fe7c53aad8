#include "Shell/AppSession.h"

#include "Demo/DemoAnchors.h"
#include "Orrery/Orrery.h"
#include "Platform/PlatformText.h"
#include "Updater/Bundle.h"
#include "Shell/AppIcon.h"
#include "Shell/AppPalette.h"
#include "Shell/AppStoreShell.h"
#include "Shell/MainWindow.h"
#include "Shell/Quitting.h"
#include "Shell/TerminationSignals.h"
#include "Shell/Wiring.h"
#include "Store/AppStore.h"

#include "Util/AtomicFile.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>

#include <sys/stat.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace bx {
namespace {

// Calls back once, on the turn of the event loop after the watched window's
// first paint (or when fired directly), then goes.
class FirstFrameWatch : public QObject {
public:
  FirstFrameWatch(QWidget* window, std::function<void()> then) : QObject(window), then_(std::move(then)) {
    window->installEventFilter(this);
  }
  void fire() {
    if (fired_) return;
    fired_ = true;
    QTimer::singleShot(0, parent(), then_);
    deleteLater();
  }

protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) fire();
    return false;
  }

private:
  std::function<void()> then_;
  bool fired_ = false;
};

} // namespace

void AppSession::configureApplication() {
#ifdef __GLIBC__
  // Every pool thread that allocates under contention gets an arena of its
  // own, and an arena keeps much of what was freed in it: scans and message
  // opens on changing pool threads would raise resident memory run by run.
  mallopt(M_ARENA_MAX, 2);
#endif
  QApplication::setApplicationName(QStringLiteral("Brindlebox"));
  QApplication::setOrganizationName(QStringLiteral("Brindlebox"));
  QApplication::setDesktopFileName(QStringLiteral("app.brindlebox.Brindlebox"));
  QApplication::setWindowIcon(appIcon());
  // The version of this copy as its app-info names it (the About tab shows
  // it): the number the updater compares, and the new one once an update
  // has installed.
  if (const auto version = orrery::Bundle::main().shortVersion()) QApplication::setApplicationVersion(*version);
  orrery::Orrery::setLocalizer([](const QString& text) { return PlatformText::localize(text); });
  TerminationSignals::install([] { Quitting::begin(); });
  AppPalette::install();
  makeOwnFoldersPrivate();
}

void AppSession::makeOwnFoldersPrivate() {
  for (const auto location :
       {QStandardPaths::AppDataLocation, QStandardPaths::CacheLocation, QStandardPaths::AppConfigLocation}) {
    const QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty()) continue;
    const QByteArray local = QFile::encodeName(path);
    try {
      createPrivateDirectories(std::filesystem::path(local.toStdString()));
    } catch (const std::exception&) {
      continue;  // nothing can be written there either
    }
    // A folder an earlier run left open is this application's own: closed.
    ::chmod(local.constData(), 0700);
  }
}

AppSession::AppSession() {
  store_ = std::make_unique<AppStore>();
  AppStore::setShared(store_.get());
  shell_ = std::make_unique<AppStoreShell>(*store_);
  Wiring::install();
  window_ = std::make_unique<MainWindow>(*shell_);
  shell_->setWindow(window_.get());
}

AppSession::~AppSession() {
  // Work is told to stop while the store and the window still exist; the
  // store joins what it runs when it goes, after the window.
  shell_->shutDown();
  launch_ = {};
  window_.reset();
  shell_.reset();
  AppStore::setShared(nullptr);
  store_.reset();
}

void AppSession::start() {
  orrery::DemoAnchors::shared().watchProperties();
  window_->show();
  orrery::Orrery::start({QColor(30, 60, 114), QColor(42, 157, 143)});
  // The launch (which loads the vault's index) waits for the window's first
  // frame, so the window never waits for the vault; a window that is not
  // painted soon (hidden, minimised) does not hold the launch back long.
  auto* firstFrame = new FirstFrameWatch(window_.get(), [this] { launch(); });
  QTimer::singleShot(500, firstFrame, [firstFrame] { firstFrame->fire(); });
}

void AppSession::launch() {
  if (launched_) return;
  launched_ = true;
  Launch::Targets targets{[s = shell_.get()] { s->reloadArchive(); }, [s = shell_.get()] { s->startScheduler(); },
                          window_.get()};
  launch_ = Launch::run(targets);
}

} // namespace bx
