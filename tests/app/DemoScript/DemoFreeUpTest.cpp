// The demo's free-up plan, its paced release and what the free-up sheet does
// with the scripted confirmation, over a small real vault and a real store.
#include "DemoMode/DemoMode.h"
#include "DemoMode/DemoTyping.h"
#include "Browser/SpineBinding.h"
#include "Browser/TimelineSpine.h"
#include "Demo/DemoRecorder.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Views/VaultButton.h"
#include "Store/CleanupModel.h"
#include "Store/StoreFixture.h"
#include "Vault/AccountSyncState.h"
#include "Vault/ArchiveLayout.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QSignalSpy>

#include <cstdio>

using namespace bx;
using namespace bx::test;

namespace {

const Date kNow = dateFromSeconds(1796904000);  // 2026-12-10 12:00 UTC

std::string rfcDate(int year) { return "Mon, 03 Mar " + std::to_string(year) + " 10:00:00 +0000"; }

class DemoFreeUpTest : public StoreTest {
protected:
  // `old` INBOX messages from 2010 (UIDs 101…), `recent` from 2025 after them.
  AppStore& vaultWith(int old, int recent, bool withSizes = true) {
    MailAccount a = account("Personal");
    const std::string accountDir = a.directoryName();
    FolderState folder("INBOX", accountDir + "/INBOX", 777);
    folder.sizes.emplace();
    for (int i = 0; i < old + recent; ++i) {
      const std::uint32_t uid = 101 + std::uint32_t(i);
      const std::string rel = accountDir + "/INBOX/" + std::to_string(uid) + ".eml";
      const std::string bytes = eml("m" + std::to_string(uid), rfcDate(i < old ? 2010 : 2025));
      put(rel, bytes);
      folder.files[std::to_string(uid)] = rel;
      if (withSizes) (*folder.sizes)[std::to_string(uid)] = std::int64_t(bytes.size());
      folder.highestUID = uid;
    }
    AccountSyncState sync;
    sync.folders["INBOX"] = folder;
    ArchiveLayout(vault).saveSync(sync, a);
    AppStore& s = makeStore();
    s.setAccounts({a});
    scan(s);
    return s;
  }
};

} // namespace

TEST_F(DemoFreeUpTest, PlanShapesByCountOfOldMessages) {
  struct Case {
    int old, recent;
    size_t items;
    bool madeUp;
  };
  const Case cases[] = {{13, 2, 14, true}, {12, 3, 12, false}, {0, 4, 0, false}};
  for (const Case& c : cases) {
    AppStore& s = vaultWith(c.old, c.recent);
    const auto plan = DemoMode::demoPlan(s, 5, kNow);
    ASSERT_TRUE(plan) << c.old;
    EXPECT_EQ(plan->mailbox, "INBOX");
    EXPECT_EQ(plan->displayName, "INBOX");
    EXPECT_EQ(plan->uidValidity, 777u);
    EXPECT_TRUE(plan->serverSupportsUIDPlus);
    ASSERT_EQ(plan->items.size(), c.items) << c.old;
    for (size_t i = 1; i < plan->items.size(); ++i) EXPECT_LE(plan->items[i - 1].uid, plan->items[i].uid);
    const auto sizeOf = [&](std::uint32_t uid) {
      return std::int64_t(eml("m" + std::to_string(uid), rfcDate(2010)).size());
    };
    if (c.madeUp) {
      const CleanupItem& ghost = plan->items[6];
      EXPECT_EQ(ghost.uid, plan->items[5].uid + 1);
      EXPECT_EQ(ghost.serverSize, 18204);
      EXPECT_FALSE(ghost.localPath);
      EXPECT_EQ(ghost.date, plan->items[5].date);
      // The UIDs are consecutive, so the made-up one repeats the next UID.
      EXPECT_EQ(ghost.uid, plan->items[7].uid);
      EXPECT_EQ(plan->items[11].serverSize, sizeOf(plan->items[11].uid) + 2310);
      EXPECT_EQ(plan->items[10].serverSize, sizeOf(plan->items[10].uid));
    } else {
      for (const CleanupItem& item : plan->items) {
        EXPECT_TRUE(item.localPath);
        EXPECT_EQ(item.serverSize, sizeOf(item.uid));
      }
    }
    store.reset();
    std::filesystem::remove_all(vault);
    std::filesystem::create_directories(vault);
  }
}

