#pragma once

#include "Theme/AnimatedValue.h"
#include "Views/Toast.h"
#include "Views/ThemedWidget.h"

namespace bx {

// Draws one toast: the symbol (14 px, tinted) and the text (callout medium,
// Theme::ink, at most 2 lines) 9 px apart, padded 14 × 9, on Theme::panel in
// a continuous rounded rectangle of radius 9, with a 3 px accent bar of the
// tint along its rounded left edge, a 1 px Theme::ruleStrong inner border and
// a soft shadow (black 14 %, radius 12, offset 0, 5). The symbol bounces
// once each time the banner appears.
//
// The widget is larger than the banner by `kShadowMargin` on every side so
// the shadow has room; `bannerRect()` is the banner inside it.
class ToastView : public ThemedWidget {
  Q_OBJECT
public:
  explicit ToastView(const Toast& toast, QWidget* parent = nullptr);

  static constexpr int kShadowMargin = 24;
  static constexpr qreal kRadius = 9;

  const Toast& toast() const { return toast_; }
  // How many times the symbol has been made to bounce (0 until shown).
  int bounce() const { return bounce_; }

  // The banner's size when it may be at most `maxWidth` wide.
  QSize bannerSize(int maxWidth) const;
  QRect bannerRect() const;
  // Lines of text the banner shows at `maxWidth`.
  QStringList textLines(int maxWidth) const;
  void setMaxBannerWidth(int width);

  // Opacity of the whole banner, for transitions.
  void setPresentationOpacity(qreal opacity);
  qreal presentationOpacity() const { return opacity_; }

  QSize sizeHint() const override;

signals:
  void clicked();

protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

private:
  QFont textFont() const;

  Toast toast_;
  int bounce_ = 0;
  int maxBannerWidth_ = 600;
  qreal opacity_ = 1;
  bool pressInside_ = false;
  AnimatedValue bouncePhase_;
};

} // namespace bx
