// The sheets' moving parts with animations running: where each transition
// ends, that nothing is left over the view it revealed, and that a view
// caught mid-way never blinks.
#include "AppTestSupport.h"
#include "FakeHosts.h"
#include "PlanFixtures.h"
#include "SheetDriver.h"

#include "Sheets/FreeUpSheetParts.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Sheets/FreeUpText.h"
#include "Sheets/SheetTransitions.h"
#include "Sheets/VerifyLedger.h"
#include "Theme/Theme.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

#include <set>

namespace bx::test {
namespace {

class SheetMotionTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    Motion::setInstant(false);
  }

  static TransitionEffect* effectOf(QWidget* w) { return qobject_cast<TransitionEffect*>(w->graphicsEffect()); }
  // Until no transition plays on `w` any more.
  static bool settles(QWidget* w) {
    return QTest::qWaitFor([&] { return !w->graphicsEffect(); }, 3000);
  }
};

TEST_F(SheetMotionTest, ATransitionEndsWhereTheLastOneWasHeaded) {
  const struct {
    const char* name;
    std::vector<bool> moves;  // true = in, false = out
    bool reduce;
  } cases[] = {
      {"in", {true}, false},
      {"out", {false}, false},
      {"out, then in at once", {false, true}, false},
      {"in, then out at once", {true, false}, false},
      {"in under Reduce Motion", {true}, true},
  };
  const Transition rise = Transition::fromBelow(8);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReduceMotion::shared().setOverride(c.reduce);
    QWidget parent;
    parent.setAttribute(Qt::WA_DontShowOnScreen);
    parent.resize(200, 100);
    auto* w = new QWidget(&parent);
    w->setGeometry(10, 10, 50, 20);
    w->setVisible(!c.moves.front());
    parent.show();
    double before = c.moves.front() ? 0 : 1;
    for (bool in : c.moves) {
      if (in) transitionIn(w, rise.unlessReduced(), motion(Motion::spring));
      else transitionOut(w, rise.unlessReduced(), motion(Motion::spring));
      TransitionEffect* fx = effectOf(w);
      ASSERT_NE(fx, nullptr);
      // A transition taking over starts where the other one is, not from an
      // end: the view does not blink.
      EXPECT_NEAR(fx->shown(), before, 0.2);
      EXPECT_EQ(fx->transition().dy, c.reduce ? 0 : 8);
      EXPECT_TRUE(w->isVisible()) << "shown while it moves";
      before = fx->shown();
    }
    ASSERT_TRUE(settles(w));
    EXPECT_EQ(w->isVisible(), c.moves.back());
    QTest::qWait(50);  // a finished earlier transition must not act late
    EXPECT_EQ(w->isVisible(), c.moves.back());
  }
}

TEST_F(SheetMotionTest, AViewLeavingForGoodIsDeletedOnceItHasGone) {
  QWidget parent;
  parent.setAttribute(Qt::WA_DontShowOnScreen);
  QPointer<QWidget> w = new QWidget(&parent);
  parent.show();
  transitionOutAndDelete(w, Transition::scaled(0.92), motion(Motion::snappy));
  EXPECT_TRUE(w);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.isNull(); }, 3000));
}

TEST_F(SheetMotionTest, AStageChangeLeavesNothingOverTheNewStage) {
  FakeFreeUpHost host;
  host.accountList = {account("Work", "alice@example.org")};
  QPointer<FreeUpSpaceSheet> sheet = openSheet<FreeUpSpaceSheet>(host);
  auto pictures = [&] {
    int n = 0;
    for (auto* label : sheet->findChildren<QLabel*>())
      n += label->testAttribute(Qt::WA_TransparentForMouseEvents) && !label->pixmap().isNull();
    return n;
  };
  const struct {
    FreeUpStage stage;
    Transition enters;
  } steps[] = {
      {FreeUpStage::verify, Transition::fromBelow(8)},
      {FreeUpStage::release, Transition::fromBelow(8)},
      {FreeUpStage::done, Transition::scaled(0.92)},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(int(step.stage));
    host.current.stage = step.stage;
    host.current.plan = verifiedPlan(3);
    host.current.checked = 3;
    emit host.cleanupChanged();
    EXPECT_EQ(pictures(), 1) << "the old stage leaves as a picture";
    bool sawEnter = false;
    for (auto* w : sheet->findChildren<QWidget*>())
      if (auto* fx = effectOf(w); fx && fx->transition().dy == step.enters.dy &&
                                  fx->transition().scale == step.enters.scale && fx->shown() < 0.5)
        sawEnter = true;
    EXPECT_TRUE(sawEnter) << "the new stage comes in";
    ASSERT_TRUE(QTest::qWaitFor([&] { return pictures() == 0; }, 3000));
  }
  for (auto* w : sheet->findChildren<QWidget*>()) EXPECT_FALSE(effectOf(w)) << w->metaObject()->className();
  host.current = {};
  delete sheet;
}

