#include "Shell/Wiring.h"

#include "Shell/Harness.h"
#include "Shell/Seams.h"
#include "Sheets/SheetStoreHosts.h"

namespace bx::Wiring {

void install() {
  // Browser: Seams::sidebar(), Seams::timelineSpine(), Seams::messageList().
  // Reader: Seams::reader(); HarnessHooks::shared().warmUpReader (rule lists).
  // Sheets: Seams::sheet(Seams::Sheet::AddAccount | FreeUp | BackupActivity),
  //         Seams::settings().
  // Harnesses: HarnessHooks::shared().demoRun, .uiTestRun, .snapshotRun.
  Seams::sheet(Seams::Sheet::FreeUp) = makeFreeUpSheet;
  Seams::sheet(Seams::Sheet::BackupActivity) = makeBackupLedger;
}

} // namespace bx::Wiring
