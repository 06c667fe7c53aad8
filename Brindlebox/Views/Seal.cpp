#include "Views/Seal.h"

#include "Theme/Icons.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace bx {

namespace {
constexpr qreal kSpacing = 4;
}

Seal::Seal(std::optional<QString> text, qreal size, const ThemeColor& tint, const QString& symbol, QWidget* parent)
    : ThemedWidget(parent), text_(std::move(text)), size_(size), tint_(tint), symbol_(symbol) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Seal::setText(std::optional<QString> text) {
  text_ = std::move(text);
  updateGeometry();
  update();
}
void Seal::setTint(const ThemeColor& tint) {
  tint_ = tint;
  update();
}
void Seal::setSymbol(const QString& symbol) {
  symbol_ = symbol;
  update();
}
void Seal::setSymbolScale(qreal scale) {
  symbolScale_ = scale;
  update();
}

QFont Seal::textFont() const { return Theme::Font::system(size_, QFont::DemiBold); }

QSize Seal::padding() const { return text_ ? QSize(7, 2) : QSize(0, 0); }

QSize Seal::sizeHint() const {
  const qreal side = Icons::boxSize(size_ + 1);
  qreal w = side, h = side;
  if (text_) {
    QFontMetricsF fm(textFont());
    w += kSpacing + fm.horizontalAdvance(*text_);
    h = std::max(h, fm.height());
  }
  const QSize pad = padding();
  return QSize(qCeil(w) + 2 * pad.width(), qCeil(h) + 2 * pad.height());
}

void Seal::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor tint = tint_.resolved();
  const QRectF r(rect());
  if (text_) {
    p.fillPath(Shapes::capsule(r), tint_.opacity(0.10).resolved());
    Shapes::strokeInsideCapsule(p, r, tint_.opacity(0.25).resolved(), 1);
  }
  const QSize pad = padding();
  const qreal side = Icons::boxSize(size_ + 1);
  QRectF box(pad.width(), (height() - side) / 2, side, side);
  p.save();
  if (symbolScale_ != 1) {
    p.translate(box.center());
    p.scale(symbolScale_, symbolScale_);
    p.translate(-box.center());
  }
  Icons::paint(p, box, symbol_, tint);
  p.restore();
  if (text_) {
    QFontMetricsF fm(textFont());
    p.setFont(textFont());
    p.setPen(tint);
    p.drawText(QPointF(box.right() + kSpacing, (height() - fm.height()) / 2 + fm.ascent()), *text_);
  }
}

} // namespace bx
