// The verify ledger over large plans: which rows exist, which repaint, and
// when the table follows the check.
#include "AppTestSupport.h"
#include "PlanFixtures.h"

#include "Sheets/FreeUpText.h"
#include "Sheets/VerifyLedger.h"
#include "Theme/Theme.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace bx::test {
namespace {

using RowKind = VerifyLedgerModel::RowKind;
using S = CleanupItem::Status;

CleanupPlan pendingPlan(std::size_t n) {
  return makePlan(n, [](std::size_t) { return S::pending(); });
}

class VerifyLedgerTest : public PinnedLook {};

TEST_F(VerifyLedgerTest, FollowsTheNextRowOnlyBetween11And399) {
  const CleanupPlan plan = pendingPlan(1000);
  const struct {
    std::int64_t n;
    bool follows;
  } cases[] = {{10, false}, {11, true}, {399, true}, {400, false}, {1000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    VerifyLedger ledger(plan, 0, true);
    ledger.resize(600, 300);
    ledger.setAttribute(Qt::WA_DontShowOnScreen);
    ledger.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(ledger.verticalScrollBar()->value(), 0);
    ledger.setChecked(c.n);
    QCoreApplication::processEvents();
    EXPECT_EQ(VerifyLedger::follows(c.n, plan.items.size()), c.follows);
    if (c.follows) {
      // The next row to check sits at the bottom of the visible area.
      const QRect r = ledger.visualRect(ledger.ledgerModel()->index(ledger.ledgerModel()->itemRow(std::size_t(c.n))));
      EXPECT_EQ(r.bottom(), ledger.viewport()->height() - 1);
    } else {
      EXPECT_EQ(ledger.verticalScrollBar()->value(), 0);
    }
  }
}

// The row being checked stays at the bottom through later layouts: the
// ledger getting its real size after the scroll (a sheet that has just put
// it in place), and rows of kept items appearing above it after the last
// check, which today push the last row below the edge.
TEST_F(VerifyLedgerTest, TheFollowedRowStaysAtTheBottomThroughLaterLayouts) {
  auto atBottom = [](VerifyLedger& ledger, std::size_t item) {
    QCoreApplication::processEvents();
    const auto* m = ledger.ledgerModel();
    return ledger.visualRect(m->index(m->itemRow(item))).bottom() == ledger.viewport()->height() - 1;
  };
  {
    SCOPED_TRACE("sized after the scroll");
    VerifyLedger ledger(pendingPlan(200), 0, true);
    ledger.resize(600, 90);
    ledger.setAttribute(Qt::WA_DontShowOnScreen);
    ledger.show();
    QCoreApplication::processEvents();
    ledger.setChecked(80);
    ledger.resize(600, 420);
    EXPECT_TRUE(atBottom(ledger, 80));
  }
  {
    SCOPED_TRACE("kept rows inserted after the last check");
    CleanupPlan plan = pendingPlan(40);
    VerifyLedger ledger(plan, 0, true);
    ledger.resize(600, 300);
    ledger.setAttribute(Qt::WA_DontShowOnScreen);
    ledger.show();
    QCoreApplication::processEvents();
    for (std::size_t i = 0; i < 39; ++i) plan.items[i].status = S::verified();
    ledger.setPlan(plan);
    ledger.setChecked(39);
    ASSERT_TRUE(atBottom(ledger, 39));
    plan.items[39].status = S::notBackedUp();
    ledger.setPlan(plan);
    ledger.setChecked(40);
    EXPECT_TRUE(atBottom(ledger, 39));
    // Once the user scrolls, the ledger leaves the rows where they are.
    ledger.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_FALSE(ledger.following());
    ledger.resize(600, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(ledger.verticalScrollBar()->value(), 0);
  }
}

TEST_F(VerifyLedgerTest, FirstDisplayDoesNotScroll) {
  VerifyLedger ledger(pendingPlan(1000), 200, true);
  ledger.resize(600, 300);
  ledger.setAttribute(Qt::WA_DontShowOnScreen);
  ledger.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(ledger.verticalScrollBar()->value(), 0);
}

TEST_F(VerifyLedgerTest, KeptItemsAreListedTwiceAndTheSectionFolds) {
  CleanupPlan plan = makePlan(1000, [](std::size_t i) {
    if (i == 3) return S::notBackedUp();
    if (i == 500) return S::sizeMismatch(900, 1000);
    return S::verified();
  });
  VerifyLedger ledger(plan, 1000, true);
  ledger.resize(600, 300);
  ledger.setAttribute(Qt::WA_DontShowOnScreen);
  ledger.show();
  auto* m = ledger.ledgerModel();
  ASSERT_EQ(m->rowCount(), 1 + 2 + 1 + 1000);
  EXPECT_EQ(m->kind(0), RowKind::KeptHeader);
  EXPECT_EQ(m->data(m->index(0), Qt::DisplayRole).toString(), QString::fromUtf8("Kept on the server \u00B7 2"));
  EXPECT_EQ(m->identity(1), "k104");
  EXPECT_EQ(m->identity(2), "k601");
  EXPECT_EQ(m->kind(3), RowKind::ColumnHeader);
  EXPECT_EQ(m->identity(m->itemRow(3)), "104");
  EXPECT_EQ(m->item(2)->keptReason().value(), "Local copy is 900 bytes, the server's is 1000");

  // A click on the header asks the owner to fold; the owner's flag decides.
  QSignalSpy toggled(&ledger, &VerifyLedger::showKeptToggled);
  QTest::mouseClick(ledger.viewport(), Qt::LeftButton, {}, ledger.visualRect(m->index(0)).center());
  ASSERT_EQ(toggled.count(), 1);
  EXPECT_FALSE(toggled.at(0).at(0).toBool());
  ledger.setShowKept(false);
  EXPECT_EQ(m->rowCount(), 1 + 1 + 1000);
  EXPECT_EQ(m->kind(1), RowKind::ColumnHeader);
  ledger.setShowKept(true);
  EXPECT_EQ(m->identity(2), "k601");

  // Without kept items there is no section at all.
  VerifyLedger clean(verifiedPlan(5), 5, true);
  EXPECT_EQ(clean.ledgerModel()->kind(0), RowKind::ColumnHeader);
  EXPECT_EQ(clean.ledgerModel()->rowCount(), 6);
}

TEST_F(VerifyLedgerTest, ANewSnapshotTouchesOnlyTheRowsThatChanged) {
  CleanupPlan plan = pendingPlan(20000);
  VerifyLedger ledger(plan, 0, true);
  auto* m = ledger.ledgerModel();
  QSignalSpy changed(m, &QAbstractItemModel::dataChanged);
  QSignalSpy reset(m, &QAbstractItemModel::modelReset);
  QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);

  // One chunk verified: three rows change; the date is not part of a row's
  // identity, so a changed date alone repaints nothing.
  for (int i : {0, 1, 2}) plan.items[std::size_t(i)].status = S::verified();
  plan.items[9].date = dateFromSeconds(0);
  ledger.setPlan(plan);
  EXPECT_EQ(reset.count(), 0);
  ASSERT_EQ(changed.count(), 3);
  EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>().row(), m->itemRow(0));

  // The first kept item brings the section: header and row inserted, the
  // full-list row repainted.
  changed.clear();
  plan.items[3].status = S::unreadable();
  ledger.setPlan(plan);
  EXPECT_EQ(reset.count(), 0);
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(m->rowCount(), 2 + 1 + 20000);
  EXPECT_EQ(m->identity(1), "k104");
  EXPECT_EQ(m->identity(m->itemRow(3)), "104");

  // Another kept item before it slots in in plan order.
  inserted.clear();
  plan.items[1].status = S::notBackedUp();
  ledger.setPlan(plan);
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(m->identity(1), "k102");
  EXPECT_EQ(m->identity(2), "k104");
  EXPECT_EQ(m->data(m->index(0), Qt::DisplayRole).toString(), QString::fromUtf8("Kept on the server \u00B7 2"));

  // A plan of other messages starts over.
  ledger.setPlan(pendingPlan(3));
  EXPECT_EQ(reset.count(), 1);
  EXPECT_EQ(m->rowCount(), 4);
}

TEST_F(VerifyLedgerTest, RowsPaintEveryStatus) {
  CleanupPlan plan = makePlan(4, [](std::size_t i) {
    switch (i) {
    case 0: return S::pending();
    case 1: return S::verified();
    case 2: return S::notBackedUp();
    default: return S::sizeMismatch(1, 2);
    }
  });
  plan.items[0].localPath.reset();
  plan.items[0].date.reset();
  VerifyLedger ledger(plan, 2, true);
  ledger.resize(600, 240);
  const QImage img = render(ledger);
  EXPECT_FALSE(img.isNull());
  // The caution colour appears (kept marks), and the seal colour (verified).
  bool caution = false, seal = false;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QColor c = img.pixelColor(x, y);
      caution = caution || near(c, Theme::caution.resolved(), 6);
      seal = seal || near(c, Theme::seal.resolved(), 6);
    }
  EXPECT_TRUE(caution);
  EXPECT_TRUE(seal);
  EXPECT_EQ(FreeUpText::rowDate(std::nullopt), QString::fromUtf8("\u2014"));
}

}  // namespace
}  // namespace bx::test
