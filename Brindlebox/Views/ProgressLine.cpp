#include "Views/ProgressLine.h"

#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QPainter>
#include <QtMath>
#include <algorithm>

namespace bx {

namespace {
double clamp01(double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); }
} // namespace

ProgressLine::ProgressLine(double value, const ThemeColor& tint, qreal height, QWidget* parent)
    : ThemedWidget(parent), value_(value), tint_(tint), height_(height), shown_(clamp01(value)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(qCeil(height_));
  connect(&shown_, &AnimatedValue::changed, this, [this] { update(); });
}

Animation ProgressLine::valueAnimation() { return motion(Animation::spring(0.35, 1.0)); }

void ProgressLine::setValue(double value) {
  value_ = value;
  shown_.animateTo(clamp01(value), valueAnimation());
}

void ProgressLine::setTint(const ThemeColor& tint) {
  tint_ = tint;
  update();
}

qreal ProgressLine::barWidth(qreal trackWidth, double value, qreal height) {
  return std::max(trackWidth * clamp01(value), height);
}

QSize ProgressLine::sizeHint() const { return QSize(qCeil(height_) * 10, qCeil(height_)); }
QSize ProgressLine::minimumSizeHint() const { return QSize(qCeil(height_), qCeil(height_)); }

void ProgressLine::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF track(0, 0, width(), height_);
  p.fillPath(Shapes::capsule(track), Theme::rule.resolved());
  const qreal w = barWidth(width(), shown_.value(), height_);
  p.fillPath(Shapes::capsule(QRectF(0, 0, w, height_)), tint_.resolved());
}

} // namespace bx
