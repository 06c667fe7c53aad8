// The store's long work end to end: a backup, a free-up and an import
// through AppStore over a temporary vault, against a real Dovecot, down to
// the ledger, the vault files and the message list.
#include "Store/StoreFixture.h"

#include "Store/BackupRules.h"
#include "Store/CleanupModel.h"
#include "support/DovecotFixture.h"

#include <QTimer>

#include <fstream>

using namespace bx;
using namespace bx::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::vector<SeedMessage> oldMessages(int count) {
  std::vector<SeedMessage> out;
  for (int i = 0; i < count; ++i)
    out.push_back({makeMessage("Harbour report " + std::to_string(i), "Body " + std::to_string(i) + ".\r\n"),
                   std::chrono::system_clock::time_point(std::chrono::seconds(1577836800LL + i * 86400LL)), {}});
  return out;
}

bool listHasSubject(const AppStore& s, const std::string& subject) {
  for (const auto& r : s.records())
    if (r.subject == subject) return true;
  return false;
}

}  // namespace

class LongWorkThroughTheStore : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    trustTestCA();
    dovecot = std::make_unique<DovecotFixture>();
  }
  void TearDown() override {
    StoreTest::TearDown();
    dovecot.reset();
  }
  MailAccount account(std::vector<std::string> folders) {
    return MailAccount(UUID::random(), "Harbour", users::alice.name,
                       IMAPServer("localhost", dovecot->imapsPort(), false), "custom", std::move(folders), {});
  }
  std::unique_ptr<DovecotFixture> dovecot;
};

TEST_F(LongWorkThroughTheStore, BackupThenFreeUpThenImport) {
  dovecot->createMailbox(users::alice, "Old");
  const auto uids = dovecot->append(users::alice, "Old", oldMessages(4));
  AppStore& s = makeStore();
  const MailAccount a = account({"Old"});
  s.addAccount(a, QString::fromStdString(users::alice.password));

  // Backup: ledger, toast, last backup, vault files and the list.
  s.backUpNow();
  EXPECT_TRUE(s.backup().running);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !s.backup().running; }, 60000));
  ASSERT_TRUE(s.toast());
  EXPECT_EQ(s.toast()->text, QStringLiteral("4 new messages saved"));
  EXPECT_EQ(s.backup().lastMessage, QStringLiteral("4 new messages saved"));
  const QString key = QString::fromStdString(a.directoryName()) + QStringLiteral("/Old");
  EXPECT_EQ(s.ledger().value(key), (LedgerLine{false, 4, 4, true, 4}));
  ASSERT_EQ(s.accounts().size(), 1u);
  EXPECT_TRUE(s.accounts()[0].lastBackup);
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.records().size() == 4 && !s.indexing(); }, 20000));
  EXPECT_TRUE(listHasSubject(s, "Harbour report 2"));

  // Free-up: exactly the verified messages leave the server.
  const AccountSyncState sync = s.layout().loadSync(a);
  std::ofstream(s.layout().url(sync.folders.at("Old").files.at(std::to_string(uids[0]))),
                std::ios::binary | std::ios::app)
      << "changed";
  s.checkCleanup(s.accounts()[0], QStringLiteral("Old"), std::chrono::system_clock::now());
  EXPECT_EQ(s.cleanup().stage(), CleanupStage::verify);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !s.cleanup().busy(); }, 60000));
  ASSERT_TRUE(s.cleanup().plan());
  EXPECT_EQ(s.cleanup().checked(), 4);
  EXPECT_EQ(s.cleanup().plan()->verified().size(), 3u);
  s.cleanup().setStage(CleanupStage::release);
  s.runCleanup(s.accounts()[0]);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !s.cleanup().busy(); }, 60000));
  EXPECT_EQ(s.cleanup().stage(), CleanupStage::done);
  EXPECT_EQ(dovecot->uids(users::alice, "Old"), std::vector<std::uint32_t>{uids[0]});
  EXPECT_EQ(s.toast()->text, QStringLiteral("Released 3 from the server · copies safe in the vault"));

  // Import: an mbox and a loose .eml reach the list.
  const fs::path box = dir.write(dir.path() / "in" / "Letters.mbox",
                                 "From a@example.com Mon Jan  1 10:00:00 2024\r\n" + eml("Letter one") +
                                     "\r\nFrom a@example.com Mon Jan  1 10:00:00 2024\r\n" + eml("Letter two"));
  const fs::path loose = dir.write(dir.path() / "in" / "note.eml", eml("Loose note"));
  s.importFiles({QString::fromStdString(box.string()), QString::fromStdString(loose.string())});
  EXPECT_EQ(s.importMessage(), QStringLiteral("Importing…"));
  EXPECT_TRUE(s.longWorkRunning());
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.records().size() == 7 && !s.indexing(); }, 20000));
  EXPECT_EQ(s.importMessage(), QStringLiteral("Imported 3 messages"));
  EXPECT_TRUE(listHasSubject(s, "Letter two"));
  EXPECT_TRUE(listHasSubject(s, "Loose note"));
  EXPECT_FALSE(s.longWorkRunning());
}

TEST_F(StoreTest, SchedulerReadsTheSettingsAndDefaultsToSixHours) {
  AppStore& s = makeStore();
  s.startScheduler();
  const auto timers = s.findChildren<QTimer*>();
  EXPECT_TRUE(std::any_of(timers.begin(), timers.end(), [](QTimer* t) {
    return t->interval() == 300 * 1000 && !t->isSingleShot() && t->isActive();
  }));

  // One account backed up two hours ago, without a saved password: a run
  // that starts ends at once with "No saved password".
  MailAccount a(UUID::random(), "Home", "me", IMAPServer("mail.example.com", 993, false), "custom", {"INBOX"}, {},
                std::chrono::system_clock::now() - 2h);
  s.setAccounts({a});
  QSettings().setValue(QStringLiteral("scheduleEnabled"), true);
  s.checkSchedule();  // "scheduleHours" never written: six hours, as the settings show
  EXPECT_FALSE(s.backup().running);
  QSettings().setValue(QStringLiteral("scheduleHours"), 1);
  s.checkSchedule();
  EXPECT_TRUE(s.backup().running);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !s.backup().running; }, 20000));
  EXPECT_EQ(s.toast()->text, QStringLiteral("Backup finished — 1 account needs attention"));
  ASSERT_TRUE(s.backupProblem(a));
  EXPECT_EQ(s.backupProblem(a)->title, "No saved password");
  QSettings().setValue(QStringLiteral("scheduleEnabled"), false);
  s.setAccounts({});
  s.backUpNow();
  EXPECT_TRUE(s.showAddAccount());
}
