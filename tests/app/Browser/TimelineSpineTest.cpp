// The spine as a widget: pointer scrubbing, the tip, and the adjustable
// control that assistive technology sees.

#include "AppTestSupport.h"
#include "Theme/Theme.h"
#include "Browser/SpineGeometry.h"
#include "Browser/TimelineSpine.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QSignalSpy>
#include <QTest>

using namespace bx;

namespace {

int idx(int year, int month) { return SpineGeometry::index(year, month); }

class TimelineSpineTest : public test::PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    host.resize(600, 500);
    spine = new TimelineSpine(&host);
    spine->setGeometry(0, 0, TimelineSpine::spineWidth, 500);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  }
  QPoint rowCentre(int month) const {
    const auto& g = spine->geometryNow();
    return QPoint(50, int(g.top(month) + g.rowHeight / 2));
  }
  QWidget host;
  TimelineSpine* spine = nullptr;
};

TEST_F(TimelineSpineTest, DragScrubsToTheMonthUnderThePointerButNotToTheCurrentOne) {
  spine->setMonths({{idx(2024, 3), 5}, {idx(2024, 2), 2}, {idx(2023, 11), 9}});
  spine->setCurrentMonth(idx(2024, 3));
  QSignalSpy scrubs(spine, &TimelineSpine::scrubRequested);

  QTest::mousePress(spine, Qt::LeftButton, {}, rowCentre(idx(2024, 3)));
  EXPECT_EQ(scrubs.count(), 0) << "the month already current is not scrubbed again";
  EXPECT_TRUE(spine->isDragging());
  QTest::mouseMove(spine, rowCentre(idx(2023, 11)));
  ASSERT_EQ(scrubs.count(), 1);
  EXPECT_EQ(scrubs.last().at(0).toInt(), idx(2023, 11));
  EXPECT_EQ(spine->hoverMonth(), idx(2023, 11));
  QTest::mouseRelease(spine, Qt::LeftButton, {}, rowCentre(idx(2023, 11)));
  EXPECT_FALSE(spine->isDragging());
  EXPECT_FALSE(spine->hoverMonth().has_value());
}

TEST_F(TimelineSpineTest, HoverShowsTheTipBesideTheSpineAndLeavingClearsIt) {
  spine->setMonths({{idx(2024, 3), 1}, {idx(2024, 1), 4}});
  spine->setTitleProvider([](int m) { return QStringLiteral("M%1").arg(m); });
  QTest::mouseMove(spine, rowCentre(idx(2024, 2)));
  ASSERT_EQ(spine->hoverMonth(), idx(2024, 2));
  ASSERT_TRUE(spine->tip());
  EXPECT_TRUE(spine->tip()->isVisible());
  EXPECT_EQ(spine->tip()->title(), QStringLiteral("M%1").arg(idx(2024, 2)));
  EXPECT_EQ(spine->tip()->countText(), QStringLiteral("0 messages"));
  EXPECT_EQ(spine->tip()->parentWidget(), &host) << "the tip stands over the list, outside the spine";
  EXPECT_TRUE(spine->tip()->testAttribute(Qt::WA_TransparentForMouseEvents));
  QTest::mouseMove(spine, rowCentre(idx(2024, 1)));
  EXPECT_EQ(spine->tip()->countText(), QStringLiteral("4 messages"));
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(spine, &leave);
  EXPECT_FALSE(spine->hoverMonth().has_value());
  EXPECT_FALSE(spine->tip()->isVisible());
}

TEST_F(TimelineSpineTest, TipStaysBetweenFourAndHeightLessThirtyFour) {
  std::vector<std::pair<int, int>> months;
  for (int m = idx(2024, 12); m >= idx(2020, 1); --m) months.emplace_back(m, 1);
  spine->setMonths(months);
  const QSize tip(120, 30);
  EXPECT_EQ(spine->tipPosition(idx(2024, 12), tip).y(), 4);  // 14 + row/2 − 14 would be under 4? no: clamps low only
  EXPECT_EQ(spine->tipPosition(idx(2020, 1), tip).y(), 500 - 34);
  EXPECT_EQ(spine->tipPosition(idx(2022, 6), tip).x(), 90);
  spine->setMonths({{idx(2024, 1), 1}});
  // A single row near the top: 14 + 6.5 − 14 = 6.5.
  EXPECT_GE(spine->tipPosition(idx(2024, 1), tip).y(), 4);
  spine->resize(TimelineSpine::spineWidth, 30);
  EXPECT_EQ(spine->tipPosition(idx(2024, 1), tip).y(), 4) << "the lower floor wins in a very short spine";
}

