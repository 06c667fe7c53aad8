#include "Shell/Wiring.h"

#include "Shell/Harness.h"
#include "Shell/Seams.h"

#include "Reader/AttachmentFiles.h"
#include "Reader/MessageReader.h"
#include "Reader/RemoteBlocker.h"

namespace bx::Wiring {

void install() {
  // Browser: Seams::sidebar(), Seams::timelineSpine(), Seams::messageList().
  // Reader: Seams::reader(); HarnessHooks::shared().warmUpReader (rule lists).
  // Sheets: Seams::sheet(Seams::Sheet::AddAccount | FreeUp | BackupActivity),
  //         Seams::settings().
  // Harnesses: HarnessHooks::shared().demoRun, .uiTestRun, .snapshotRun.

  Seams::reader() = [](AppStore& store, QWidget* parent) -> QWidget* { return new ReaderView(&store, parent); };
  HarnessHooks::shared().warmUpReader = [] {
    RemoteBlocker::shared().get([](RuleListPtr) {});
    AttachmentFiles::removeLeftovers();
  };
}

} // namespace bx::Wiring
