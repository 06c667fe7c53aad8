#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace bx {

// The web engine refuses to start its first page as root while its sandbox
// is on, and ends the whole process when it does. Whether that would happen
// is known at start: the reader then shows bodies as plain text and says
// how to get the message view back, and the sandbox is never switched off
// behind the user's back.
struct WebSandbox {
  // True when the engine would refuse: effective user root, and neither
  // QTWEBENGINE_DISABLE_SANDBOX (set, not "0") nor "--no-sandbox" in
  // QTWEBENGINE_CHROMIUM_FLAGS turned the sandbox off.
  static bool refuses(unsigned effectiveUser, const QByteArray& disableVariable, const QByteArray& chromiumFlags);
  // The same for this process (an override set by tests wins).
  static bool refusesHere();
  static void setOverride(std::optional<bool> refuses);

  // What the reader says while bodies show as plain text.
  static QString title();
  static QString advice();
};

} // namespace bx
