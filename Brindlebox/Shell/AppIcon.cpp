#include "Shell/AppIcon.h"

static void initShellResources() { Q_INIT_RESOURCE(shell); }

namespace bx {
QIcon appIcon() {
  static const QIcon icon = [] {
    initShellResources();
    return QIcon(QStringLiteral(":/shell/app.brindlebox.Brindlebox.svg"));
  }();
  return icon;
}
} // namespace bx
