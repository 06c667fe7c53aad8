// Writes the free-up sheet's stages and the backup ledger's states as PNG
// files, in both appearances, for looking at by eye:
//   bx_freeup_gallery <output folder>
// Files: freeup-<stage>-<light|dark>.png, ledger-<state>-<light|dark>.png.
// Runs under QT_QPA_PLATFORM=offscreen.
#include "../FakeHosts.h"
#include "../PlanFixtures.h"

#include "Platform/Appearance.h"
#include "Platform/ReduceMotion.h"
#include "Sheets/BackupLedgerSheet.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Theme/Motion.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTest>
#include <QTextStream>

using namespace bx;
using namespace bx::test;

namespace {

QString outDir;

void save(QWidget* w, const QString& name) {
  w->setAttribute(Qt::WA_DontShowOnScreen);
  w->show();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const QString scheme = Appearance::shared().isDark() ? "dark" : "light";
  const QString path = QDir(outDir).filePath(name + "-" + scheme + ".png");
  w->grab().save(path);
  QTextStream(stdout) << path << "\n";
}

// What the window shows on its screen: the real paint, with the effects of
// views that are moving.
void saveFromScreen(QWidget* w, const QString& name) {
  QCoreApplication::processEvents();
  const QString scheme = Appearance::shared().isDark() ? "dark" : "light";
  const QString path = QDir(outDir).filePath(name + "-" + scheme + ".png");
  w->screen()->grabWindow(w->winId()).save(path);
  QTextStream(stdout) << path << "\n";
}

CleanupPlan mixedPlan() {
  CleanupPlan p = makePlan(60, [](std::size_t i) {
    if (i == 2) return CleanupItem::Status::notBackedUp();
    if (i == 5) return CleanupItem::Status::sizeMismatch(4711, 4712);
    if (i == 9) return CleanupItem::Status::unreadable();
    return i < 40 ? CleanupItem::Status::verified() : CleanupItem::Status::pending();
  });
  p.displayName = "Inbox";
  return p;
}

void freeUp() {
  FakeFreeUpHost host;
  host.accountList = {account("Work", "alice@example.org", "gmail", {"INBOX"}),
                      account("Home", "al@example.net")};
  host.accountList[0].server.host = "imap.gmail.com";
  auto shoot = [&](const FreeUpState& s, const QString& name, const std::function<void(FreeUpSpaceSheet*)>& tweak) {
    host.current = s;
    auto* sheet = new FreeUpSpaceSheet(&host);
    if (tweak) tweak(sheet);
    save(sheet, "freeup-" + name);
    host.current = {};
    delete sheet;
  };
  shoot({}, "choose", nullptr);

  FreeUpState s;
  s.stage = FreeUpStage::verify;
  s.busy = true;
  shoot(s, "verify-waiting", nullptr);
  s.plan = mixedPlan();
  s.checked = 40;
  shoot(s, "verify-running", nullptr);
  for (auto& item : s.plan->items)
    if (item.status.is(CleanupItem::Status::Kind::pending)) item.status = CleanupItem::Status::verified();
  s.checked = 60;
  s.busy = false;
  shoot(s, "verify-done-kept-expanded", nullptr);

  s.stage = FreeUpStage::release;
  shoot(s, "release-typed", [](FreeUpSpaceSheet* sh) { sh->setConfirmation("release 57"); });
  s.busy = true;
  s.released = std::pair<std::int64_t, std::int64_t>(24, 57);
  shoot(s, "release-running", nullptr);

  s.stage = FreeUpStage::done;
  s.busy = false;
  s.released = std::pair<std::int64_t, std::int64_t>(57, 57);
  s.result = "57 messages \u00B7 57 KB released from Work \u203A Inbox. Your verified copies stay in the vault.";
  shoot(s, "done", nullptr);
  s.leftoversUnflagged = 3;
  shoot(s, "done-leftovers", nullptr);
}

void ledger() {
  auto shoot = [&](FakeLedgerHost& host, const QString& name) {
    auto* sheet = new BackupLedgerSheet(&host);
    save(sheet, "ledger-" + name);
    delete sheet;
  };
  MailAccount work = account("Work", "alice@example.org", "fastmail", {"INBOX", "Sent", "Archive"});
  MailAccount home = account("Home", "al@example.net", "icloud", {"INBOX"});
  work.lastBackup = std::chrono::system_clock::now() - std::chrono::hours(3);
  AccountSyncState ws;
  ws.folders["INBOX"] = FolderState("INBOX", "Work/INBOX", 1);
  ws.folders["INBOX"].lastRun = work.lastBackup;

  auto fill = [&](FakeLedgerHost& h) {
    h.accountList = {work, home};
    h.syncs[work.id] = ws;
    h.counts = {{{"Work", "INBOX"}, 12840}, {{"Work", "Sent"}, 2210}};
    h.last = "1,234 new messages saved";
    h.summary = "15,050 messages \u00B7 1.2 GB \u00B7 last checked 3 h ago";
    h.path = QDir::homePath() + "/Documents/Brindlebox";
    h.importedShown = true;
    h.imported = 312;
    h.lines[{work.id, "INBOX"}] = {false, 3, 3, true, 3};
    h.lines[{work.id, "Sent"}] = {false, 0, 0, true, 0};
  };
  FakeLedgerHost idle;
  fill(idle);
  shoot(idle, "idle");

  FakeLedgerHost running;
  fill(running);
  running.running = true;
  running.runningLabel = "Work";
  running.runningID = work.id;
  running.phaseText = "Downloading";
  running.lines[{work.id, "Sent"}] = {true, 120, 480, false, 0};
  running.lines[{work.id, "Archive"}] = {true, 0, 0, false, 0};
  shoot(running, "running");

  FakeLedgerHost empty;
  empty.path = "/srv/mail/Vault";
  shoot(empty, "empty");

  FakeLedgerHost problem;
  fill(problem);
  problem.problems[home.id] = {"Sign-in refused by imap.mail.me.com",
                               "Check the app-specific password, or make a new one."};
  shoot(problem, "problem");

  // After a run the server cut short: what failed and what is still missing.
  FakeLedgerHost failed;
  fill(failed);
  failed.last = "Backup finished \u2014 1 account needs attention \u00B7 40 new messages saved";
  failed.problems[work.id] = {"Lost the connection to imap.fastmail.com",
                              "The server closed the connection. Try again in a moment."};
  failed.lines[{work.id, "INBOX"}] = {false, 3, 3, true, 3};
  failed.lines[{work.id, "Sent"}] = {false, 40, 480, false, 0, true};
  failed.lines[{work.id, "Archive"}] = {false, 0, 0, false, 0, true};
  shoot(failed, "failed");
}

// Moments in the middle of a change, with animations running: the release
// stage coming in over the leaving verify stage, and the ledger's counts
// rolling. `at` is how far in, in milliseconds.
void midway(int at) {
  Motion::setInstant(false);
  const QString tag = QString::number(at) + "ms";
  {
    FakeFreeUpHost host;
    host.accountList = {account("Work", "alice@example.org")};
    host.current.stage = FreeUpStage::verify;
    host.current.plan = mixedPlan();
    host.current.checked = 60;
    auto* sheet = new FreeUpSpaceSheet(&host);
    sheet->show();
    QTest::qWaitForWindowExposed(sheet);
    host.current.stage = FreeUpStage::release;
    emit host.cleanupChanged();
    sheet->setConfirmation("release 37");
    QTest::qWait(at);
    saveFromScreen(sheet, "freeup-midway-" + tag);
    host.current = {};
    delete sheet;
  }
  {
    FakeLedgerHost host;
    MailAccount work = account("Work", "alice@example.org", "fastmail", {"INBOX", "Sent"});
    host.accountList = {work};
    host.counts = {{{"Work", "INBOX"}, 999}, {{"Work", "Sent"}, 12839}};
    auto* sheet = new BackupLedgerSheet(&host);
    sheet->show();
    QTest::qWaitForWindowExposed(sheet);
    host.counts = {{{"Work", "INBOX"}, 1000}, {{"Work", "Sent"}, 12840}};
    host.running = true;
    host.runningLabel = "Work";
    host.runningID = work.id;
    host.phaseText = "Downloading";
    host.publish();
    QTest::qWait(at);
    saveFromScreen(sheet, "ledger-midway-" + tag);
    delete sheet;
  }
  Motion::setInstant(true);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  QDir().mkpath(outDir);
  Motion::setInstant(true);
  ReduceMotion::shared().setOverride(false);
  for (auto scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    Appearance::shared().setOverride(scheme);
    freeUp();
    ledger();
    for (int at : {60, 140}) midway(at);
  }
  return 0;
}
