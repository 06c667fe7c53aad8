#include "Shell/Wiring.h"

#include "Browser/BrowserWiring.h"
#include "Platform/PreviewDialog.h"
#include "Reader/MessageReader.h"
#include "Reader/RemoteBlocker.h"
#include "Sheets/AddAccountSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Sheets/BackupLedgerSheet.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Sheets/SettingsView.h"
#include "Sheets/SheetStoreHosts.h"
#include "Shell/Harness.h"
#include "Shell/Seams.h"
#include "Store/AppStore.h"

#include <QHash>
#include <QPointer>

#include "Reader/AttachmentFiles.h"
#include "Reader/MessageReader.h"
#include "Reader/RemoteBlocker.h"

namespace bx::Wiring {
namespace {

// One sheet-side view of each store, living as long as the store.
SheetStore* sheetStore(AppStore& store) {
  static QHash<AppStore*, QPointer<AppSheetStore>> made;
  QPointer<AppSheetStore>& s = made[&store];
  if (!s) s = new AppSheetStore(&store, &store);
  return s;
}

} // namespace

void install() {
  installBrowserColumns();
  Seams::reader() = [](AppStore& store, QWidget* parent) -> QWidget* { return new ReaderView(&store, parent); };
  Seams::settings() = [](AppStore& store, QWidget* parent) -> QWidget* {
    return new SettingsView(sheetStore(store), parent);
  };

  Seams::sheet(Seams::Sheet::AddAccount) = [](AppStore& store, QWidget* parent) -> QDialog* {
    return new AddAccountSheet(sheetStore(store), parent);
  };
  Seams::sheet(Seams::Sheet::FreeUp) = [](AppStore& store, QWidget* parent) -> QDialog* {
    auto* host = new FreeUpStoreHost(store);
    auto* sheet = new FreeUpSpaceSheet(host, parent);
    host->setParent(sheet);
    return sheet;
  };
  Seams::sheet(Seams::Sheet::BackupActivity) = [](AppStore& store, QWidget* parent) -> QDialog* {
    auto* host = new BackupLedgerStoreHost(store);
    auto* sheet = new BackupLedgerSheet(host, parent);
    host->setParent(sheet);
    return sheet;
  };

  // Compiling the rule lists early; nothing waits for it.
  HarnessHooks::shared().warmUpReader = [] { RemoteBlocker::shared().get([](RuleListPtr) {}); };
  // Harnesses: HarnessHooks::shared().demoRun, .uiTestRun, .snapshotRun.

  Seams::reader() = [](AppStore& store, QWidget* parent) -> QWidget* { return new ReaderView(&store, parent); };
  HarnessHooks::shared().warmUpReader = [] {
    RemoteBlocker::shared().get([](RuleListPtr) {});
    AttachmentFiles::removeLeftovers();
  };
}

} // namespace bx::Wiring
