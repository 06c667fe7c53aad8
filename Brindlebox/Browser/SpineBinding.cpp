#include "Browser/SpineBinding.h"

#include "Browser/TimelineSpine.h"
#include "Store/AppStore.h"

namespace bx {

void bindSpine(TimelineSpine& spine, AppStore& store) {
  TimelineSpine* s = &spine;
  AppStore* st = &store;
  auto months = [s, st] {
    std::vector<std::pair<int, int>> counts;
    counts.reserve(st->groups().size());
    for (const auto& g : st->groups()) counts.emplace_back(g.key.index(), int(g.records.size()));
    s->setMonths(counts);
  };
  auto current = [s, st] {
    const auto m = st->timeline().currentMonth();
    s->setCurrentMonth(m ? std::optional<int>(m->index()) : std::nullopt);
  };
  auto probe = [s, st] {
    const auto m = st->timeline().probe();
    s->setProbe(m ? std::optional<int>(m->index()) : std::nullopt);
  };
  s->setTitleProvider([](int index) { return MonthKey::fromIndex(index).title(); });
  QObject::connect(st, &AppStore::groupsVersionChanged, s, months);
  QObject::connect(&st->timeline(), &TimelineModel::currentMonthChanged, s, current);
  QObject::connect(&st->timeline(), &TimelineModel::probeChanged, s, probe);
  QObject::connect(s, &TimelineSpine::scrubRequested, st,
                   [st](int index) { st->scrub(MonthKey::fromIndex(index)); });
  months();
  current();
  probe();
}

} // namespace bx
