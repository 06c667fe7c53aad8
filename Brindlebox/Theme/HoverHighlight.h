#pragma once

#include "Theme/AnimatedValue.h"

#include <QGraphicsEffect>

class QWidget;

namespace bx {

// The hover look of a hoverable card or row, applied to a widget as its
// graphics effect. While the pointer is over the widget, in this order:
//  1. a rounded rectangle of `cornerRadius` behind the content, filled with
//     the primary colour at 5 % (0 otherwise);
//  2. the whole scaled by 1.015 about its centre when `lift`, unless Reduce
//     Motion is on;
//  3. a black shadow at 10 % when `lift` (radius 8, offset 0, 3), whatever
//     Reduce Motion says.
// Hover changes ease out over 0.15 s.
class HoverHighlight : public QGraphicsEffect {
  Q_OBJECT
public:
  HoverHighlight(qreal cornerRadius, bool lift, QObject* parent = nullptr);

  // Makes a highlight, sets it as `widget`'s graphics effect and has it
  // follow the pointer entering and leaving `widget`.
  static HoverHighlight* apply(QWidget* widget, qreal cornerRadius, bool lift);

  qreal cornerRadius() const { return cornerRadius_; }
  bool lift() const { return lift_; }
  bool hover() const { return hover_; }
  void setHover(bool hover);

  // The look for the current hover state, once the animation has settled.
  qreal backgroundOpacity() const;
  qreal scale() const;
  qreal shadowOpacity() const;
  // How far the hover animation is (0 = not hovered, 1 = hovered).
  qreal progress() const { return progress_.value(); }

  // Room for the shadow and the lift around the widget.
  QRectF boundingRectFor(const QRectF& rect) const override;

protected:
  void draw(QPainter* painter) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  qreal cornerRadius_;
  bool lift_;
  bool hover_ = false;
  AnimatedValue progress_;
};

} // namespace bx