TEST_F(TimelineSpineTest, AccessibleSliderStepsAcrossMonthsWithoutMessages) {
  // March and January have mail, February none.
  spine->setMonths({{idx(2024, 3), 2}, {idx(2024, 1), 7}});
  spine->setTitleProvider([](int m) { return m == idx(2024, 1) ? QStringLiteral("January 2024") : QStringLiteral("other"); });
  spine->setCurrentMonth(idx(2024, 1));
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(spine);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->role(), QAccessible::Slider);
  EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Timeline"));
  EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("January 2024, 7 messages"));
  auto* actions = a->actionInterface();
  ASSERT_TRUE(actions);
  ASSERT_TRUE(a->valueInterface());

  QSignalSpy scrubs(spine, &TimelineSpine::scrubRequested);
  actions->doAction(QAccessibleActionInterface::increaseAction());
  ASSERT_EQ(scrubs.count(), 1);
  EXPECT_EQ(scrubs.last().at(0).toInt(), idx(2024, 3)) << "the empty February is passed over";
  spine->setCurrentMonth(idx(2024, 3));
  actions->doAction(QAccessibleActionInterface::increaseAction());
  EXPECT_EQ(scrubs.count(), 1) << "nothing newer than the newest month";
  actions->doAction(QAccessibleActionInterface::decreaseAction());
  ASSERT_EQ(scrubs.count(), 2);
  EXPECT_EQ(scrubs.last().at(0).toInt(), idx(2024, 1));
}

TEST_F(TimelineSpineTest, EmptySpineSaysEmptyAndIgnoresDrags) {
  spine->setMonths({});
  QSignalSpy scrubs(spine, &TimelineSpine::scrubRequested);
  QTest::mousePress(spine, Qt::LeftButton, {}, QPoint(40, 100));
  QTest::mouseMove(spine, QPoint(40, 200));
  QTest::mouseRelease(spine, Qt::LeftButton, {}, QPoint(40, 200));
  EXPECT_EQ(scrubs.count(), 0);
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(spine);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("Empty"));
}

TEST_F(TimelineSpineTest, AStrayFarFutureDateLeavesEveryRealMonthReachableByHover) {
  // Mail from 2019 to 2024 and one message dated 2099.
  std::vector<std::pair<int, int>> months{{idx(2099, 1), 1}};
  for (int m = idx(2024, 12); m >= idx(2019, 1); --m) months.emplace_back(m, 3);
  spine->setMonths(months);
  const auto& g = spine->geometryNow();
  EXPECT_LE(g.tops.back() + g.rowHeight, 500 - 14 + 1e-6);
  for (int m = idx(2019, 1); m <= idx(2024, 12); ++m) {
    const QPoint p = rowCentre(m);
    ASSERT_LT(p.y(), 500);
    int hit = 0;
    ASSERT_TRUE(g.month(g.top(m) + g.rowHeight / 2, &hit));
    EXPECT_EQ(hit, m);
  }
  // Through real pointer moves (whole pixels), the oldest month too.
  QTest::mouseMove(spine, QPoint(50, int(std::ceil(g.tops.back() + g.rowHeight / 2))));
  EXPECT_EQ(spine->hoverMonth(), idx(2019, 1));
}

TEST_F(TimelineSpineTest, PaintsTheCurrentMonthInTheSealColour) {
  spine->setMonths({{idx(2024, 3), 4}, {idx(2024, 2), 1}});
  spine->setCurrentMonth(idx(2024, 2));
  const QImage img = spine->grab().toImage();
  const auto& g = spine->geometryNow();
  const QColor bar = img.pixelColor(int(TimelineSpine::labelWidth + 1), int(g.top(idx(2024, 2)) + g.barHeight() / 2));
  EXPECT_TRUE(test::near(bar, Theme::seal.resolved(), 8)) << test::describe(bar);
  const QColor marker = img.pixelColor(int(TimelineSpine::labelWidth - 5), int(g.top(idx(2024, 2)) + g.barHeight() / 2));
  EXPECT_TRUE(test::near(marker, Theme::seal.resolved(), 40)) << test::describe(marker);
}

}  // namespace

namespace {
TEST_F(TimelineSpineTest, YearLabelsKeepClearOfTheCurrentMonthMarker) {
  const qreal markerLeft = TimelineSpine::labelWidth - 7;
  for (const int year : {2024, 1999, 9999}) {
    for (const bool current : {true, false}) {
      const QRectF r = spine->yearLabelRect(year, 14, current);
      EXPECT_LE(r.right(), markerLeft - 1) << year << (current ? " current" : "");
      EXPECT_GE(r.left(), 2) << year;
      EXPECT_EQ(r.top(), 12);
    }
  }
}
}  // namespace
