#include "Platform/Appearance.h"

#include "Platform/DesktopSettings.h"

namespace bx {

Appearance& Appearance::shared() {
  static Appearance* instance = new Appearance;
  return *instance;
}

Appearance::Appearance() {
  if (qEnvironmentVariableIsSet("BRINDLEBOX_APPEARANCE"))
    environment_ = parseEnvironmentValue(qgetenv("BRINDLEBOX_APPEARANCE"));
  last_ = environment_.value_or(ColorScheme::Light);
}

std::optional<ColorScheme> Appearance::parseEnvironmentValue(const QByteArray& value) {
  const QByteArray v = value.trimmed().toLower();
  if (v == "dark") return ColorScheme::Dark;
  if (v == "light") return ColorScheme::Light;
  return std::nullopt;
}

void Appearance::watchDesktop() const {
  if (watching_) return;
  watching_ = true;
  // The desktop is asked only when nothing above it decides, so tests and
  // screenshots never touch D-Bus.
  connect(&DesktopSettings::shared(), &DesktopSettings::changed, this, [this] {
    const ColorScheme before = last_;
    const ColorScheme now = scheme();
    if (now != before) emit const_cast<Appearance*>(this)->changed(now);
  });
}

ColorScheme Appearance::scheme() const {
  ColorScheme s = ColorScheme::Light;
  if (override_) {
    s = *override_;
  } else if (environment_) {
    s = *environment_;
  } else {
    watchDesktop();
    s = DesktopSettings::shared().prefersDark().value_or(false) ? ColorScheme::Dark : ColorScheme::Light;
  }
  last_ = s;
  return s;
}

void Appearance::setOverride(std::optional<ColorScheme> scheme) {
  // The scheme last handed out, so setting an override never has to ask
  // the desktop.
  const ColorScheme before = last_;
  override_ = scheme;
  const ColorScheme now = this->scheme();
  if (now != before) emit changed(now);
}

} // namespace bx
