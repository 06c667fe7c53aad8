#include "Views/VaultButton.h"

#include "Platform/ReduceMotion.h"
#include "Theme/Icons.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QtMath>

namespace bx {

namespace {
const Animation kPressAnimation = Animation::spring(0.16, 0.85);
const Animation kHoverAnimation = Animation::easeOut(0.12);
constexpr qreal kSymbolSpacing = 6;

qreal lerp(qreal a, qreal b, qreal t) { return a + (b - a) * t; }
} // namespace

VaultButton::VaultButton(const QString& text, VaultButtonStyle style, QWidget* parent)
    : QAbstractButton(parent), style_(style) {
  setText(text);
  setFont(style_.font());
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setCursor(Qt::ArrowCursor);
  setFocusPolicy(Qt::TabFocus);
  connect(&press_, &AnimatedValue::changed, this, [this] { update(); });
  connect(&hoverT_, &AnimatedValue::changed, this, [this] { update(); });
  connect(this, &QAbstractButton::pressed, this, &VaultButton::syncPressed);
  connect(this, &QAbstractButton::released, this, &VaultButton::syncPressed);
  connect(&Appearance::shared(), &Appearance::changed, this, [this] { update(); });
  connect(&ReduceMotion::shared(), &ReduceMotion::changed, this, [this] { update(); });
}

void VaultButton::setButtonStyle(VaultButtonStyle style) {
  style_ = style;
  setFont(style_.font());
  updateGeometry();
  update();
}

void VaultButton::setSymbol(const QString& symbol, qreal fontPixels) {
  symbol_ = symbol;
  symbolPixels_ = fontPixels;
  updateGeometry();
  update();
}

void VaultButton::setHovered(bool hover) {
  if (hover_ == hover) return;
  hover_ = hover;
  hoverT_.animateTo(hover ? 1 : 0, kHoverAnimation);
  update();
}

void VaultButton::enterEvent(QEnterEvent* e) {
  setHovered(true);
  QAbstractButton::enterEvent(e);
}

void VaultButton::leaveEvent(QEvent* e) {
  setHovered(false);
  QAbstractButton::leaveEvent(e);
}

void VaultButton::syncPressed() {
  const bool down = isDown() && isEnabled();
  if (down == shownDown_) return;
  shownDown_ = down;
  press_.animateTo(down ? 1 : 0, kPressAnimation);
}

VaultButtonStyle::State VaultButton::state() const {
  VaultButtonStyle::State s;
  s.pressed = isDown();
  s.hover = hover_;
  s.enabled = isEnabled();
  s.reduceMotion = ReduceMotion::isOn();
  s.scheme = Appearance::shared().scheme();
  return s;
}

VaultButtonStyle::Look VaultButton::lookWhen(bool pressed) const {
  VaultButtonStyle::State s = state();
  s.pressed = pressed;
  return style_.look(s);
}

// The press animation runs between the table's up and down looks.
qreal VaultButton::currentOpacity() const {
  return lerp(lookWhen(false).opacity, lookWhen(true).opacity, press_.value());
}

qreal VaultButton::currentScale() const { return lerp(lookWhen(false).scale, lookWhen(true).scale, press_.value()); }

qreal VaultButton::currentHoverTint() const {
  VaultButtonStyle::State hovered = state();
  hovered.hover = true;
  return isEnabled() ? style_.look(hovered).hoverTint * hoverT_.value() : 0.0;
}

QSize VaultButton::sizeHint() const {
  QFontMetricsF fm(style_.font());
  qreal w = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
  qreal h = fm.height();
  if (!symbol_.isEmpty()) {
    const qreal side = Icons::boxSize(symbolPixels_ > 0 ? symbolPixels_ : style_.font().pixelSize());
    w += side + (text().isEmpty() ? 0 : kSymbolSpacing);
    h = std::max(h, side);
  }
  return QSize(qCeil(w) + 2 * style_.horizontalPadding(), qCeil(h) + 2 * style_.verticalPadding());
}

QRectF VaultButton::shapeRect() const { return QRectF(rect()); }

bool VaultButton::hitButton(const QPoint& pos) const {
  return Shapes::roundedRect(shapeRect(), VaultButtonStyle::kRadius).contains(QPointF(pos) + QPointF(0.5, 0.5));
}

void VaultButton::paintEvent(QPaintEvent*) {
  syncPressed();
  const VaultButtonStyle::State st = state();
  VaultButtonStyle::State over = st;
  over.hover = true;
  const VaultButtonStyle::Look l = style_.look(st);
  const VaultButtonStyle::Look lh = style_.look(over);
  const qreal ht = st.enabled ? hoverT_.value() : 0.0;

  const qreal dpr = devicePixelRatioF();
  QImage layer((QSizeF(size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  layer.setDevicePixelRatio(dpr);
  const QRectF r = shapeRect();
  const QPainterPath shape = Shapes::roundedRect(r, VaultButtonStyle::kRadius);
  {
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QColor hoverBg = lh.hoverBackground;
    hoverBg.setAlphaF(float(hoverBg.alphaF() * ht));
    if (!l.hoverBackgroundOverFill && hoverBg.alpha() > 0) p.fillPath(shape, hoverBg);
    if (l.fillTop.alpha() > 0 || l.fillBottom.alpha() > 0) {
      QLinearGradient g(r.center().x(), r.top(), r.center().x(), r.bottom());
      g.setColorAt(0, l.fillTop);
      g.setColorAt(1, l.fillBottom);
      p.fillPath(shape, g);
    }
    if (l.hoverBackgroundOverFill && hoverBg.alpha() > 0) p.fillPath(shape, hoverBg);
    Shapes::strokeInside(p, r, VaultButtonStyle::kRadius, l.border, 1);

    // Label: symbol then text, centred.
    QFontMetricsF fm(style_.font());
    const qreal side = symbol_.isEmpty() ? 0 : Icons::boxSize(symbolPixels_ > 0 ? symbolPixels_ : style_.font().pixelSize());
    const qreal textW = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
    const qreal contentW = side + textW + ((side > 0 && textW > 0) ? kSymbolSpacing : 0);
    qreal x = (width() - contentW) / 2;
    if (side > 0) {
      Icons::paint(p, QRectF(x, (height() - side) / 2, side, side), symbol_, l.text);
      x += side + kSymbolSpacing;
    }
    if (textW > 0) {
      p.setFont(style_.font());
      p.setPen(l.text);
      const qreal baseline = (height() - fm.height()) / 2 + fm.ascent();
      p.drawText(QPointF(x, baseline), text());
    }
    const qreal tint = lh.hoverTint * ht;
    if (tint > 0) {
      QColor w(Qt::white);
      w.setAlphaF(float(tint));
      p.fillPath(shape, w);
    }
  }

  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.setOpacity(currentOpacity());
  const qreal s = currentScale();
  if (s != 1) {
    p.translate(r.center());
    p.scale(s, s);
    p.translate(-r.center());
  }
  p.drawImage(QPointF(0, 0), layer);
}

} // namespace bx
