#include "Views/SmallCaps.h"

#include "Theme/Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace bx {

SmallCaps::SmallCaps(const QString& text, const ThemeColor& color, QWidget* parent)
    : ThemedWidget(parent), text_(text), color_(color) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void SmallCaps::setText(const QString& text) {
  text_ = text;
  updateGeometry();
  update();
}

void SmallCaps::setColor(const ThemeColor& color) {
  color_ = color;
  update();
}

QFont SmallCaps::displayFont() const {
  QFont f = Theme::Font::label();
  f.setLetterSpacing(QFont::AbsoluteSpacing, 0.9);
  return f;
}

QSize SmallCaps::sizeHint() const {
  QFontMetricsF fm(displayFont());
  return QSize(qCeil(fm.horizontalAdvance(displayText())), qCeil(fm.height()));
}

void SmallCaps::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(displayFont());
  p.setPen(color_.resolved());
  QFontMetricsF fm(displayFont());
  p.drawText(QPointF(0, fm.ascent()), displayText());
}

} // namespace bx
