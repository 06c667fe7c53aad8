#pragma once

#include <QObject>
#include <optional>

namespace bx {

enum class ColorScheme { Light, Dark };

// The appearance the application draws in. First match wins:
//  1. an override set in code (tests, the gallery, the screenshot harness);
//  2. the environment variable BRINDLEBOX_APPEARANCE: "dark" or "light"
//     (any other value is ignored);
//  3. the desktop's preference (XDG portal color-scheme, else GNOME's
//     gsettings color-scheme), followed live;
//  4. light, when nothing says otherwise.
// GUI thread only. `changed` fires whenever the resolved scheme changes.
class Appearance : public QObject {
  Q_OBJECT
public:
  static Appearance& shared();

  ColorScheme scheme() const;
  bool isDark() const { return scheme() == ColorScheme::Dark; }

  void setOverride(std::optional<ColorScheme> scheme);

  // Parses the value of BRINDLEBOX_APPEARANCE; empty for anything unknown.
  static std::optional<ColorScheme> parseEnvironmentValue(const QByteArray& value);

signals:
  void changed(bx::ColorScheme scheme);

private:
  Appearance();
  void watchDesktop() const;

  std::optional<ColorScheme> override_;
  std::optional<ColorScheme> environment_;
  mutable bool watching_ = false;
  mutable ColorScheme last_ = ColorScheme::Light;
};

} // namespace bx
