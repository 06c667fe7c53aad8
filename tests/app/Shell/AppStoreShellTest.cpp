#include "ShellTestSupport.h"
#include "Shell/AppStoreShell.h"
#include "Shell/BrindleboxCommands.h"
#include "Shell/MainWindow.h"
#include "Shell/RootView.h"
#include "Shell/SettingsWindow.h"
#include "Shell/SheetHost.h"
#include "Theme/Theme.h"
#include "Views/ToastOverlay.h"
#include "Views/ToastView.h"
#include "Store/AppStore.h"

#include <QAction>
#include <QDialog>
#include <QPointer>
#include <QTest>

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

// Every launch rescans the vault: an empty one never shows the browser on
// the way, not even for the moment the scan walks the folder.
TEST_F(AppStoreShellTest, AnEmptyVaultNeverFlashesTheBrowserWhileItIsScanned) {
  ASSERT_TRUE(window->root()->showsWelcome());
  bool browserSeen = false;
  QObject::connect(shell.get(), &ShellStore::vaultChanged, [&] {
    QCoreApplication::processEvents();
    if (!window->root()->showsWelcome()) browserSeen = true;
  });
  bool seenScan = false;
  QObject::connect(store.get(), &AppStore::indexingChanged, [&] { seenScan = seenScan || store->indexing(); });
  store->reloadArchive();
  ASSERT_TRUE(QTest::qWaitFor([&] { return seenScan && !store->indexing(); }, 10000));
  QCoreApplication::processEvents();
  EXPECT_FALSE(browserSeen);
  EXPECT_TRUE(window->root()->showsWelcome());
}

// A click on a toast clears it in the store too, so the other overlay (and
// anything else reading the store) no longer shows it.
TEST_F(AppStoreShellTest, ClickingAToastClearsItInTheStore) {
  store->showToast(QStringLiteral("Saved “a.pdf”"), QStringLiteral("arrow.down.circle.fill"), Theme::seal);
  QCoreApplication::processEvents();
  ToastOverlay* shown = window->root()->welcomeToasts();
  ASSERT_NE(shown->currentView(), nullptr);
  QTest::mouseClick(shown->currentView(), Qt::LeftButton, {}, shown->currentView()->rect().center());
  QCoreApplication::processEvents();
  EXPECT_FALSE(store->toast().has_value());
  EXPECT_FALSE(window->root()->readerToasts()->toast().has_value());

  // A newer toast is not taken away by a click meant for an older one.
  store->showToast(QStringLiteral("first"), QStringLiteral("doc"), Theme::seal);
  const QUuid first = store->toast()->id;
  store->showToast(QStringLiteral("second"), QStringLiteral("doc"), Theme::seal);
  shell->clearToast(first);
  ASSERT_TRUE(store->toast().has_value());
  EXPECT_EQ(store->toast()->text, "second");
}

// The settings window closes on Escape and on the desktop's close key.
TEST_F(AppStoreShellTest, SettingsCloseOnEscapeAndCloseKey) {
  for (const QKeySequence& key :
       {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(QKeySequence::Close)}) {
    SCOPED_TRACE(key.toString().toStdString());
    QPointer<SettingsWindow> settings = SettingsWindow::open(*shell);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    settings->activateWindow();
    QCoreApplication::processEvents();
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : settings.data();
    QTest::keySequence(target, key);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !settings || !settings->isVisible(); }, 2000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}