TEST_F(DemoFreeUpTest, NoPlanWithoutAccountStateOrSizes) {
  AppStore& s = makeStore();
  EXPECT_FALSE(DemoMode::demoPlan(s, 5, kNow)) << "no account";
  s.setAccounts({account("Personal")});
  EXPECT_FALSE(DemoMode::demoPlan(s, 5, kNow)) << "no sync state";
  store.reset();

  AppStore& noSizes = vaultWith(14, 0, false);
  const auto plan = DemoMode::demoPlan(noSizes, 5, kNow);
  ASSERT_TRUE(plan);
  EXPECT_TRUE(plan->items.empty());
}

TEST_F(DemoFreeUpTest, WalkThroughVerifiesAndCatchesBothMadeUpProblems) {
  AppStore& s = vaultWith(13, 0);
  auto walk = DemoMode::runDemoCleanup(s);
  ASSERT_TRUE(QTest::qWaitFor([&] { return walk.done(); }, 30000));
  CleanupModel& c = s.cleanup();
  EXPECT_EQ(c.stage(), CleanupStage::verify);
  EXPECT_FALSE(c.busy());
  ASSERT_TRUE(c.plan());
  ASSERT_EQ(c.plan()->items.size(), 14u);
  EXPECT_TRUE(c.plan()->items[6].status.is(CleanupItem::Status::Kind::notBackedUp));
  EXPECT_TRUE(c.plan()->items[11].status.is(CleanupItem::Status::Kind::sizeMismatch));
  EXPECT_EQ(c.plan()->verified().size(), 12u);
}

TEST_F(DemoFreeUpTest, ReleaseIsPacedSimulatedAndFinishes) {
  struct Case {
    int old;
    int n;
  };
  // Every copy with a local path is marked verified: 13 of the 14 items.
  for (const Case c : {Case{13, 13}, Case{0, 0}}) {
    AppStore& s = vaultWith(c.old, 1);
    CleanupPlan plan = *DemoMode::demoPlan(s, 5, kNow);
    for (auto& item : plan.items)
      if (item.localPath) item.status = CleanupItem::Status::verified();
    s.cleanup().setPlan(plan);
    std::vector<ReleaseProgress> seen;
    QObject::connect(&s.cleanup(), &CleanupModel::changed, &s, [&] {
      if (const auto r = s.cleanup().released(); r && (seen.empty() || !(seen.back() == *r))) seen.push_back(*r);
    });
    auto release = DemoMode::demoRelease(s, 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return release.done(); }, 5000));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), (ReleaseProgress{0, c.n}));
    EXPECT_EQ(seen.back(), (ReleaseProgress{c.n, c.n}));
    EXPECT_EQ(s.cleanup().stage(), CleanupStage::done) << c.old;
    EXPECT_FALSE(s.cleanup().busy());
    // Nothing left the vault.
    for (const auto& item : plan.items)
      if (item.localPath) EXPECT_TRUE(std::filesystem::exists(vault / *item.localPath));
    store.reset();
    std::filesystem::remove_all(vault);
    std::filesystem::create_directories(vault);
  }
}

TEST_F(DemoFreeUpTest, ReleaseWithoutPlanChangesNothing) {
  AppStore& s = vaultWith(13, 0);
  auto release = DemoMode::demoRelease(s, 5);
  EXPECT_TRUE(release.done());
  EXPECT_FALSE(s.cleanup().busy());
  EXPECT_FALSE(s.cleanup().released());
}

