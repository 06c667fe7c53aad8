#pragma once

#include "Views/ThemedWidget.h"

namespace bx {

// An empty timeline spine, the last sixteen years newest first: each year's
// number and a thin tick per month, two short accent bars at the top of the
// current year. Draws into whatever size it is given (only the height
// matters); used by the welcome page and the settings window.
class EmptySpineIllustration : public ThemedWidget {
  Q_OBJECT
public:
  explicit EmptySpineIllustration(QWidget* parent = nullptr);

  // The geometry of the drawing for a canvas `height` tall.
  struct Metrics {
    qreal step;        // one month
    qreal yearHeight;  // one year with its gap
    qreal tick;        // height of one month's tick
  };
  static Metrics metrics(qreal height);

  // Draws the picture for `year` (the newest) into a canvas of `size`.
  static void paint(QPainter& p, const QSizeF& size, int year);

protected:
  void paintEvent(QPaintEvent*) override;
};

} // namespace bx
