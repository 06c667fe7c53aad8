#include "Shell/Wiring.h"

#include "Browser/BrowserWiring.h"
#include "Demo/DemoRecorder.h"
#include "DemoMode/DemoMode.h"
#include "DemoMode/Snapshotter.h"
#include "Reader/AttachmentFiles.h"
#include "Reader/MessageReader.h"
#include "Reader/RemoteBlocker.h"
#include "Sheets/AddAccountSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Sheets/SettingsView.h"
#include "Shell/Harness.h"
#include "Shell/Seams.h"
#include "Store/AppStore.h"
#include "UITest/UITest.h"

namespace bx::Wiring {

void install() {
  installBrowserColumns();
  Seams::reader() = [](AppStore& store, QWidget* parent) -> QWidget* { return new ReaderView(&store, parent); };
  Seams::settings() = [](AppStore& store, QWidget* parent) -> QWidget* {
    return new SettingsView(AppSheetStore::of(store), parent);
  };

  Seams::sheet(Seams::Sheet::AddAccount) = [](AppStore& store, QWidget* parent) -> QDialog* {
    return new AddAccountSheet(AppSheetStore::of(store), parent);
  };
  Seams::sheet(Seams::Sheet::FreeUp) = makeFreeUpSheet;
  Seams::sheet(Seams::Sheet::BackupActivity) = makeBackupLedger;

  // Compiling the rule lists early; nothing waits for it.
  HarnessHooks::shared().warmUpReader = [] {
    RemoteBlocker::shared().get([](RuleListPtr) {});
    AttachmentFiles::removeLeftovers();
  };
  // Harnesses: HarnessHooks::shared().demoRun, .uiTestRun, .snapshotRun.
  HarnessHooks::shared().uiTestRun = [] { return UITest::run(); };
  UITest::Shots::shared().mainWindow = [] { return Snapshotter::mainWindow(); };
  UITest::Shots::shared().capture = [](QWidget* w, const QString& name) { return Snapshotter::capture(w, name); };
  UITest::Shots::shared().shotSheet = [](const QString& name) { return Snapshotter::shotSheet(name); };
  HarnessHooks::shared().demoRun = [] { return DemoMode::run(); };
  HarnessHooks::shared().snapshotRun = [] { return Snapshotter::run(); };
  // The recorder's frames carry the readers' live web content.
  orrery::DemoRecorder::windowPainter() = &Snapshotter::paintMovieFrame;
}

} // namespace bx::Wiring
