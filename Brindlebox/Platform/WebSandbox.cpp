#include "Platform/WebSandbox.h"

#include <QList>

#include <unistd.h>

namespace bx {

namespace {
std::optional<bool>& overridden() {
  static std::optional<bool> value;
  return value;
}
}  // namespace

bool WebSandbox::refuses(unsigned effectiveUser, const QByteArray& disableVariable, const QByteArray& chromiumFlags) {
  if (effectiveUser != 0) return false;
  const QByteArray disable = disableVariable.trimmed();
  if (!disable.isEmpty() && disable != "0") return false;
  for (const QByteArray& flag : chromiumFlags.split(' '))
    if (flag.trimmed() == "--no-sandbox") return false;
  return true;
}

bool WebSandbox::refusesHere() {
  if (overridden()) return *overridden();
  return refuses(unsigned(::geteuid()), qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"));
}

void WebSandbox::setOverride(std::optional<bool> refuses) { overridden() = refuses; }

QString WebSandbox::title() { return QStringLiteral("Shown as plain text: Brindlebox runs as root"); }

QString WebSandbox::advice() {
  return QStringLiteral(
      "The message view’s sandbox can’t start for root. Start Brindlebox as your own user, or knowingly run it "
      "without the sandbox: QTWEBENGINE_DISABLE_SANDBOX=1.");
}

} // namespace bx
