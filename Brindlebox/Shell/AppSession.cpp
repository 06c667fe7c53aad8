#include "Shell/AppSession.h"

#include "Orrery/Orrery.h"
#include "Shell/AppIcon.h"
#include "Shell/AppPalette.h"
#include "Shell/AppStoreShell.h"
#include "Shell/MainWindow.h"
#include "Shell/Wiring.h"
#include "Store/AppStore.h"

#include <QApplication>
#include <QColor>

namespace bx {

void AppSession::configureApplication() {
  QApplication::setApplicationName(QStringLiteral("Brindlebox"));
  QApplication::setOrganizationName(QStringLiteral("Brindlebox"));
  QApplication::setDesktopFileName(QStringLiteral("app.brindlebox.Brindlebox"));
  QApplication::setWindowIcon(appIcon());
  AppPalette::install();
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
  window_->show();
  orrery::Orrery::start({QColor(30, 60, 114), QColor(42, 157, 143)});
  Launch::Targets targets{[s = shell_.get()] { s->reloadArchive(); }, [s = shell_.get()] { s->startScheduler(); },
                          window_.get()};
  launch_ = Launch::run(targets);
}

} // namespace bx
