// The backup ledger over a scripted host: status texts, per-account lookups
// by id, the add-account hand-over and the keys.
#include "AppTestSupport.h"
#include "SheetDriver.h"
#include "FakeHosts.h"
#include "PlanFixtures.h"

#include "Sheets/BackupLedgerSheet.h"
#include "Sheets/FreeUpSheetParts.h"
#include "Sheets/SheetHeader.h"
#include "Theme/Theme.h"
#include "Views/ProgressLine.h"
#include "Views/VaultButton.h"
#include "Views/VaultEmpty.h"

#include <QDir>
#include <QPointer>
#include <QTest>

namespace bx::test {
namespace {

TEST(LedgerStatusTest, LineAndLastRunGiveTextAndColour) {
  const auto ago = [](Date) { return QString("3 h ago"); };
  const Date run = dateFromSeconds(1700000000);
  using L = BackupLedgerLine;
  const struct {
    std::optional<L> line;
    std::optional<Date> lastRun;
    QString text;
    ThemeColor color;
    bool check;
    std::optional<double> bar;
  } cases[] = {
      {L{true, 0, 0, false, 0}, run, "+0 of 0", Theme::focus, false, 0.03},
      {L{true, 1234, 5000, false, 0}, std::nullopt, "+1,234 of 5,000", Theme::focus, false, 1234.0 / 5000},
      {L{false, 3, 3, true, 3}, run, "+3 new", Theme::seal, true, std::nullopt},
      {L{false, 0, 0, true, 0}, std::nullopt, "up to date", Theme::seal, true, std::nullopt},
      {L{}, run, "3 h ago", Theme::ink3, false, std::nullopt},  // reset at the start of a run
      {std::nullopt, run, "3 h ago", Theme::ink3, false, std::nullopt},
      {std::nullopt, std::nullopt, "waiting", Theme::ink3, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    const LedgerStatus s = LedgerStatus::of(c.line, c.lastRun, ago);
    EXPECT_EQ(s.text, c.text);
    EXPECT_EQ(s.color, c.color);
    EXPECT_EQ(s.checkmark, c.check);
    ASSERT_EQ(s.progress.has_value(), c.bar.has_value());
    if (c.bar) EXPECT_DOUBLE_EQ(*s.progress, *c.bar);
  }
}

TEST(LedgerStatusTest, StatusTitle) {
  EXPECT_EQ(BackupLedgerSheet::statusTitle(true, "Work", QString("x")), QString::fromUtf8("Backing up Work\u2026"));
  EXPECT_EQ(BackupLedgerSheet::statusTitle(false, "", QString("Stopped")), "Stopped");
  EXPECT_EQ(BackupLedgerSheet::statusTitle(false, "", std::nullopt), "Your vault");
}

class BackupLedgerSheetTest : public PinnedLook {
protected:
  void TearDown() override {
    delete sheet;
    PinnedLook::TearDown();
  }
  BackupLedgerSheet* open() { return sheet = openSheet<BackupLedgerSheet>(host); }
  FakeLedgerHost host;
  QPointer<BackupLedgerSheet> sheet;
};

TEST_F(BackupLedgerSheetTest, TwoAccountsLabelledWorkShowTheirOwnState) {
  MailAccount alice = account("Work", "alice");
  MailAccount bob = account("Work", "bob");
  host.accountList = {alice, bob};
  // Both backed up: bob's mail went under a folder of its own.
  const std::string bobDir = "Work (" + bob.id.string().substr(0, 8) + ")";
  AccountSyncState as, bs;
  as.folders["INBOX"] = FolderState("INBOX", "Work/INBOX", 1);
  bs.folders["INBOX"] = FolderState("INBOX", bobDir + "/INBOX", 1);
  bs.folders["INBOX"].lastRun = std::chrono::system_clock::now();
  host.syncs = {{alice.id, as}, {bob.id, bs}};
  host.counts = {{{"Work", "INBOX"}, 12}, {{bobDir, "INBOX"}, 7}};
  open();
  EXPECT_EQ(sheet->card(alice.id)->line("INBOX")->countText(), "12");
  EXPECT_EQ(sheet->card(bob.id)->line("INBOX")->countText(), "7");
  EXPECT_EQ(sheet->card(alice.id)->line("INBOX")->statusText(), "waiting");

  // Alice is being backed up; bob's last run failed.
  host.running = true;
  host.runningLabel = "Work";
  host.runningID = alice.id;
  host.phaseText = "Downloading";
  host.problems[bob.id] = {"Sign-in refused", "Check the app password."};
  host.lines[{alice.id, "INBOX"}] = {true, 2, 10, false, 0};
  host.publish();
  EXPECT_EQ(sheet->header()->title(), QString::fromUtf8("Backing up Work\u2026"));
  EXPECT_TRUE(sheet->showsSpinner());
  EXPECT_EQ(sheet->actionButton()->text(), "Stop");
  EXPECT_TRUE(sheet->card(alice.id)->busy());
  EXPECT_EQ(sheet->card(alice.id)->trailingText(), "Downloading");
  EXPECT_FALSE(sheet->card(bob.id)->busy());
  EXPECT_EQ(sheet->card(bob.id)->trailingText(), "never backed up");
  EXPECT_TRUE(sheet->card(bob.id)->backUpButton()->isVisibleTo(sheet));
  EXPECT_FALSE(sheet->card(bob.id)->backUpButton()->isEnabled());
  EXPECT_FALSE(sheet->card(alice.id)->problemNote()->isVisibleTo(sheet));
  EXPECT_TRUE(sheet->card(bob.id)->problemNote()->isVisibleTo(sheet));
  EXPECT_EQ(sheet->card(alice.id)->line("INBOX")->statusText(), "+2 of 10");
  EXPECT_NE(sheet->card(alice.id)->line("INBOX")->progress(), nullptr);
  EXPECT_EQ(sheet->card(bob.id)->line("INBOX")->statusText(), "just now");
  EXPECT_EQ(sheet->card(bob.id)->line("INBOX")->progress(), nullptr);

  QTest::mouseClick(sheet->actionButton(), Qt::LeftButton);
  EXPECT_EQ(host.calls, QStringList{"stop"});
}

TEST_F(BackupLedgerSheetTest, AFailedRunReadsAsAFailure) {
  MailAccount a = account("Work", "alice", "custom", {"INBOX", "Sent", "Drafts"});
  host.accountList = {a};
  AccountSyncState sync;
  sync.folders["Drafts"] = FolderState("Drafts", "Work/Drafts", 1);
  sync.folders["Drafts"].lastRun = std::chrono::system_clock::now();
  host.syncs = {{a.id, sync}};
  host.last = QString::fromUtf8("Backup finished \u2014 1 account needs attention");
  host.problems[a.id] = {"Lost the connection", "The server closed the connection."};
  // Cut off in INBOX after 58 of 300; Sent never reached; Drafts had been done
  // before.
  host.lines[{a.id, "INBOX"}] = {false, 58, 300, false, 0, true};
  host.lines[{a.id, "Sent"}] = {false, 0, 0, false, 0, true};
  host.lines[{a.id, "Drafts"}] = {false, 4, 4, true, 4, false};
  open();
  EXPECT_EQ(sheet->header()->title(), QString::fromUtf8("Backup finished \u2014 1 account needs attention"));
  EXPECT_EQ(sheet->shieldSymbol(), "exclamationmark.shield.fill");
  const struct {
    const char* mailbox;
    const char* text;
    ThemeColor color;
  } lines[] = {
      {"INBOX", "58 of 300 saved", Theme::caution},
      {"Sent", "not backed up", Theme::caution},
      {"Drafts", "+4 new", Theme::seal},
  };
  for (const auto& l : lines) {
    EXPECT_EQ(sheet->card(a.id)->line(l.mailbox)->statusText(), l.text) << l.mailbox;
    EXPECT_EQ(sheet->card(a.id)->line(l.mailbox)->statusColor(), l.color) << l.mailbox;
  }
  EXPECT_TRUE(sheet->card(a.id)->problemNote()->isVisibleTo(sheet));

  // Once nothing is wrong any more the shield is the seal again.
  host.problems.clear();
  host.publish();
  EXPECT_EQ(sheet->shieldSymbol(), "checkmark.shield.fill");
}

TEST_F(BackupLedgerSheetTest, SyncFilesAreReadWhenBuiltAndWhenARunEndsOnly) {
  host.accountList = {account("Work", "alice")};
  open();
  const int afterOpen = host.syncReads;
  EXPECT_GE(afterOpen, 1);
  for (int i = 0; i < 20; ++i) host.publish();  // progress reports
  EXPECT_EQ(host.syncReads, afterOpen);
  emit host.backupRunEnded();
  EXPECT_EQ(host.syncReads, afterOpen + 1);
}

TEST_F(BackupLedgerSheetTest, BeforeTheFirstBackupCountsGoByTheLabelsFolder) {
  MailAccount a = account("Work", "alice", "custom", {"INBOX", "Archive/Old"});
  a.knownFolders = {IMAPMailbox("Archive/Old", "Archive/Old", std::string("/"))};
  host.accountList = {a};
  host.counts = {{{a.directoryName(), "INBOX"}, 4}};
  open();
  EXPECT_EQ(sheet->card(a.id)->line("INBOX")->countText(), "4");
  EXPECT_EQ(sheet->card(a.id)->countKey("Archive/Old").first, a.directoryName());
}

TEST_F(BackupLedgerSheetTest, EmptyVaultOffersToAddAnAccountAfterClosing) {
  host.importedShown = true;
  host.imported = 1234;
  open();
  EXPECT_TRUE(sheet->emptyState()->isVisibleTo(sheet));
  EXPECT_TRUE(sheet->importedRow()->isVisibleTo(sheet));
  EXPECT_EQ(sheet->importedText(), "1,234");
  EXPECT_FALSE(sheet->actionButton()->isEnabled());
  EXPECT_EQ(sheet->header()->title(), "Your vault");
  QTest::mouseClick(sheet->addAccountButton(), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_FALSE(sheet);
  EXPECT_EQ(host.calls, QStringList{"add account"});
}

TEST_F(BackupLedgerSheetTest, ReturnAndEscapeClose) {
  for (int k : {Qt::Key_Return, Qt::Key_Escape}) {
    open();
    QTest::keyClick(sheet, Qt::Key(k));
    QCoreApplication::processEvents();
    EXPECT_FALSE(sheet) << k;
  }
  EXPECT_TRUE(host.calls.isEmpty());  // closing never stops a backup
}

TEST_F(BackupLedgerSheetTest, FooterShowsTheVaultPathAndBacksUpAll) {
  host.accountList = {account("Work", "alice")};
  host.path = QDir::homePath() + "/Documents/Brindlebox";
  open();
  EXPECT_EQ(sheet->pathText(), "~/Documents/Brindlebox");
  QTest::mouseClick(sheet->actionButton(), Qt::LeftButton);
  QTest::mouseClick(sheet->showButton(), Qt::LeftButton);
  EXPECT_EQ(host.calls, (QStringList{"backup all", "show"}));
}

}  // namespace
}  // namespace bx::test
