#include "Shell/EmptySpineIllustration.h"

#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QDate>
#include <QPainter>

namespace bx {

EmptySpineIllustration::EmptySpineIllustration(QWidget* parent) : ThemedWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

EmptySpineIllustration::Metrics EmptySpineIllustration::metrics(qreal height) {
  // Sixteen years of twelve months with a 6 px gap after each year, 40 px
  // of margins (24 above).
  const qreal step = std::max((height - 40 - 96) / 192, 2.0);
  return {step, step * 12 + 6, std::max(step - 1, 1.0)};
}

void EmptySpineIllustration::paint(QPainter& p, const QSizeF& size, int year) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(QRectF(QPointF(0, 0), size), Theme::paper.resolved());
  const Metrics m = metrics(size.height());
  const QColor wide = [] {
    QColor c = Theme::seal.resolved();
    c.setAlphaF(c.alphaF() * 0.7f);
    return c;
  }();
  const QColor thin = [] {
    QColor c = Theme::ink3.resolved();
    c.setAlphaF(c.alphaF() * 0.35f);
    return c;
  }();
  qreal y = 24;
  for (int k = 0; k < 16; ++k) {
    const QFont f = Theme::Font::system(9.5, k == 0 ? QFont::DemiBold : QFont::Normal, true);
    p.setFont(f);
    p.setPen((k == 0 ? Theme::ink2 : Theme::ink3).resolved());
    const QFontMetricsF fm(f);
    p.drawText(QPointF(14, y - 1 + fm.ascent()), QString::number(year - k));
    for (int mth = 0; mth < 12; ++mth) {
      const bool accent = k == 0 && mth < 2;
      const qreal width = accent ? 14 + 10 * mth : 3;
      p.fillPath(Shapes::roundedRect(QRectF(54, y + m.step * mth, width, m.tick), 1), accent ? wide : thin);
    }
    y += m.yearHeight;
  }
  p.restore();
}

void EmptySpineIllustration::paintEvent(QPaintEvent*) {
  QPainter p(this);
  paint(p, QSizeF(size()), QDate::currentDate().year());
}

} // namespace bx
