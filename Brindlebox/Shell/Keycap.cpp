#include "Shell/Keycap.h"

#include "Platform/PlatformText.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QPainter>

namespace bx {
namespace {
QFont keyFont() { return Theme::Font::system(12, QFont::DemiBold); }
constexpr int kPadX = 7;
constexpr int kPadY = 3;
constexpr int kMinWidth = 26;
constexpr qreal kRadius = 6;
} // namespace

Keycap::Keycap(const QString& keys, QWidget* parent) : ThemedWidget(parent), keys_(keys) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString Keycap::displayText() const { return PlatformText::localize(keys_); }

QSize Keycap::sizeHint() const {
  const QFontMetrics fm(keyFont());
  const int w = fm.horizontalAdvance(displayText()) + 2 * kPadX;
  return {std::max(w, kMinWidth), fm.height() + 2 * kPadY};
}

void Keycap::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(rect());
  QColor fill = Theme::primary.resolved();
  fill.setAlphaF(0.07f);
  p.fillPath(Shapes::roundedRect(r, kRadius), fill);
  QColor border = Theme::primary.resolved();
  border.setAlphaF(0.12f);
  Shapes::strokeInside(p, r, kRadius, border, 1);
  p.setFont(keyFont());
  p.setPen(Theme::primary.resolved());
  p.drawText(r, Qt::AlignCenter, displayText());
}

} // namespace bx
