#pragma once

#include "Theme/AnimatedValue.h"
#include "Views/TextBlock.h"

namespace bx {

// A one-line text of numbers whose changes roll: each character that
// changed moves out upwards while its successor comes in from below (the
// other way when counting down), both fading; a change of length rolls the
// whole text. Under Reduce Motion the two texts only cross-fade. Unchanged
// characters stay still.
class CountText : public TextBlock {
  Q_OBJECT
public:
  explicit CountText(const Animation& animation, QWidget* parent = nullptr);

  // Shows `text`; `countsDown` sends the roll the other way.
  void setCount(const QString& text, bool countsDown = false);
  bool isRolling() const { return roll_.isRunning(); }
  // The text being replaced while rolling, else empty.
  QString previousText() const { return isRolling() ? previous_ : QString(); }

  // Draws the roll from `from` to `to` at `t` (0…1) in the painter's font
  // and pen, with the first baseline at `origin`; `alignRight` keeps both
  // texts' right edges at origin.x + width of the wider. For painted
  // lists that roll their counts themselves.
  static void paintRoll(QPainter& p, QPointF origin, const QString& from, const QString& to, qreal t, bool down,
                        bool alignRight = false);

protected:
  void paintEvent(QPaintEvent* e) override;

private:
  Animation animation_;
  AnimatedValue roll_;
  QString previous_;
  bool down_ = false;
};

} // namespace bx
