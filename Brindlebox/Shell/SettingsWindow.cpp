#include "Shell/SettingsWindow.h"

#include "Shell/ShellStore.h"
#include "Theme/Theme.h"

#include <QPointer>
#include <QShortcut>
#include <QVBoxLayout>

namespace bx {
namespace {
QPointer<SettingsWindow> shown;
}

SettingsWindow::SettingsWindow(ShellStore& store) : QWidget(nullptr, Qt::Window) {
  setObjectName(QStringLiteral("settings"));
  setWindowTitle(QStringLiteral("Settings"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  AppStore* app = store.store();
  QWidget* content = app && Seams::settings() ? Seams::settings()(*app, this) : Seams::placeholder(QStringLiteral("Settings"), this);
  v->addWidget(content);
  if (!app || !Seams::settings()) resize(560, 420);
  // Escape and the desktop's close key put the window away, as in any
  // other settings window.
  // (Ctrl+W as well where the platform's close key is another one.)
  for (const QKeySequence& key : {QKeySequence(QKeySequence::Cancel), QKeySequence(QKeySequence::Close),
                                  QKeySequence(Qt::CTRL | Qt::Key_W)})
    connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);
}

SettingsWindow* SettingsWindow::open(ShellStore& store) {
  if (!shown) shown = new SettingsWindow(store);
  shown->show();
  shown->raise();
  shown->activateWindow();
  return shown;
}

SettingsWindow* SettingsWindow::current() { return shown; }

} // namespace bx
