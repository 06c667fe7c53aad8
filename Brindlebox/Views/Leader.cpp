#include "Views/Leader.h"

#include "Theme/Theme.h"

#include <QPainter>

namespace bx {

Leader::Leader(QWidget* parent) : ThemedWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(kHeight);
}

void Leader::paintEvent(QPaintEvent*) {
  if (width() <= 0) return;
  QPainter p(this);
  QPen pen(Theme::ruleStrong.resolved(), 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
  pen.setDashPattern({1, 3});
  pen.setMiterLimit(10);
  p.setPen(pen);
  // Pixel row h − 3 (its centre at h − 2.5) so the dots stay crisp.
  const qreal y = height() - 3 + 0.5;
  p.drawLine(QPointF(0, y), QPointF(width(), y));
}

} // namespace bx
