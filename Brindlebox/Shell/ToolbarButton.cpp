#include "Shell/ToolbarButton.h"

#include "Theme/Icons.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QMenu>
#include <QPainter>
#include <QStyleOptionToolButton>
#include <QtMath>

#include <cmath>

namespace bx {
namespace {
constexpr qreal kSymbol = 14;
constexpr int kPadX = 8;
constexpr int kSpacing = 6;
} // namespace

ToolbarButton::ToolbarButton(const QString& title, const QString& symbol, QWidget* parent)
    : QToolButton(parent), symbol_(symbol) {
  setText(title);
  setAutoRaise(true);
  setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_Hover);
  connect(&bounce_, &AnimatedValue::changed, this, [this] { update(); });
  // A pulse breathes until it is stopped.
  pulse_.setStartValue(0.0);
  pulse_.setEndValue(1.0);
  pulse_.setDuration(1200);
  pulse_.setLoopCount(-1);
  connect(&pulse_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void ToolbarButton::setLabel(const QString& title, const QString& symbol) {
  setText(title);
  symbol_ = symbol;
  updateGeometry();
  update();
}

void ToolbarButton::bounce() {
  ++bounces_;
  bounce_.setValue(0);
  bounce_.animateTo(1, Animation::easeOut(0.5));
}

void ToolbarButton::setPulsing(bool on) {
  if (pulsing_ == on) return;
  pulsing_ = on;
  if (on && !Motion::isInstant()) pulse_.start();
  else pulse_.stop();
  update();
}

QSize ToolbarButton::sizeHint() const {
  const QFontMetrics fm(Theme::Font::body());
  const int side = qCeil(Icons::boxSize(kSymbol));
  const int textW = text().isEmpty() ? 0 : kSpacing + fm.horizontalAdvance(text());
  const int arrow = menu() ? 12 : 0;
  return {kPadX * 2 + side + textW + arrow, std::max(28, fm.height() + 10)};
}

void ToolbarButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(0.5, 2.5, -0.5, -2.5);
  if (isEnabled() && (underMouse() || isDown())) {
    QColor hover = Theme::primary.resolved();
    hover.setAlphaF(isDown() ? 0.10f : 0.06f);
    p.fillPath(Shapes::roundedRect(r, 6), hover);
  }
  p.setOpacity(isEnabled() ? 1.0 : 0.4);
  const QColor ink = Theme::ink.resolved();
  const qreal side = Icons::boxSize(kSymbol);
  const QRectF box(kPadX, (height() - side) / 2, side, side);
  p.save();
  qreal scale = 1 + 0.2 * std::sin(M_PI * std::clamp(bounce_.value(), 0.0, 1.0));
  p.translate(box.center());
  p.scale(scale, scale);
  p.translate(-box.center());
  if (pulsing_) p.setOpacity(p.opacity() * (0.55 + 0.45 * std::cos(2 * M_PI * pulse_.currentValue().toDouble())));
  Icons::paint(p, box, symbol_, Theme::ink2.resolved());
  p.restore();
  if (!text().isEmpty()) {
    p.setFont(Theme::Font::body());
    p.setPen(ink);
    p.drawText(QRectF(box.right() + kSpacing, 0, width() - box.right() - kSpacing, height()),
               Qt::AlignVCenter | Qt::AlignLeft, text());
  }
  if (menu()) {
    QPainterPath chevron;
    const qreal x = width() - kPadX - 6, y = height() / 2.0;
    chevron.moveTo(x, y - 1.5);
    chevron.lineTo(x + 3, y + 1.5);
    chevron.lineTo(x + 6, y - 1.5);
    p.setPen(QPen(Theme::ink2.resolved(), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(chevron);
  }
}

} // namespace bx