TEST_F(SheetMotionTest, AStageLeftWhileStillComingInLeavesAsItsWholePicture) {
  FakeFreeUpHost host;
  host.accountList = {account("Work", "alice@example.org")};
  QPointer<FreeUpSpaceSheet> sheet = openSheet<FreeUpSpaceSheet>(host);
  host.current.plan = verifiedPlan(3);
  host.current.checked = 3;
  for (FreeUpStage stage : {FreeUpStage::verify, FreeUpStage::release}) {
    host.current.stage = stage;
    emit host.cleanupChanged();
  }
  QImage left;  // the newest picture: the verify stage's
  for (auto* label : sheet->findChildren<QLabel*>())
    if (label->testAttribute(Qt::WA_TransparentForMouseEvents) && !label->pixmap().isNull())
      left = label->pixmap().toImage();
  ASSERT_FALSE(left.isNull());
  std::set<QRgb> colours;
  for (int y = 0; y < left.height(); y += 4)
    for (int x = 0; x < left.width(); x += 4) colours.insert(left.pixel(x, y));
  EXPECT_GT(colours.size(), 2u) << "not blank";
  host.current = {};
  delete sheet;
}

TEST_F(SheetMotionTest, TheCheckMarkFollowsTheTypedPhrase) {
  FakeFreeUpHost host;
  host.accountList = {account("Work", "alice@example.org")};
  host.current.stage = FreeUpStage::release;
  host.current.plan = verifiedPlan(3);
  host.current.checked = 3;
  QPointer<FreeUpSpaceSheet> sheet = openSheet<FreeUpSpaceSheet>(host);
  QLineEdit* field = sheet->confirmationField();
  QTest::keyClicks(field, "release 3");
  QWidget* mark = sheet->checkMark();
  ASSERT_NE(mark, nullptr);
  ASSERT_NE(effectOf(mark), nullptr);
  EXPECT_EQ(effectOf(mark)->transition().scale, 0.92);
  ASSERT_TRUE(settles(mark));
  EXPECT_TRUE(mark->isVisible());

  QTest::keyClick(field, Qt::Key_Backspace);
  ASSERT_TRUE(settles(mark));
  EXPECT_EQ(sheet->checkMark(), nullptr);
  host.current = {};
  delete sheet;
}

TEST_F(SheetMotionTest, ARolledCountEndsDrawnLikeAFreshOne) {
  const QFont font = Theme::Font::system(11.5, QFont::Medium, true);
  const struct {
    std::int64_t from, to;
  } cases[] = {{9, 10}, {1234, 1199}, {999, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    RollingCount rolled(font, Theme::ink);
    rolled.setValue(c.from);
    rolled.resize(rolled.sizeHint());
    render(rolled);
    rolled.setValue(c.to);
    EXPECT_EQ(rolled.text(), FreeUpText::grouped(c.to)) << "the text is the new one at once";
    rolled.resize(rolled.sizeHint());
    const QImage mid = render(rolled);

    RollingCount fresh(font, Theme::ink);
    fresh.setValue(c.to);
    fresh.resize(fresh.sizeHint());
    EXPECT_EQ(rolled.size(), fresh.size());
    const QImage still = render(fresh);
    EXPECT_NE(mid, still) << "it moved";
    EXPECT_TRUE(QTest::qWaitFor([&] { return render(rolled) == still; }, 3000)) << "and came to rest";
  }
}

TEST_F(SheetMotionTest, TheLedgerTurnsItsChevronAndBringsInNewSymbols) {
  using S = CleanupItem::Status;
  const CleanupPlan pending = makePlan(20, [](std::size_t i) { return i == 0 ? S::notBackedUp() : S::pending(); });
  VerifyLedger ledger(pending, 0, true);
  ledger.resize(600, 300);
  ledger.setAttribute(Qt::WA_DontShowOnScreen);
  ledger.show();
  EXPECT_EQ(ledger.motion().chevronAngle, 90);
  ledger.setShowKept(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ledger.motion().chevronAngle == 0; }, 3000));

  // Two copies checked: their symbols come in, then stand still.
  const CleanupPlan checked = makePlan(20, [](std::size_t i) {
    return i == 0 ? S::notBackedUp() : i <= 2 ? S::verified() : S::pending();
  });
  ledger.setPlan(checked);
  EXPECT_EQ(ledger.motion().entering.size(), 2);
  EXPECT_TRUE(ledger.motion().entering.contains(102));
  EXPECT_FALSE(ledger.motion().entering.contains(101)) << "the kept one was kept before";
  ASSERT_TRUE(QTest::qWaitFor([&] { return ledger.motion().entering.isEmpty(); }, 3000));
}

}  // namespace
}  // namespace bx::test
