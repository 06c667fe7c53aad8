#include "Shell/MainWindow.h"

#include "Shell/BrindleboxCommands.h"
#include "Shell/Quitting.h"
#include "Shell/RootView.h"
#include "Shell/SettingsWindow.h"
#include "Theme/Theme.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>

namespace bx {

MainWindow::MainWindow(ShellStore& store, QWidget* parent) : QMainWindow(parent), store_(store) {
  setObjectName(QStringLiteral("main"));
  setWindowTitle(QStringLiteral("Brindlebox"));
  setMinimumSize(kMinimumSize);
  resize(kDefaultSize);
  setUnifiedTitleAndToolBarOnMac(true);
  root_ = new RootView(store, this);
  setCentralWidget(root_);
  BrindleboxCommands::Hooks hooks;
  hooks.openSettings = [this] { SettingsWindow::open(store_); };
  hooks.quit = [] { MainWindow::quit(); };
  commands_ = new BrindleboxCommands(store, this, std::move(hooks));
}

void MainWindow::quit() { Quitting::begin(); }

void MainWindow::closeEvent(QCloseEvent* e) {
  QMainWindow::closeEvent(e);
  if (e->isAccepted()) quit();
}

} // namespace bx
