#pragma once

#include "Theme/Theme.h"
#include "Views/ThemedWidget.h"

namespace bx {

// The card surface: `fill` in a continuous rounded rectangle of `radius`
// filling the widget, then a 1 px border in Theme::rule stroked inside it.
// No padding and no shadow: callers give the card a layout with their own
// margins.
class VaultCard : public ThemedWidget {
  Q_OBJECT
public:
  explicit VaultCard(qreal radius = Theme::rCard, const ThemeColor& fill = Theme::raised, QWidget* parent = nullptr);

  qreal radius() const { return radius_; }
  ThemeColor fill() const { return fill_; }
  void setRadius(qreal radius);
  void setFill(const ThemeColor& fill);

  // The card as a painter helper for pieces that draw their own surface.
  static void paint(QPainter& p, const QRectF& rect, qreal radius, const ThemeColor& fill);

protected:
  void paintEvent(QPaintEvent*) override;

private:
  qreal radius_;
  ThemeColor fill_;
};

} // namespace bx
