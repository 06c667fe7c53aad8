// The store's long work end to end: a backup, a free-up and an import
// through AppStore over a temporary vault, against a real Dovecot, down to
// the ledger, the vault files and the message list.
#include "Store/StoreFixture.h"

#include "Sheets/AppSheetStore.h"
#include "Sheets/BackupLedgerSheet.h"
#include "Views/VaultButton.h"
#include "Store/BackupRules.h"
#include "Store/CleanupModel.h"
#include "support/DovecotFixture.h"
#include "support/FaultProxy.h"

#include <sys/stat.h>

#include <atomic>

#include <QTimer>

#include <fstream>

using namespace bx;
using namespace bx::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::chrono::system_clock::time_point oldDate(int i) {
  return std::chrono::system_clock::time_point(std::chrono::seconds(1577836800LL + i * 86400LL));
}

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
  const QString key = BackupRules::ledgerKey(a, "Old");
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

// ---- Accounts by identity, against a real server

namespace {

int emlFilesUnder(const fs::path& root) {
  int n = 0;
  for (const auto& e : fs::recursive_directory_iterator(root))
    n += e.is_regular_file() && e.path().extension() == ".eml";
  return n;
}

}  // namespace

class AccountsOnDovecot : public LongWorkThroughTheStore {
protected:
  MailAccount login(const std::string& label, const TestUser& user, std::uint16_t port = 0, bool plain = false) {
    return MailAccount(UUID::random(), label, user.name,
                       IMAPServer(plain ? "127.0.0.1" : "localhost", port ? port : dovecot->imapsPort(), plain),
                       "custom", {"INBOX"}, {});
  }
  void backUp(AppStore& s, const std::optional<MailAccount>& only = std::nullopt) {
    s.backUpNow(only);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.backup().running; }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.indexing(); }, 20000));
  }
};

TEST_F(AccountsOnDovecot, AnAccountRemovedAndAddedAgainFetchesNothingTwice) {
  dovecot->append(users::alice, "INBOX", oldMessages(6));
  AppStore& s = makeStore();
  const MailAccount first = login("Harbour", users::alice);
  s.addAccount(first, QString::fromStdString(users::alice.password));
  backUp(s);
  ASSERT_EQ(s.records().size(), 6u);

  // As a user changes a password: remove the account, add the login again.
  s.removeAccount(first);
  MailAccount again = login("Harbour", users::alice);
  s.addAccount(again, QString::fromStdString(users::alice.password));
  backUp(s, again);

  EXPECT_EQ(s.backup().lastMessage, QStringLiteral("Everything was already in the vault"));
  EXPECT_EQ(s.ledger().value(BackupRules::ledgerKey(again, "INBOX")), (LedgerLine{false, 0, 0, true, 0}));
  EXPECT_EQ(emlFilesUnder(s.layout().root), 6);
  EXPECT_EQ(s.records().size(), 6u);
  // One group, the live account's, holding its mail.
  EXPECT_EQ(s.archiveAccounts(), QStringList{QStringLiteral("Harbour")});
  EXPECT_EQ(s.accountFolder(s.accounts().at(0)), QStringLiteral("Harbour"));
  EXPECT_EQ(s.count(QStringLiteral("Harbour"), QStringLiteral("INBOX")), 6);

  // New mail goes on into the same folder.
  dovecot->append(users::alice, "INBOX", {{makeMessage("Harbour late", "Late.\r\n"), oldDate(40), {}}});
  backUp(s, s.accounts().at(0));
  EXPECT_EQ(s.backup().lastMessage, QStringLiteral("1 new message saved"));
  EXPECT_EQ(emlFilesUnder(s.layout().root / "Harbour"), 7);
  EXPECT_EQ(s.archiveAccounts(), QStringList{QStringLiteral("Harbour")});
}

