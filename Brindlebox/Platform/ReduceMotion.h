#pragma once

#include <QObject>
#include <optional>

namespace bx {

// The Reduce Motion setting. First match wins:
//  1. an override set in code (tests, the gallery);
//  2. the environment variable BRINDLEBOX_REDUCE_MOTION: "0", "false", "no"
//     or "off" (any case) turn it off; any other value, the empty one
//     included, turns it on;
//  3. the desktop: GNOME's enable-animations set to false turns it on
//     (through the XDG portal, followed live, else gsettings);
//  4. off.
// GUI thread only. `changed` fires whenever the resolved value changes.
class ReduceMotion : public QObject {
  Q_OBJECT
public:
  static ReduceMotion& shared();

  // The setting as it is now; views and actions read it when they build an
  // animation or a transition.
  static bool isOn() { return shared().value(); }

  bool value() const;
  void setOverride(std::optional<bool> on);

  static bool parseEnvironmentValue(const QByteArray& value);

signals:
  void changed(bool on);

private:
  ReduceMotion();
  void watchDesktop() const;

  std::optional<bool> override_;
  std::optional<bool> environment_;
  mutable bool watching_ = false;
  mutable bool last_ = false;
};

} // namespace bx
