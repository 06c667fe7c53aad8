#pragma once

#include "Theme/AnimatedValue.h"
#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

namespace bx {

// A thin capsule progress bar `height` px tall: a Theme::rule track over the
// whole width and a `tint` bar of width max(width × value, height), value
// clamped to 0…1 (so 0 shows a dot). Value changes animate with a spring of
// response 0.35 s and no overshoot (the fade under Reduce Motion).
class ProgressLine : public ThemedWidget {
  Q_OBJECT
public:
  ProgressLine(double value, const ThemeColor& tint, qreal height, QWidget* parent = nullptr);

  double value() const { return value_; }
  void setValue(double value);
  ThemeColor tint() const { return tint_; }
  void setTint(const ThemeColor& tint);
  qreal lineHeight() const { return height_; }

  // The bar's width in a track `trackWidth` wide.
  static qreal barWidth(qreal trackWidth, double value, qreal height);
  // The animation value changes use now.
  static Animation valueAnimation();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  double value_;
  ThemeColor tint_;
  qreal height_;
  AnimatedValue shown_;
};

} // namespace bx