TEST_F(AccountsOnDovecot, TwoAccountsWithOneLabelKeepTheirOwnLedgerAndGroups) {
  dovecot->append(users::alice, "INBOX", oldMessages(3));
  dovecot->append(users::bob, "INBOX", oldMessages(2));
  AppStore& s = makeStore();
  const MailAccount alice = login("Work", users::alice), bob = login("Work", users::bob);
  s.addAccount(alice, QString::fromStdString(users::alice.password));
  s.addAccount(bob, QString::fromStdString(users::bob.password));

  // The ledger as the application shows it, over the real store adapter
  // (which refreshes it first); what each card showed whenever the store
  // published a change. A card that shows its run shows the phase in place
  // of its "Back Up" button.
  BackupLedgerSheet ledger(AppSheetStore::of(s));
  const auto running = [&](const UUID& id) { return !ledger.card(id)->backUpButton()->isVisibleTo(&ledger); };
  std::vector<std::pair<bool, bool>> busy;  // (alice's card, bob's card)
  QObject::connect(&s, &AppStore::backupChanged, &ledger,
                   [&] { busy.emplace_back(running(alice.id), running(bob.id)); });
  backUp(s);

  const auto shown = [&](std::pair<bool, bool> p) { return std::find(busy.begin(), busy.end(), p) != busy.end(); };
  EXPECT_TRUE(shown({true, false})) << "alice's card never showed her run";
  EXPECT_TRUE(shown({false, true})) << "bob's card never showed his run";
  EXPECT_FALSE(shown({true, true}));
  EXPECT_EQ(busy.back(), std::make_pair(false, false));

  const std::string bobFolder = "Work (" + bob.id.string().substr(0, 8) + ")";
  EXPECT_EQ(s.accountFolder(bob).toStdString(), bobFolder);
  EXPECT_EQ(s.archiveAccounts(), (QStringList{QStringLiteral("Work"), QString::fromStdString(bobFolder)}));
  ASSERT_TRUE(ledger.card(alice.id)->line("INBOX"));
  EXPECT_EQ(ledger.card(alice.id)->line("INBOX")->statusText(), QStringLiteral("+3 new"));
  EXPECT_EQ(ledger.card(bob.id)->line("INBOX")->statusText(), QStringLiteral("+2 new"));
  EXPECT_EQ(ledger.card(alice.id)->line("INBOX")->countText(), QStringLiteral("3"));
  EXPECT_EQ(ledger.card(bob.id)->line("INBOX")->countText(), QStringLiteral("2"));
}

TEST_F(AccountsOnDovecot, FailedRunsAreToldAsFailures) {
  dovecot->append(users::alice, "INBOX", oldMessages(100));
  AppStore& s = makeStore();
  BackupLedgerSheet ledger(AppSheetStore::of(s));

  // A wrong password: nothing was checked.
  MailAccount wrong = login("Harbour", users::alice);
  s.addAccount(wrong, QStringLiteral("not the password"));
  backUp(s);
  EXPECT_EQ(s.backup().lastMessage, QStringLiteral("Backup finished — 1 account needs attention"));
  EXPECT_EQ(ledger.statusTitle(), QStringLiteral("Backup finished — 1 account needs attention"));
  EXPECT_EQ(ledger.shieldSymbol(), QStringLiteral("exclamationmark.shield.fill"));
  EXPECT_EQ(ledger.card(wrong.id)->line("INBOX")->statusText(), QStringLiteral("not backed up"));
  s.removeAccount(wrong);
  EXPECT_TRUE(s.backupProblems().isEmpty()) << "a removed account's problem stays behind";

  // A server that hangs up after the first batch of bodies.
  std::atomic<int> bodyFetches{0};
  FaultProxy proxy(dovecot->imapPort(), [&](const std::string& line) {
    if (line.find("BODY.PEEK[]") != std::string::npos && ++bodyFetches == 2)
      return FaultProxy::Decision{FaultProxy::Action::dropBeforeForward, {}};
    return FaultProxy::Decision{};
  });
  const MailAccount cut = login("Harbour", users::alice, proxy.port(), true);
  s.addAccount(cut, QString::fromStdString(users::alice.password));
  backUp(s);
  // The headline says an account failed; its folder line says how far it got.
  EXPECT_EQ(ledger.statusTitle(), QStringLiteral("Backup finished — 1 account needs attention"));
  EXPECT_EQ(ledger.shieldSymbol(), QStringLiteral("exclamationmark.shield.fill"));
  const auto line = s.ledger().value(BackupRules::ledgerKey(cut, "INBOX"));
  EXPECT_TRUE(line.failed);
  EXPECT_GT(line.done, 0);
  EXPECT_LT(line.done, 100);
  EXPECT_EQ(ledger.card(cut.id)->line("INBOX")->statusText(),
            QString::number(line.done) + QStringLiteral(" of 100 saved"));
}

TEST_F(AccountsOnDovecot, WhatTheApplicationWritesIsPrivate) {
  dovecot->append(users::alice, "INBOX", oldMessages(2));
  AppStore& s = makeStore();
  const MailAccount a = login("Harbour", users::alice);
  s.addAccount(a, QString::fromStdString(users::alice.password));
  backUp(s);
  const auto mode = [](const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
  };
  EXPECT_EQ(mode(dir / "passwords.json"), 0600u);
  EXPECT_EQ(mode(s.layout().accountsURL()), 0600u);
  EXPECT_EQ(mode(s.layout().syncURL(a)), 0600u);
  EXPECT_EQ(mode(s.layout().indexURL()), 0600u);
  for (const auto& e : fs::recursive_directory_iterator(s.layout().root / "Harbour"))
    EXPECT_EQ(mode(e.path()), e.is_directory() ? 0700u : 0600u) << e.path();
  EXPECT_EQ(mode(s.layout().metaDirectory()), 0700u);

  // A file the user opened up stays open after the next save.
  ASSERT_EQ(::chmod(s.layout().accountsURL().c_str(), 0640), 0);
  auto renamed = s.accounts().at(0);
  renamed.folders = {"INBOX", "Old"};
  s.updateAccount(renamed);
  EXPECT_EQ(mode(s.layout().accountsURL()), 0640u);
}