// A scripted phrase is never a user's consent: while a script runs the
// sheet shows it, and its release action does not reach the engine. The
// mode decides, not the environment: a harness variable alone (a self-test
// that names a snapshot folder for its shots) leaves the sheet the user's.
TEST_F(DemoFreeUpTest, OnlyASheetOpenedWhileAScriptRunsFollowsTheTypingAndNeverReleases) {
  AppStore& s = vaultWith(13, 0);
  CleanupPlan plan = *DemoMode::demoPlan(s, 5, kNow);
  for (auto& item : plan.items)
    if (item.localPath) item.status = CleanupItem::Status::verified();
  s.cleanup().setPlan(plan);
  s.cleanup().setStage(CleanupStage::release);
  const QString phrase = QStringLiteral("RELEASE %1").arg(plan.verified().size());
  for (const char* variable : {"BRINDLEBOX_SNAPSHOT_DIR", "BRINDLEBOX_DEMO_DIR"}) {
    SCOPED_TRACE(variable);
    qputenv(variable, QByteArray::fromStdString((dir / "shots").string()));
    auto* plain = new FreeUpSpaceSheet(AppSheetStore::of(s));
    DemoTyping::shared().setText(phrase);
    EXPECT_FALSE(plain->followsDemoTyping());
    EXPECT_TRUE(plain->confirmationField()->text().isEmpty());
    DemoTyping::shared().setText(QString());
    delete plain;
    qunsetenv(variable);
  }

  DemoTyping::setScriptRunning(true);
  SheetStore* host = AppSheetStore::of(s);
  auto* sheet = new FreeUpSpaceSheet(host);
  DemoTyping::shared().setText(phrase);
  EXPECT_EQ(sheet->confirmationField()->text(), DemoTyping::shared().text());
  EXPECT_TRUE(sheet->matches());
  EXPECT_TRUE(sheet->followsDemoTyping());
  ASSERT_TRUE(sheet->trailingButton());
  // Enabled: a click would start a release if it reached the engine.
  EXPECT_TRUE(sheet->trailingButton()->isEnabled());
  sheet->trailingButton()->click();
  QTest::qWait(200);
  EXPECT_FALSE(s.cleanup().busy());
  EXPECT_FALSE(s.cleanup().released());
  EXPECT_EQ(s.cleanup().stage(), CleanupStage::release);
  DemoTyping::shared().setText(QString());
  delete sheet;
  DemoTyping::setScriptRunning(false);
}

// The spine drag aims through the window at the rows the spine laid out: the
// cursor ends on the target month's row, the list is scrubbed there, and only
// a drag with a start month presses first.
TEST_F(DemoFreeUpTest, SpineDragEndsOnTheTargetRowAndScrubsTheList) {
  AppStore& store = vaultWith(4, 3);
  AppStore::setShared(&store);
  QWidget window;
  window.setObjectName("main");
  auto* box = new QVBoxLayout(&window);
  box->setContentsMargins(30, 40, 0, 0);  // the spine is not at the window's corner
  auto* spine = new TimelineSpine(&window);
  bindSpine(*spine, store);
  box->addWidget(spine);
  window.setGeometry(200, 120, 300, 600);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_FALSE(spine->geometryNow().isEmpty());

  QTemporaryDir dir;
  orrery::DemoRecorder rec(dir.path(), QRectF(window.geometry()), 30, {});
  auto rowCentre = [&](const MonthKey& m) {
    const SpineGeometry& g = spine->geometryNow();
    return QPointF(spine->mapToGlobal(QPointF(TimelineSpine::labelWidth + 14, g.top(m.index()) + g.rowHeight / 2)));
  };
  auto run = [](orrery::Task<> t) { ASSERT_TRUE(QTest::qWaitFor([&] { return t.done(); }, 10000)); };

  run(DemoMode::scrubSpine(rec, &window, MonthKey(2025, 3), MonthKey(2010, 3), 0.3));
  EXPECT_EQ(rec.clicks().size(), 1u);
  EXPECT_LT(QLineF(rec.cursor(), rowCentre(MonthKey(2010, 3))).length(), 0.5);
  EXPECT_EQ(store.timeline().probe(), MonthKey(2010, 3));
  EXPECT_EQ(store.timeline().currentMonth(), MonthKey(2010, 3));

  // From the current month; a month past the oldest aims at the oldest row.
  run(DemoMode::scrubSpine(rec, &window, std::nullopt, MonthKey(2025, 3), 0.3));
  EXPECT_EQ(rec.clicks().size(), 1u);
  EXPECT_LT(QLineF(rec.cursor(), rowCentre(MonthKey(2025, 3))).length(), 0.5);
  EXPECT_EQ(store.timeline().currentMonth(), MonthKey(2025, 3));
  run(DemoMode::scrubSpine(rec, &window, std::nullopt, MonthKey(2001, 1), 0.3));
  EXPECT_LT(QLineF(rec.cursor(), rowCentre(MonthKey(2010, 3))).length(), 0.5);
  AppStore::setShared(nullptr);
}
