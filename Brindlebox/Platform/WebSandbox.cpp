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

QString WebSandbox::title() { return QStringLiteral("Messages show as plain text while Brindlebox runs as root"); }

QString WebSandbox::advice() {
  return QStringLiteral(
      "The message view keeps mail in a sandbox, which can’t start for the root user. Quit and start Brindlebox as "
      "your own user. If you must run it as root, start it with QTWEBENGINE_DISABLE_SANDBOX=1 set, knowing that "
      "message bodies are then shown without that protection.");
}

} // namespace bx
