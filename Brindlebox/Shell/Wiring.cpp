#include "Shell/Wiring.h"

#include "Browser/BrowserWiring.h"
#include "Shell/Harness.h"
#include "Shell/Seams.h"

namespace bx::Wiring {

void install() {
  installBrowserColumns();
  // Browser: Seams::sidebar(), Seams::timelineSpine(), Seams::messageList().
  // Reader: Seams::reader(); HarnessHooks::shared().warmUpReader (rule lists).
  // Sheets: Seams::sheet(Seams::Sheet::AddAccount | FreeUp | BackupActivity),
  //         Seams::settings().
  // Harnesses: HarnessHooks::shared().demoRun, .uiTestRun, .snapshotRun.
}

} // namespace bx::Wiring
