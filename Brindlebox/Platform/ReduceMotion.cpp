#include "Platform/ReduceMotion.h"

#include "Platform/DesktopSettings.h"

namespace bx {

ReduceMotion& ReduceMotion::shared() {
  static ReduceMotion* instance = new ReduceMotion;
  return *instance;
}

ReduceMotion::ReduceMotion() {
  if (qEnvironmentVariableIsSet("BRINDLEBOX_REDUCE_MOTION"))
    environment_ = parseEnvironmentValue(qgetenv("BRINDLEBOX_REDUCE_MOTION"));
  last_ = environment_.value_or(false);
}

bool ReduceMotion::parseEnvironmentValue(const QByteArray& value) {
  const QByteArray v = value.trimmed().toLower();
  return !(v == "0" || v == "false" || v == "no" || v == "off");
}

void ReduceMotion::watchDesktop() const {
  if (watching_) return;
  watching_ = true;
  connect(&DesktopSettings::shared(), &DesktopSettings::changed, this, [this] {
    const bool before = last_;
    const bool now = value();
    if (now != before) emit const_cast<ReduceMotion*>(this)->changed(now);
  });
}

bool ReduceMotion::value() const {
  bool on = false;
  if (override_) {
    on = *override_;
  } else if (environment_) {
    on = *environment_;
  } else {
    watchDesktop();
    on = !DesktopSettings::shared().animationsEnabled().value_or(true);
  }
  last_ = on;
  return on;
}

void ReduceMotion::setOverride(std::optional<bool> on) {
  const bool before = last_;  // as last handed out; the desktop is not asked
  override_ = on;
  const bool now = value();
  if (now != before) emit changed(now);
}

} // namespace bx
