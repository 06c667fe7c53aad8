#include "Theme/Theme.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QtMath>

namespace bx {

QColor mixColors(const QColor& a, const QColor& b, qreal t) {
  t = qBound<qreal>(0, t, 1);
  const QColor x = a.toRgb(), y = b.toRgb();
  // Blend in premultiplied space so a clear end does not drag the hue to black.
  const qreal aa = x.alphaF(), ba = y.alphaF();
  const qreal alpha = aa + (ba - aa) * t;
  if (alpha <= 0) return QColor(0, 0, 0, 0);
  auto ch = [&](qreal ca, qreal cb) { return qBound<qreal>(0, (ca * aa + (cb * ba - ca * aa) * t) / alpha, 1); };
  return QColor::fromRgbF(float(ch(x.redF(), y.redF())), float(ch(x.greenF(), y.greenF())),
                          float(ch(x.blueF(), y.blueF())), float(alpha));
}

QFont Theme::Font::system(qreal pixels, QFont::Weight weight, bool monospaced) {
  QFont f = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QGuiApplication::font();
  f.setPixelSize(qMax(1, qRound(pixels)));
  f.setWeight(weight);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

QFont Theme::Font::weighted(QFont base, QFont::Weight weight) {
  base.setWeight(weight);
  return base;
}

QFont Theme::Font::display() { return system(28, QFont::DemiBold); }
QFont Theme::Font::title() { return system(20, QFont::DemiBold); }
QFont Theme::Font::month() { return system(19, QFont::DemiBold); }
QFont Theme::Font::headline() { return system(13, QFont::DemiBold); }
QFont Theme::Font::label() { return system(10, QFont::DemiBold); }
QFont Theme::Font::body() { return system(13); }
QFont Theme::Font::callout() { return system(12); }
QFont Theme::Font::caption() { return system(11); }

} // namespace bx
