#pragma once

#include "Platform/Appearance.h"

#include <QColor>
#include <QtGlobal>

namespace bx {

// A colour with a light and a dark variant, resolved when it is drawn, so a
// live change of the appearance needs nothing but a repaint. A fixed colour
// is one whose two variants are equal. Values are sRGB 0xRRGGBB with an
// opacity each.
class ThemeColor {
public:
  constexpr ThemeColor() = default;  // clear
  constexpr ThemeColor(quint32 light, quint32 dark, qreal lightAlpha, qreal darkAlpha)
      : light_(light), dark_(dark), lightAlpha_(lightAlpha), darkAlpha_(darkAlpha) {}

  static constexpr ThemeColor dynamic(quint32 light, quint32 dark, qreal lightAlpha = 1, qreal darkAlpha = 1) {
    return ThemeColor(light, dark, lightAlpha, darkAlpha);
  }
  static constexpr ThemeColor fixed(quint32 rgb, qreal alpha = 1) { return ThemeColor(rgb, rgb, alpha, alpha); }
  static ThemeColor fixed(const QColor& c) {
    const QColor s = c.toRgb();
    return fixed(s.rgb() & 0xFFFFFF, s.alphaF());
  }
  static constexpr ThemeColor clear() { return ThemeColor(); }

  // The colour for one appearance: the dark value and opacity for dark, the
  // light ones in every other case.
  QColor resolve(ColorScheme scheme) const {
    const bool dark = scheme == ColorScheme::Dark;
    const quint32 v = dark ? dark_ : light_;
    QColor c = QColor::fromRgbF(((v >> 16) & 0xFF) / 255.0f, ((v >> 8) & 0xFF) / 255.0f, (v & 0xFF) / 255.0f,
                                float(dark ? darkAlpha_ : lightAlpha_));
    return c;
  }
  // The colour for the appearance now in force.
  QColor resolved() const { return resolve(Appearance::shared().scheme()); }

  // The same colour with both opacities multiplied by `alpha`.
  constexpr ThemeColor opacity(qreal alpha) const {
    return ThemeColor(light_, dark_, lightAlpha_ * alpha, darkAlpha_ * alpha);
  }

  constexpr bool isDynamic() const { return light_ != dark_ || lightAlpha_ != darkAlpha_; }
  constexpr bool isClear() const { return lightAlpha_ == 0 && darkAlpha_ == 0; }

  friend constexpr bool operator==(const ThemeColor& a, const ThemeColor& b) {
    return a.light_ == b.light_ && a.dark_ == b.dark_ && a.lightAlpha_ == b.lightAlpha_ && a.darkAlpha_ == b.darkAlpha_;
  }
  friend constexpr bool operator!=(const ThemeColor& a, const ThemeColor& b) { return !(a == b); }

private:
  quint32 light_ = 0;
  quint32 dark_ = 0;
  qreal lightAlpha_ = 0;
  qreal darkAlpha_ = 0;
};

// Linear blend of two resolved colours, t in 0…1 (values outside are clamped).
QColor mixColors(const QColor& a, const QColor& b, qreal t);

} // namespace bx
