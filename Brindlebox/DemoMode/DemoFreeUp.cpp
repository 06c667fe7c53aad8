#include "DemoMode/DemoMode.h"

#include "Sheets/FreeUpText.h"
#include "Store/AppStore.h"
#include "Store/CleanupModel.h"
#include "Vault/AccountSyncState.h"
#include "Vault/ArchiveLayout.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <memory>

namespace bx {

namespace {

std::optional<std::uint32_t> parseUID(const std::string& s) {
  std::uint32_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

} // namespace

std::optional<CleanupPlan> DemoMode::demoPlan(AppStore& store, int years, Date now) {
  if (store.accounts().empty()) return std::nullopt;
  const MailAccount& account = store.accounts().front();
  AccountSyncState sync;
  try {
    sync = store.layout().loadSync(account);
  } catch (...) {
    return std::nullopt;
  }
  const auto inbox = sync.folders.find("INBOX");
  if (inbox == sync.folders.end()) return std::nullopt;
  const FolderState& state = inbox->second;
  const Date cutoff = FreeUpText::yearsBefore(now, years);

  std::map<std::string, Date> dates;
  for (const MessageRecord& r : store.records()) dates.emplace(r.path, r.date);

  std::vector<CleanupItem> items;
  for (const auto& [uidText, path] : state.files) {
    const auto uid = parseUID(uidText);
    if (!uid) continue;
    if (!state.sizes || state.sizes->empty()) continue;
    const auto size = state.sizes->find(uidText);
    if (size == state.sizes->end()) continue;
    const auto date = dates.find(path);
    if (date == dates.end()) continue;
    if (date->second < cutoff)
      items.emplace_back(*uid, size->second, date->second, path, CleanupItem::Status::pending());
  }
  std::sort(items.begin(), items.end(), [](const CleanupItem& a, const CleanupItem& b) { return a.uid < b.uid; });
  if (items.size() > 12) {
    const CleanupItem& before = items[5];
    items.insert(items.begin() + 6,
                 CleanupItem(before.uid + 1, 18204, before.date, std::nullopt, CleanupItem::Status::pending()));
    items[11].serverSize += 2310;
  }
  CleanupPlan plan("INBOX", "INBOX", cutoff, state.uidValidity, std::move(items));
  plan.serverSupportsUIDPlus = true;
  return plan;
}

orrery::Task<> DemoMode::runDemoCleanup(AppStore& store) {
  auto plan = demoPlan(store, 5);
  if (!plan) co_return;
  store.resetCleanup();
  CleanupModel& cleanup = store.cleanup();
  cleanup.setStage(CleanupStage::verify);
  cleanup.setBusy(true);
  co_await orrery::pause(500, &store);
  cleanup.setPlan(*plan);
  // The store's walk calls back when it ends; the script waits for that.
  auto finished = std::make_shared<bool>(false);
  store.verifyProgressively(*plan, store.layout(), [finished] { *finished = true; });
  while (!*finished) co_await orrery::pause(50, &store);
  cleanup.setBusy(false);
}

orrery::Task<> DemoMode::demoRelease(AppStore& store, int stepMilliseconds) {
  CleanupModel& cleanup = store.cleanup();
  if (!cleanup.plan() || store.accounts().empty()) co_return;
  const CleanupPlan plan = *cleanup.plan();
  const MailAccount account = store.accounts().front();
  const int n = int(plan.verified().size());
  cleanup.setBusy(true);
  cleanup.setReleased(ReleaseProgress{0, n});
  for (int s = 1; s <= 12; ++s) {
    co_await orrery::pause(stepMilliseconds, &store);
    cleanup.setReleased(ReleaseProgress{n * s / 12, n});
  }
  cleanup.setBusy(false);
  store.finishCleanup(n, plan, account, false);
}

} // namespace bx
