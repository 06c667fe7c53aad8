// Layout and hit test of the timeline spine, independent of any widget.

#include "Browser/SpineGeometry.h"

#include <gtest/gtest.h>

using namespace bx;

namespace {

int idx(int year, int month) { return SpineGeometry::index(year, month); }

TEST(SpineGeometry, NoMonthsGiveAnEmptyLayout) {
  const auto g = SpineGeometry::layout(false, 0, 0, 600);
  EXPECT_TRUE(g.isEmpty());
  EXPECT_EQ(g.rowHeight, 0);
  EXPECT_TRUE(g.years.empty());
  int m = -1;
  EXPECT_FALSE(g.month(100, &m));
}

TEST(SpineGeometry, SingleMonthSitsAtTheMarginWithTheRowClamped) {
  const auto g = SpineGeometry::layout(true, idx(2024, 3), idx(2024, 3), 600);
  ASSERT_EQ(g.monthCount(), 1);
  EXPECT_DOUBLE_EQ(g.top(idx(2024, 3)), 14);
  EXPECT_DOUBLE_EQ(g.rowHeight, 13);
  ASSERT_EQ(g.years.size(), 1u);
  EXPECT_EQ(g.years[0].year, 2024);
  EXPECT_DOUBLE_EQ(g.years[0].y, 14);
}

TEST(SpineGeometry, FittingLayoutEndsAtTheBottomMarginWithAGapPerYear) {
  // March 2024 down to February 2022: 26 months, two year changes.
  const double h = 300;
  const auto g = SpineGeometry::layout(true, idx(2024, 3), idx(2022, 2), h);
  ASSERT_EQ(g.monthCount(), 26);
  EXPECT_DOUBLE_EQ(g.rowHeight, (h - 28 - 14) / 26);
  ASSERT_EQ(g.years.size(), 3u);
  EXPECT_EQ(g.years[1].year, 2023);
  // The label stands level with the top of December 2023, after the gap.
  EXPECT_DOUBLE_EQ(g.years[1].y, g.top(idx(2023, 12)));
  EXPECT_DOUBLE_EQ(g.top(idx(2023, 12)), g.top(idx(2024, 1)) + g.rowHeight + 7);
  EXPECT_NEAR(g.top(idx(2022, 2)) + g.rowHeight, h - 14, 1e-9);
}

TEST(SpineGeometry, DecemberToJanuaryStillAddsAGapAndALabel) {
  const auto g = SpineGeometry::layout(true, idx(2024, 1), idx(2023, 12), 600);
  ASSERT_EQ(g.years.size(), 2u);
  EXPECT_DOUBLE_EQ(g.rowHeight, 13);
  EXPECT_DOUBLE_EQ(g.years[1].y, 14 + 13 + 7);
}

TEST(SpineGeometry, HitTestPicksTheNearestCentreAndTheNewerOnATie) {
  const auto g = SpineGeometry::layout(true, idx(2024, 3), idx(2024, 1), 600);  // rows of 13
  struct Case {
    double y;
    int expected;
  } cases[] = {
      {-50, idx(2024, 3)}, {14, idx(2024, 3)}, {20.5, idx(2024, 3)},
      {27, idx(2024, 3)},  // equal distance to March and February centres
      {27.1, idx(2024, 2)}, {46.5, idx(2024, 1)}, {5000, idx(2024, 1)},
  };
  for (const auto& c : cases) {
    int m = -1;
    ASSERT_TRUE(g.month(c.y, &m));
    EXPECT_EQ(m, c.expected) << "y=" << c.y;
  }
}

TEST(SpineGeometry, OneStrayDateOverCenturiesKeepsEveryMonthAboveTheBottom) {
  // A message dated 2099 beside mail from 2001: 1,183 months in 700 px.
  const double h = 700;
  for (const auto& [newest, oldest] : {std::pair{idx(2099, 1), idx(2001, 1)}, std::pair{idx(2024, 6), idx(1, 1)}}) {
    const auto g = SpineGeometry::layout(true, newest, oldest, h);
    const double lastBottom = g.tops.back() + g.rowHeight;
    EXPECT_NEAR(lastBottom, h - 14, 1e-6);
    // Every month is reachable by hovering its own row centre.
    for (int m : {oldest, oldest + 1, newest - 1, newest}) {
      int hit = -1;
      ASSERT_TRUE(g.month(g.top(m) + g.rowHeight / 2, &hit));
      EXPECT_EQ(hit, m);
    }
    // Year labels never overlap.
    for (size_t i = 1; i < g.years.size(); ++i) EXPECT_GE(g.years[i].y - g.years[i - 1].y, SpineGeometry::labelHeight);
    EXPECT_EQ(g.years.front().year, SpineGeometry::yearOf(newest));
  }
}

TEST(SpineGeometry, FittingLayoutsShowEveryYearEvenWhenOnlyOneMonthApart) {
  // Thin rows that still fit: a year of one month leaves its label only
  // about 8 px above the next one, and both stay.
  const auto g = SpineGeometry::layout(true, idx(2024, 1), idx(2000, 1), 28 + 7 * 24 + 289 * 1.2 + 20);
  EXPECT_LT(g.rowHeight, 2);
  EXPECT_EQ(g.years.size(), 25u);
  EXPECT_LT(g.years[1].y - g.years[0].y, SpineGeometry::labelHeight);
}

TEST(SpineGeometry, BarHeightsFollowTheRowHeight) {
  SpineGeometry g;
  for (const auto& [row, bar] : {std::pair{13.0, 11.5}, {4.0, 3.2}, {2.0, 1.7}, {1.2, 1.0}}) {
    g.rowHeight = row;
    EXPECT_DOUBLE_EQ(g.barHeight(), bar) << row;
  }
}

}  // namespace
