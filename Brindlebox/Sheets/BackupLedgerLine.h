#pragma once

#include <cstdint>

namespace bx {

// One folder's line of the backup ledger in the current or last run.
struct BackupLedgerLine {
  bool running = false;
  std::int64_t done = 0;
  std::int64_t total = 0;
  bool finished = false;
  std::int64_t newMessages = 0;
  bool failed = false;  // the account's run failed before this folder was done
  friend bool operator==(const BackupLedgerLine&, const BackupLedgerLine&) = default;
};

}  // namespace bx
