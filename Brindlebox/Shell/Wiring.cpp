#include "Shell/Wiring.h"

#include "Shell/Harness.h"
#include "Shell/Seams.h"
#include "Sheets/AddAccountSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Sheets/SettingsView.h"

namespace bx::Wiring {

void install() {
  // Browser: Seams::sidebar(), Seams::timelineSpine(), Seams::messageList().
  // Reader: Seams::reader(); HarnessHooks::shared().warmUpReader (rule lists).
  // Sheets: Seams::sheet(Seams::Sheet::AddAccount | FreeUp | BackupActivity),
  //         Seams::settings().
  Seams::sheet(Seams::Sheet::AddAccount) = [](AppStore& store, QWidget* parent) -> QDialog* {
    return new AddAccountSheet(AppSheetStore::of(store), parent);
  };
  Seams::settings() = [](AppStore& store, QWidget* parent) -> QWidget* {
    return new SettingsView(AppSheetStore::of(store), parent);
  };
  // Harnesses: HarnessHooks::shared().demoRun, .uiTestRun, .snapshotRun.
}

} // namespace bx::Wiring
