#pragma once

#include "Theme/Motion.h"

#include <QObject>
#include <QVariantAnimation>

namespace bx {

// A number that a view draws from and that moves to a new target with an
// Animation. The view repaints on `changed`. Setting a target while moving
// starts from where the value is now.
class AnimatedValue : public QObject {
  Q_OBJECT
public:
  explicit AnimatedValue(double initial = 0, QObject* parent = nullptr);

  double value() const { return value_; }
  double target() const { return target_; }
  bool isRunning() const { return anim_.state() == QAbstractAnimation::Running; }

  // Moves to `target` with `animation` (no change when already there).
  void animateTo(double target, const Animation& animation);
  // Jumps to `target` at once.
  void setValue(double target);

signals:
  void changed(double value);

private:
  QVariantAnimation anim_;  // runs linearly over 0…1; `animation_` shapes it
  Animation animation_;
  double from_ = 0;
  double value_;
  double target_;
};

} // namespace bx
