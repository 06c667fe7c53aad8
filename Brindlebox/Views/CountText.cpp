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
  paintRoll(p, QPointF(0, QFontMetricsF(textFont()).ascent()), previous_, text(), roll_.value(), down_);
}

void CountText::paintRoll(QPainter& p, QPointF origin, const QString& from, const QString& to, qreal t, bool down,
                          bool alignRight) {
  const QFontMetricsF fm(p.font());
  const bool still = ReduceMotion::isOn();
  const qreal travel = still ? 0 : fm.height() * 0.6 * (down ? -1 : 1);
  const qreal opacity = p.opacity();
  const qreal wide = std::max(fm.horizontalAdvance(from), fm.horizontalAdvance(to));
  auto draw = [&](const QString& s, qreal x, qreal dy, qreal o) {
    p.setOpacity(opacity * std::clamp(o, 0.0, 1.0));
    p.drawText(QPointF(x, origin.y() + dy), s);
  };
  auto start = [&](const QString& s) { return origin.x() + (alignRight ? wide - fm.horizontalAdvance(s) : 0); };
  if (to.size() != from.size()) {
    draw(from, start(from), -travel * t, 1 - t);
    draw(to, start(to), travel * (1 - t), t);
  } else {
    qreal x = start(to);
    for (qsizetype i = 0; i < to.size(); ++i) {
      const QString a = from.mid(i, 1), b = to.mid(i, 1);
      if (a == b) {
        draw(b, x, 0, 1);
      } else {
        draw(a, x, -travel * t, 1 - t);
        draw(b, x, travel * (1 - t), t);
      }
      x += fm.horizontalAdvance(b);
    }
  }
  p.setOpacity(opacity);
}

} // namespace bx
