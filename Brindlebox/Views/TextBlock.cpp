#include "Views/TextBlock.h"

#include "Theme/Icons.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <QVariantAnimation>
#include <QtMath>

#include <cmath>

namespace bx {

namespace {

struct Laid {
  QStringList lines;
  qreal lineHeight = 0;
};

Laid layoutText(const QString& text, const QFont& font, int width, int maxLines) {
  Laid out;
  QFontMetricsF fm(font);
  out.lineHeight = fm.height();
  if (text.isEmpty()) return out;
  QString t = text;
  t.replace(QLatin1Char('\n'), QChar::LineSeparator);
  QTextLayout layout(t, font);
  QTextOption opt;
  opt.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(opt);
  layout.beginLayout();
  QList<QPair<int, int>> ranges;
  for (;;) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(std::max(1, width));
    ranges.append({line.textStart(), line.textLength()});
  }
  layout.endLayout();
  const int shown = (maxLines > 0) ? std::min<int>(maxLines, ranges.size()) : ranges.size();
  for (int i = 0; i < shown; ++i) {
    QString s = t.mid(ranges[i].first, ranges[i].second);
    if (i == shown - 1 && shown < ranges.size()) {
      // The last line shown ends in an ellipsis: after its own text when it
      // ended at a line break, else where the rest of the text runs out of
      // width.
      const bool hardBreak = s.endsWith(QChar::LineSeparator);
      QString rest = hardBreak ? s.chopped(1).trimmed() + QChar(0x2026) : t.mid(ranges[i].first);
      rest.replace(QChar::LineSeparator, QLatin1Char(' '));
      s = fm.elidedText(rest, Qt::ElideRight, width);
    }
    while (s.endsWith(QChar::LineSeparator) || s.endsWith(QLatin1Char(' '))) s.chop(1);
    out.lines << s;
  }
  return out;
}

} // namespace

TextBlock::TextBlock(const QString& text, QWidget* parent)
    : ThemedWidget(parent), text_(text), font_(Theme::Font::body()), color_(Theme::ink) {
  QSizePolicy sp(QSizePolicy::Preferred, QSizePolicy::Preferred);
  sp.setHeightForWidth(true);
  setSizePolicy(sp);
}

void TextBlock::changed() {
  updateGeometry();
  update();
}

void TextBlock::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  changed();
}
void TextBlock::setTextFont(const QFont& font) {
  font_ = font;
  changed();
}
void TextBlock::setColor(const ThemeColor& color) {
  color_ = color;
  update();
}
void TextBlock::setMaxLines(int lines) {
  maxLines_ = lines;
  changed();
}
void TextBlock::setAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  update();
}
void TextBlock::setMaxTextWidth(int width) {
  maxTextWidth_ = width;
  changed();
}
void TextBlock::setStrikeOut(bool on) {
  font_.setStrikeOut(on);
  update();
}

qreal TextBlock::idealWidth(const QString& text, const QFont& font) {
  QFontMetricsF fm(font);
  qreal w = 0;
  for (const QString& para : text.split(QLatin1Char('\n'))) w = std::max(w, fm.horizontalAdvance(para));
  return w;
}

QStringList TextBlock::wrap(const QString& text, const QFont& font, int width, int maxLines) {
  return layoutText(text, font, width, maxLines).lines;
}

int TextBlock::idealTextWidth() const { return std::min(qCeil(idealWidth(text_, font_)) + 1, maxTextWidth_); }

QStringList TextBlock::linesForWidth(int width) const {
  return layoutText(text_, font_, std::min(width, maxTextWidth_), maxLines_).lines;
}

int TextBlock::heightForWidth(int width) const {
  const Laid l = layoutText(text_, font_, std::min(width, maxTextWidth_), maxLines_);
  return qCeil(l.lineHeight * std::max<qsizetype>(1, l.lines.size()));
}

int TextBlock::firstBaseline() const { return qCeil(QFontMetricsF(font_).ascent()); }

QSize TextBlock::sizeHint() const {
  const int w = idealTextWidth();
  return QSize(w, heightForWidth(w));
}

// The height for any real width comes from heightForWidth; the minimum is
// one line, or a narrow squeeze would make every layout above it tall.
QSize TextBlock::minimumSizeHint() const {
  return QSize(std::min(idealTextWidth(), 40), qCeil(QFontMetricsF(font_).height()));
}

void TextBlock::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(font_);
  p.setPen(color_.resolved());
  const int w = std::min(width(), maxTextWidth_);
  const qreal x0 = (alignment_ & Qt::AlignHCenter) ? (width() - w) / 2.0 : 0;
  const Laid l = layoutText(text_, font_, w, maxLines_);
  QFontMetricsF fm(font_);
  qreal y = 0;
  for (const QString& line : l.lines) {
    qreal x = x0;
    if (alignment_ & Qt::AlignHCenter) x = x0 + (w - fm.horizontalAdvance(line)) / 2;
    p.drawText(QPointF(x, y + fm.ascent()), line);
    y += l.lineHeight;
  }
}

SymbolView::SymbolView(const QString& symbol, qreal fontPixels, const ThemeColor& color, QWidget* parent)
    : ThemedWidget(parent), symbol_(symbol), fontPixels_(fontPixels), color_(color) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setSymbol(const QString& symbol) {
  symbol_ = symbol;
  update();
}
void SymbolView::setColor(const ThemeColor& color) {
  color_ = color;
  update();
}
void SymbolView::setBoxWidth(int width) {
  boxWidth_ = width;
  updateGeometry();
}
void SymbolView::setScaleFactor(qreal scale) {
  scale_ = scale;
  update();
}

QSize SymbolView::sizeHint() const {
  const int side = qCeil(Icons::boxSize(fontPixels_));
  return QSize(boxWidth_ > 0 ? boxWidth_ : side, side);
}

void SymbolView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const qreal side = Icons::boxSize(fontPixels_);
  QRectF box((width() - side) / 2, (height() - side) / 2, side, side);
  if (scale_ != 1) {
    p.translate(box.center());
    p.scale(scale_, scale_);
    p.translate(-box.center());
  }
  Icons::paint(p, box, symbol_, color_.resolved());
}

void bounceSymbol(SymbolView* symbol) {
  if (!symbol || Motion::isInstant()) return;
  auto* anim = new QVariantAnimation(symbol);
  anim->setDuration(std::max(200, motion(Motion::spring).durationMs()));
  anim->setStartValue(0.0);
  anim->setEndValue(1.0);
  QObject::connect(anim, &QVariantAnimation::valueChanged, symbol, [symbol](const QVariant& v) {
    const double t = v.toDouble();
    symbol->setScaleFactor(1.0 + 0.2 * std::sin(t * M_PI));
  });
  QObject::connect(anim, &QVariantAnimation::finished, symbol, [symbol] { symbol->setScaleFactor(1.0); });
  anim->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace bx
