#include "WindowHost.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>
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

// Kit windows move when dragged by their background, as their content runs
// edge to edge.
class DragByBackground : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      auto* w = static_cast<QWidget*>(watched);
      if (QWindow* handle = w->window()->windowHandle(); handle && w->childAt(static_cast<QMouseEvent*>(event)->position().toPoint()) == nullptr)
        return handle->startSystemMove();
    }
    return false;
  }
};

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
  body->installEventFilter(new DragByBackground(window));
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
