#include "Views/Hairline.h"

#include <QEvent>
#include <QPainter>

namespace bx {

Hairline::Hairline(QWidget* host, Qt::Edge edge, const ThemeColor& color)
    : ThemedWidget(host), edge_(edge), color_(color) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  host->installEventFilter(this);
  follow();
  show();
  raise();
}

Hairline* hairline(QWidget* widget, Qt::Edge edge, const ThemeColor& color) {
  return new Hairline(widget, edge, color);
}

void Hairline::setColor(const ThemeColor& color) {
  color_ = color;
  update();
}

QRect Hairline::lineRect(const QSize& s, Qt::Edge edge) {
  switch (edge) {
  case Qt::TopEdge: return QRect(0, 0, s.width(), 1);
  case Qt::BottomEdge: return QRect(0, s.height() - 1, s.width(), 1);
  case Qt::LeftEdge: return QRect(0, 0, 1, s.height());
  case Qt::RightEdge: return QRect(s.width() - 1, 0, 1, s.height());
  }
  return {};
}

void Hairline::follow() {
  if (parentWidget()) setGeometry(lineRect(parentWidget()->size(), edge_));
}

bool Hairline::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget()) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show) follow();
    else if (event->type() == QEvent::ChildAdded || event->type() == QEvent::LayoutRequest) raise();
  }
  return ThemedWidget::eventFilter(watched, event);
}

void Hairline::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), color_.resolved());
}

} // namespace bx
