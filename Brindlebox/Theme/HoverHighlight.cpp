#include "Theme/HoverHighlight.h"

#include "Platform/ReduceMotion.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

namespace bx {

namespace {
constexpr qreal kBackground = 0.05;
constexpr qreal kLiftScale = 1.015;
constexpr qreal kShadow = 0.1;
constexpr qreal kShadowRadius = 8;
constexpr QPointF kShadowOffset(0, 3);
} // namespace

HoverHighlight::HoverHighlight(qreal cornerRadius, bool lift, QObject* parent)
    : QGraphicsEffect(parent), cornerRadius_(cornerRadius), lift_(lift) {
  connect(&progress_, &AnimatedValue::changed, this, [this] { update(); });
  connect(&ReduceMotion::shared(), &ReduceMotion::changed, this, [this] { update(); });
  connect(&Appearance::shared(), &Appearance::changed, this, [this] { update(); });
}

HoverHighlight* HoverHighlight::apply(QWidget* widget, qreal cornerRadius, bool lift) {
  auto* h = new HoverHighlight(cornerRadius, lift, widget);
  widget->setGraphicsEffect(h);
  widget->installEventFilter(h);
  return h;
}

void HoverHighlight::setHover(bool hover) {
  if (hover_ == hover) return;
  hover_ = hover;
  progress_.animateTo(hover ? 1 : 0, Animation::easeOut(0.15));
}

qreal HoverHighlight::backgroundOpacity() const { return hover_ ? kBackground : 0; }
qreal HoverHighlight::scale() const { return (lift_ && hover_ && !ReduceMotion::isOn()) ? kLiftScale : 1.0; }
qreal HoverHighlight::shadowOpacity() const { return (lift_ && hover_) ? kShadow : 0; }

bool HoverHighlight::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent()) {
    if (event->type() == QEvent::Enter) setHover(true);
    else if (event->type() == QEvent::Leave) setHover(false);
  }
  return QGraphicsEffect::eventFilter(watched, event);
}

QRectF HoverHighlight::boundingRectFor(const QRectF& rect) const {
  // Room for the shadow and for the lift.
  const qreal grow = std::max(rect.width(), rect.height()) * (kLiftScale - 1) / 2;
  const qreal m = kShadowRadius * 1.5 + kShadowOffset.y() + grow + 2;
  return rect.adjusted(-m, -m, m, m);
}

void HoverHighlight::draw(QPainter* painter) {
  const qreal t = progress_.value();
  if (t <= 0) {
    drawSource(painter);
    return;
  }
  QPoint offset;
  const QPixmap src = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
  if (src.isNull()) return;
  const qreal dpr = src.devicePixelRatioF();
  const QRectF rect(offset, QSizeF(src.size()) / dpr);

  // Background and content as one layer, so the lift scales both.
  QImage layer(src.size(), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  layer.setDevicePixelRatio(dpr);
  {
    QPainter lp(&layer);
    lp.setRenderHint(QPainter::Antialiasing);
    lp.fillPath(Shapes::roundedRect(QRectF(QPointF(0, 0), rect.size()), cornerRadius_),
                Theme::primary.opacity(kBackground * t).resolved());
    lp.drawPixmap(QPointF(0, 0), src);
  }

  const bool lifting = lift_ && !ReduceMotion::isOn();
  const qreal s = lifting ? 1 + (kLiftScale - 1) * t : 1.0;
  painter->save();
  painter->setRenderHint(QPainter::SmoothPixmapTransform);
  const QPointF c = rect.center();
  painter->translate(c);
  painter->scale(s, s);
  painter->translate(-c);
  if (lift_) {
    QColor shadow(Qt::black);
    shadow.setAlphaF(float(kShadow * t));
    Shapes::drawShadow(*painter, layer, rect.topLeft(), shadow, kShadowRadius, kShadowOffset);
  }
  painter->drawImage(rect.topLeft(), layer);
  painter->restore();
}

} // namespace bx
