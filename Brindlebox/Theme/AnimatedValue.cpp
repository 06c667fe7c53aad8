#include "Theme/AnimatedValue.h"

namespace bx {

AnimatedValue::AnimatedValue(double initial, QObject* parent)
    : QObject(parent), value_(initial), target_(initial) {
  connect(&anim_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    value_ = from_ + (target_ - from_) * animation_.progress(v.toDouble());
    emit changed(value_);
  });
}

void AnimatedValue::animateTo(double target, const Animation& animation) {
  if (target == target_ && !isRunning() && value_ == target) return;
  target_ = target;
  anim_.stop();
  if (Motion::isInstant() || value_ == target) {
    setValue(target);
    return;
  }
  from_ = value_;
  animation_ = animation;
  anim_.setStartValue(0.0);
  anim_.setEndValue(1.0);
  anim_.setDuration(animation.durationMs());
  anim_.start();
}

void AnimatedValue::setValue(double target) {
  anim_.stop();
  target_ = target;
  if (value_ == target) return;
  value_ = target;
  emit changed(value_);
}

} // namespace bx
