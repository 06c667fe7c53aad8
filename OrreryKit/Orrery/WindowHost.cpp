#include "WindowHost.h"

#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

namespace orrery::WindowHost {
namespace {

QHash<QString, QPointer<QWidget>>& windows() {
  static QHash<QString, QPointer<QWidget>> table;
  return table;
}

void bringForward(QWidget* w) {
  w->show();
  w->raise();
  w->activateWindow();
}

} // namespace

void show(const QString& id, const QString& title, int width, const std::function<QWidget*()>& content) {
  auto& table = windows();
  if (QWidget* existing = table.value(id); existing && existing->isVisible()) {
    bringForward(existing);
    return;
  }
  auto* window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                          Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
  window->setWindowTitle(title);
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  // The window takes the content's height at the fixed width and follows it
  // when the content grows or shrinks.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  QWidget* body = content();
  body->setFixedWidth(width);
  layout->addWidget(body);
  window->adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
  }
  if (QWidget* old = table.value(id)) old->deleteLater();
  table.insert(id, window);
  bringForward(window);
}

void close(const QString& id) {
  if (QWidget* w = windows().value(id)) w->close();
}

QWidget* window(const QString& id) { return windows().value(id); }

} // namespace orrery::WindowHost
