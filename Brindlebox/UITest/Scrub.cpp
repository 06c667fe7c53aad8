#include "Store/AppStore.h"
#include "Store/TimelineModel.h"
#include "UITest/UITest.h"

#include <QWidget>

#include <algorithm>

namespace bx::UITest {

std::optional<std::vector<int>> scrubMonthIndexes(int n) {
  // The list ends with the oldest month and the fourth-newest one.
  if (n < 4) return std::nullopt;
  const int step = n >= 12 ? n / 12 : 1;
  std::vector<int> out;
  for (int i = 0; i < n; i += step) out.push_back(i);
  out.push_back(n - 1);
  out.push_back(3);
  return out;
}

std::vector<int> dragIndexes(int n) {
  std::vector<int> out;
  const int limit = std::min(n, 150);
  for (int i = 0; i < limit; i += 4) out.push_back(i);
  return out;
}

QString dragName(int misses) {
  return QStringLiteral("rapid drag keeps the list on the spine\u2019s month (%1 misses)").arg(misses);
}

namespace {
QString titleOr(const std::optional<MonthKey>& m) { return m ? m->title() : QStringLiteral("nil"); }
}  // namespace

orrery::Task<> runScrub() {
  AppStore* store = AppStore::shared();
  if (!store) {
    fail(QStringLiteral("timeline scrub has no store"));
    finish();
    co_return;
  }
  {
    auto ready = wait(30, [store] { return scrubReady(*store); });
    co_await ready;
  }
  if (QWidget* window = mainWindow()) window->resize(1360, 840);
  co_await orrery::pause(1000);

  std::vector<MonthKey> months;
  for (const auto& g : store->groups()) months.push_back(g.key);
  const auto visits = scrubMonthIndexes(int(months.size()));
  if (!visits) {
    fail(QStringLiteral("timeline scrub needs at least 4 months, the vault has %1").arg(months.size()));
    finish();
    co_return;
  }
  TimelineModel& timeline = store->timeline();
  for (size_t k = 0; k < visits->size(); ++k) {
    const MonthKey target = months[size_t((*visits)[k])];
    store->scrub(target);
    co_await orrery::pause(k % 2 == 0 ? 80 : 600);
    const auto early = timeline.currentMonth();
    co_await orrery::pause(600);
    const auto settled = timeline.currentMonth();
    check(settled && *settled == target, QStringLiteral("scrub to ") + target.title() +
                                             QStringLiteral(" \u2192 list at ") + titleOr(settled) +
                                             QStringLiteral(" (after 80ms: ") + titleOr(early) + u')');
  }

  int misses = 0;
  for (int index : dragIndexes(int(months.size()))) {
    const MonthKey target = months[size_t(index)];
    store->scrub(target);
    co_await orrery::pause(75);
    const auto reading = timeline.currentMonth();
    if (!reading || *reading != target) {
      ++misses;
      writeLine(QStringLiteral("  drag: asked ") + target.title() + QStringLiteral(", list at ") + titleOr(reading));
    }
  }
  check(misses < 3, dragName(misses));
  finish();
}

}  // namespace bx::UITest
