#include "Browser/SpineGeometry.h"

#include <algorithm>
#include <cmath>

namespace bx {

SpineGeometry SpineGeometry::layout(bool hasMonths, int newestIndex, int oldestIndex, double height) {
  SpineGeometry g;
  if (!hasMonths || oldestIndex > newestIndex) return g;
  const int count = newestIndex - oldestIndex + 1;
  const int span = yearOf(newestIndex) - yearOf(oldestIndex);
  double row = (height - 2 * margin - gap * span) / count;
  row = std::min(std::max(row, minRow), maxRow);
  double yearGap = gap;
  // Rows at their floor that still run past the bottom margin: shrink rows
  // and gaps by one factor so every month stays reachable.
  const double room = height - 2 * margin;
  const double needed = row * count + gap * span;
  const bool overflow = needed > room + 1e-6 && needed > 0;
  if (overflow) {
    const double s = std::max(room, 0.0) / needed;
    row *= s;
    yearGap *= s;
  }
  g.newest = newestIndex;
  g.rowHeight = row;
  g.yearGap = yearGap;
  g.tops.resize(size_t(count));
  double cursor = margin;
  int currentYear = yearOf(newestIndex);
  g.years.push_back({currentYear, margin});
  double lastLabel = margin;
  for (int i = 0; i < count; ++i) {
    const int m = newestIndex - i;
    const int y = yearOf(m);
    if (y != currentYear) {
      cursor += yearGap;
      currentYear = y;
      // A squeezed layout leaves out labels that would overlap the one
      // above; a layout that fits shows every year.
      if (!overflow || cursor - lastLabel >= labelHeight) {
        g.years.push_back({y, cursor});
        lastLabel = cursor;
      }
    }
    g.tops[size_t(i)] = cursor;
    cursor += row;
  }
  return g;
}

int SpineGeometry::rowOf(int monthIndex) const {
  const long long r = (long long)newest - monthIndex;
  if (r < 0 || r >= (long long)tops.size()) return -1;
  return int(r);
}

double SpineGeometry::top(int monthIndex) const {
  const int r = rowOf(monthIndex);
  return r < 0 ? 0 : tops[size_t(r)];
}

bool SpineGeometry::month(double y, int* monthIndex) const {
  if (tops.empty()) return false;
  const double half = rowHeight / 2;
  // Centres grow with the row: find the first centre at or below y, then
  // compare it with the one before.
  const auto it = std::lower_bound(tops.begin(), tops.end(), y, [half](double t, double v) { return t + half < v; });
  size_t r = size_t(it - tops.begin());
  if (r == tops.size()) {
    r = tops.size() - 1;
  } else if (r > 0) {
    const double below = std::abs(tops[r] + half - y);
    const double above = std::abs(tops[r - 1] + half - y);
    if (above <= below) r -= 1;
  }
  *monthIndex = monthAt(int(r));
  return true;
}

double SpineGeometry::barHeight() const {
  double h;
  if (rowHeight > 4) h = rowHeight - 1.5;
  else if (rowHeight > 2) h = rowHeight - 0.8;
  else h = rowHeight - 0.3;
  return std::max(h, 1.0);
}

} // namespace bx
