#include "Views/VaultCard.h"

#include "Theme/Shapes.h"

#include <QPainter>

namespace bx {

VaultCard::VaultCard(qreal radius, const ThemeColor& fill, QWidget* parent)
    : ThemedWidget(parent), radius_(radius), fill_(fill) {}

void VaultCard::setRadius(qreal radius) {
  radius_ = radius;
  update();
}

void VaultCard::setFill(const ThemeColor& fill) {
  fill_ = fill;
  update();
}

void VaultCard::paint(QPainter& p, const QRectF& rect, qreal radius, const ThemeColor& fill) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.fillPath(Shapes::roundedRect(rect, radius), fill.resolved());
  Shapes::strokeInside(p, rect, radius, Theme::rule.resolved(), 1);
  p.restore();
}

void VaultCard::paintEvent(QPaintEvent*) {
  QPainter p(this);
  paint(p, QRectF(rect()), radius_, fill_);
}

} // namespace bx
