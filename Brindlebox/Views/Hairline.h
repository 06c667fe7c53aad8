#pragma once

#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

namespace bx {

// A 1 px rule along one edge of a widget, inside its bounds, taking no
// layout space: a child laid over the widget that follows its size and lets
// the pointer through. Returned so callers can change or remove it.
class Hairline : public ThemedWidget {
  Q_OBJECT
public:
  Hairline(QWidget* host, Qt::Edge edge, const ThemeColor& color);

  Qt::Edge edge() const { return edge_; }
  ThemeColor color() const { return color_; }
  void setColor(const ThemeColor& color);
  // Where the line lies in the host's coordinates for a host of `size`.
  static QRect lineRect(const QSize& size, Qt::Edge edge);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent*) override;

private:
  void follow();

  Qt::Edge edge_;
  ThemeColor color_;
};

// Draws a 1 px rule along `edge` of `widget`.
Hairline* hairline(QWidget* widget, Qt::Edge edge, const ThemeColor& color);

} // namespace bx
