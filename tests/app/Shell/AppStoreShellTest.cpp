#include "ShellTestSupport.h"
#include "Shell/AppStoreShell.h"
#include "Shell/BrindleboxCommands.h"
#include "Shell/MainWindow.h"
#include "Shell/RootView.h"
#include "Shell/SheetHost.h"
#include "Store/AppStore.h"

#include <QAction>
#include <QDialog>

using namespace bx;
using namespace bx::test;

namespace {

// The shell over the real store.
class AppStoreShellTest : public ShellTest {
protected:
  void SetUp() override {
    ShellTest::SetUp();
    ASSERT_TRUE(vault.isValid());
    qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
    QSettings().setValue("bx.didShowWelcome", true);
    store = std::make_unique<AppStore>();
    shell = std::make_unique<AppStoreShell>(*store);
    window = std::make_unique<MainWindow>(*shell);
    shell->setWindow(window.get());
    window->show();
    window->activateWindow();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    window.reset();
    shell.reset();
    store.reset();
    qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
    ShellTest::TearDown();
  }
  QAction* action(Command c) { return window->commands()->action(c); }

  QTemporaryDir vault;
  std::unique_ptr<AppStore> store;
  std::unique_ptr<AppStoreShell> shell;
  std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(AppStoreShellTest, StoreFlagsOpenAndCloseSheets) {
  store->setShowFreeUp(true);
  QDialog* sheet = window->root()->sheets()->current();
  ASSERT_TRUE(sheet);
  sheet->reject();
  EXPECT_FALSE(store->showFreeUp());
  store->setShowBackupActivity(true);
  ASSERT_TRUE(window->root()->sheets()->current());
  store->setShowBackupActivity(false);
  EXPECT_FALSE(window->root()->sheets()->current());
}

TEST_F(AppStoreShellTest, ShortcutsChangeTheStore) {
  QTest::keyClick(window.get(), Qt::Key_2, Qt::ControlModifier);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeSmart(SmartFilter::recent));
  QTest::keyClick(window.get(), Qt::Key_4, Qt::ControlModifier);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeSmart(SmartFilter::suspicious));
  QTest::keyClick(window.get(), Qt::Key_1, Qt::ControlModifier);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeAll());

  store->setSelectedPath(QStringLiteral("Work/INBOX/2024/a.eml"));
  QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(store->allowImagesFor().contains("Work/INBOX/2024/a.eml"));

  QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
  EXPECT_TRUE(store->showAddAccount());
}

TEST_F(AppStoreShellTest, EnabledRulesReadTheStore) {
  EXPECT_FALSE(action(Command::SaveSearch)->isEnabled());
  store->setQuery(QStringLiteral(" \t "));
  EXPECT_FALSE(action(Command::SaveSearch)->isEnabled());
  store->setQuery(QStringLiteral("invoice"));
  EXPECT_TRUE(action(Command::SaveSearch)->isEnabled());

  // A selection that no record backs (a rescan removed it): nothing to
  // reveal or open, though images can still be allowed for it.
  store->setSelectedPath(QStringLiteral("Gone/INBOX/2020/x.eml"));
  EXPECT_TRUE(action(Command::ShowImages)->isEnabled());
  EXPECT_FALSE(action(Command::ShowInFinder)->isEnabled());
  EXPECT_FALSE(action(Command::OpenInMailApp)->isEnabled());
  EXPECT_FALSE(action(Command::NextMessage)->isEnabled()) << "the list is empty";
  store->setSelectedPath(std::nullopt);
  EXPECT_FALSE(action(Command::ShowImages)->isEnabled());

  BackupStatus running;
  running.running = true;
  store->setBackup(running);
  EXPECT_TRUE(action(Command::StopBackup)->isEnabled());
  EXPECT_FALSE(action(Command::BackUpNow)->isEnabled());
  store->setBackup(BackupStatus{});
  EXPECT_FALSE(action(Command::StopBackup)->isEnabled());
}

TEST_F(AppStoreShellTest, WelcomeUntilTheVaultHasSomething) {
  EXPECT_TRUE(window->root()->showsWelcome());
  EXPECT_TRUE(shell->isEmptyVault());
}
