#include "Views/CountText.h"

#include "Platform/ReduceMotion.h"

#include <QFontMetricsF>
#include <QPainter>

namespace bx {

CountText::CountText(const Animation& animation, QWidget* parent)
    : TextBlock(QString(), parent), animation_(animation), roll_(1) {
  setMaxLines(1);
  connect(&roll_, &AnimatedValue::changed, this, [this] { update(); });
}

void CountText::setCount(const QString& text, bool countsDown) {
  if (text == this->text()) return;
  previous_ = this->text();
  down_ = countsDown;
  setText(text);
  // Nothing rolls in from an empty text or on a widget nobody sees.
  if (previous_.isEmpty() || !isVisible()) {
    roll_.setValue(1);
    return;
  }
  roll_.setValue(0);
  roll_.animateTo(1, motion(animation_));
}

void CountText::paintEvent(QPaintEvent* e) {
  if (!isRolling()) {
    TextBlock::paintEvent(e);
    return;
  }
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(textFont());
  p.setPen(color().resolved());
  const QFontMetricsF fm(textFont());
  const qreal t = roll_.value();
  const bool still = ReduceMotion::isOn();
  const qreal travel = still ? 0 : fm.height() * 0.6 * (down_ ? -1 : 1);
  const qreal base = fm.ascent();
  const QString now = text();
  auto draw = [&](const QString& s, qreal x, qreal dy, qreal opacity) {
    p.setOpacity(std::clamp(opacity, 0.0, 1.0));
    p.drawText(QPointF(x, base + dy), s);
  };
  if (now.size() != previous_.size()) {
    draw(previous_, 0, -travel * t, 1 - t);
    draw(now, 0, travel * (1 - t), t);
    return;
  }
  qreal x = 0;
  for (qsizetype i = 0; i < now.size(); ++i) {
    const QString a = previous_.mid(i, 1), b = now.mid(i, 1);
    if (a == b) {
      draw(b, x, 0, 1);
    } else {
      draw(a, x, -travel * t, 1 - t);
      draw(b, x, travel * (1 - t), t);
    }
    x += fm.horizontalAdvance(b);
  }
}

} // namespace bx
