#pragma once

#include <QString>
#include <vector>

namespace bx {

// Where the timeline spine draws each calendar month, from the newest month
// (top) down to the oldest, months without messages included. Months are
// month indices (year × 12 + month − 1).
struct SpineGeometry {
  struct YearLabel {
    int year = 0;
    double y = 0;
  };

  int newest = 0;               // month index of the first row
  std::vector<double> tops;     // y of each row's top, newest first
  double rowHeight = 0;
  double yearGap = 7;           // what a change of year adds between rows
  std::vector<YearLabel> years; // labels shown, newest first

  static constexpr double margin = 14;
  static constexpr double minRow = 1.2;
  static constexpr double maxRow = 13;
  static constexpr double gap = 7;
  // Height a year label takes; labels closer than this to the one above are
  // left out.
  static constexpr double labelHeight = 11;

  // The layout for `height`; empty when either month is missing (the flags
  // say so) or the oldest is newer than the newest. Rows are the height
  // left after the margins and year gaps, shared by every month and clamped
  // to minRow…maxRow. Where even rows of minRow overflow (a vault spanning
  // centuries), rows and gaps shrink together so the last row still ends
  // `margin` above the bottom.
  static SpineGeometry layout(bool hasMonths, int newestIndex, int oldestIndex, double height);

  bool isEmpty() const { return tops.empty(); }
  int monthCount() const { return int(tops.size()); }
  // The month index of row `row` (0 = newest).
  int monthAt(int row) const { return newest - row; }
  // The row of a month index, or -1 when the spine has no such row.
  int rowOf(int monthIndex) const;
  bool hasPosition(int monthIndex) const { return rowOf(monthIndex) >= 0; }
  double top(int monthIndex) const;
  // The month whose row centre is nearest to y (the newer one on a tie);
  // false when there are no months.
  bool month(double y, int* monthIndex) const;

  // Drawn height of a month's bar for this row height.
  double barHeight() const;

  // Month index ↔ year and month (1…12).
  static int yearOf(int monthIndex) { return floorDiv(monthIndex, 12); }
  static int monthOf(int monthIndex) { return monthIndex - floorDiv(monthIndex, 12) * 12 + 1; }
  static int index(int year, int month) { return year * 12 + month - 1; }

private:
  static int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
};

} // namespace bx
