// The sheets over the application store: what the hosts read from it, and
// the flags the presented sheets put back.
#include "AppTestSupport.h"
#include "PlanFixtures.h"

#include "Sheets/BackupLedgerSheet.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Store/AppStore.h"
#include "Store/BackupRules.h"
#include "Store/CleanupModel.h"
#include "Views/VaultButton.h"
#include "support/TempDir.h"

#include <QDialog>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace bx::test {
namespace {

class StoreHostTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(vault.path().string()));
    store = std::make_unique<AppStore>();
  }
  void TearDown() override {
    store.reset();
    qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
    PinnedLook::TearDown();
  }
  TempDir vault;
  std::unique_ptr<AppStore> store;
};

TEST_F(StoreHostTest, FreeUpHostFollowsTheCleanupModel) {
  AppSheetStore& host = *AppSheetStore::of(*store);
  QSignalSpy changed(&host, &SheetStore::cleanupChanged);
  CleanupModel& m = store->cleanup();
  m.setPlan(verifiedPlan(3));
  m.setChecked(3);
  m.setReleased(ReleaseProgress{1, 3});
  m.setResult(QString("1 message"));
  EXPECT_GE(changed.count(), 4);
  const FreeUpState s = host.cleanupState();
  ASSERT_TRUE(s.plan);
  EXPECT_EQ(s.plan->items.size(), 3u);
  EXPECT_EQ(s.checked, 3);
  EXPECT_EQ(s.released, (std::pair<std::int64_t, std::int64_t>(1, 3)));
  EXPECT_EQ(s.result, "1 message");
  host.setCleanupStage(FreeUpStage::release);
  EXPECT_EQ(m.stage(), CleanupStage::release);
}

TEST_F(StoreHostTest, LedgerHostNeverMixesUpAccountsThatShareALabel) {
  MailAccount alice = account("Work", "alice");
  MailAccount bob = account("Work", "bob");
  MailAccount home = account("Home", "carol");
  store->setAccounts({alice, bob, home});
  AppSheetStore& host = *AppSheetStore::of(*store);

  // Problems, lines and the running account go by id; a label or a folder
  // name never stands for an account.
  store->setBackupProblems({{"Work", {"Sign-in refused", "x"}}, {"Home", {"Offline", "y"}}});
  EXPECT_FALSE(host.problem(alice));
  EXPECT_FALSE(host.problem(home));
  store->setBackupProblems({{QString::fromStdString(bob.id.string()), {"Sign-in refused", "x"}}});
  EXPECT_FALSE(host.problem(alice));
  EXPECT_EQ(host.problem(bob)->title, "Sign-in refused");

  store->setLedger({{"Work/INBOX", LedgerLine{true, 1, 2, false, 0}},
                    {BackupRules::ledgerKey(alice, "INBOX"), LedgerLine{false, 4, 4, true, 4}}});
  EXPECT_EQ(host.ledgerLine(alice, "INBOX")->newMessages, 4);
  EXPECT_FALSE(host.ledgerLine(bob, "INBOX"));

  BackupStatus st;
  st.running = true;
  st.progress.account = "Work";
  st.accountID = bob.id;
  store->setBackup(st);
  EXPECT_EQ(host.runningAccountID(), std::optional<UUID>(bob.id));
  EXPECT_EQ(host.runningAccountLabel(), "Work");

  QSignalSpy ended(&host, &SheetStore::backupRunEnded);
  st.running = false;
  store->setBackup(st);
  EXPECT_FALSE(host.runningAccountID());
  EXPECT_EQ(ended.count(), 1);
  store->setBackup(st);
  EXPECT_EQ(ended.count(), 1);

  // Removing an account takes its problem and its lines with it.
  store->removeAccount(bob);
  EXPECT_FALSE(host.anyProblem());
  store->removeAccount(alice);
  EXPECT_EQ(store->ledger().keys(), QStringList{"Work/INBOX"});
}

TEST_F(StoreHostTest, AddAccountOpensTheWizardOnlyAfterTheLedgerHasGone) {
  QPointer<QDialog> ledger = makeBackupLedger(*store, nullptr);
  auto* sheet = qobject_cast<BackupLedgerSheet*>(ledger.data());
  ASSERT_TRUE(sheet);
  sheet->setAttribute(Qt::WA_DontShowOnScreen);
  sheet->show();
  QSignalSpy finished(sheet, &QDialog::finished);
  QTest::mouseClick(sheet->addAccountButton(), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(store->showAddAccount());
  QTest::qWait(150);
  EXPECT_FALSE(store->showAddAccount());
  QTest::qWait(400);
  EXPECT_TRUE(store->showAddAccount());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(ledger);
}

TEST_F(StoreHostTest, TheFreeUpFactoryMakesAFreshSheetEachTime) {
  store->cleanup().setStage(CleanupStage::release);
  std::unique_ptr<QDialog> first(makeFreeUpSheet(*store, nullptr));
  auto* sheet = qobject_cast<FreeUpSpaceSheet*>(first.get());
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->stageIndex(), 2);
  sheet->setConfirmation("RELEASE 3");
  store->cleanup().setStage(CleanupStage::choose);
  std::unique_ptr<QDialog> second(makeFreeUpSheet(*store, nullptr));
  EXPECT_TRUE(qobject_cast<FreeUpSpaceSheet*>(second.get())->confirmation().isEmpty());
}

}  // namespace
}  // namespace bx::test
