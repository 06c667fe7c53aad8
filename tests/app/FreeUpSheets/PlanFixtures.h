#pragma once
#include "Engines/CleanupPlan.h"
#include "Vault/MailAccount.h"

#include <string>

namespace bx::test {

// A plan of `n` items, UIDs 101…, 1,000 bytes each, dated a day apart from
// 2019-01-01; statuses from `status(i)`.
template <class F>
CleanupPlan makePlan(std::size_t n, F status, bool uidplus = true, std::int64_t otherDeleted = 0) {
  std::vector<CleanupItem> items;
  for (std::size_t i = 0; i < n; ++i) {
    const auto uid = std::uint32_t(101 + i);
    items.emplace_back(uid, 1000, dateFromSeconds(1546300800 + 86400 * std::int64_t(i)),
                       "Work/INBOX/2019/2019-01-01 Note " + std::to_string(uid) + ".eml", status(i));
  }
  CleanupPlan plan("INBOX", "INBOX", dateFromSeconds(1600000000), 42, std::move(items));
  plan.serverSupportsUIDPlus = uidplus;
  plan.otherDeletedOnServer = otherDeleted;
  return plan;
}

inline CleanupPlan verifiedPlan(std::size_t n) {
  return makePlan(n, [](std::size_t) { return CleanupItem::Status::verified(); });
}

inline MailAccount account(const std::string& label, const std::string& user, const std::string& provider = "custom",
                           std::vector<std::string> folders = {"INBOX"}) {
  MailAccount a;
  a.id = UUID::random();
  a.label = label;
  a.username = user;
  a.server.host = "imap.example.org";
  a.server.port = 993;
  a.provider = provider;
  a.folders = std::move(folders);
  return a;
}

}  // namespace bx::test
