#pragma once
// What the free-up sheet needs of the application state: the accounts, a
// snapshot of the free-up flow, and the operations that drive it. The sheet
// keeps only what the user is choosing; everything else comes from here.
#include "Engines/CleanupPlan.h"
#include "Engines/FriendlyError.h"
#include "Util/Date.h"
#include "Vault/MailAccount.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace bx {

// The flow's four stages, in order (their positions are the step rail's
// index).
enum class FreeUpStage { choose = 0, verify = 1, release = 2, done = 3 };

// One moment of the free-up flow as the sheet draws it.
struct FreeUpState {
  FreeUpStage stage = FreeUpStage::choose;
  std::optional<CleanupPlan> plan;
  std::int64_t checked = 0;
  bool busy = false;
  std::optional<FriendlyError::Message> error;
  std::optional<std::pair<std::int64_t, std::int64_t>> released;  // (done, total)
  std::optional<std::string> result;
  // The UIDs that left the server in the last release, when the engine
  // reported them; the done stage counts what stayed from these.
  std::optional<std::vector<std::uint32_t>> releasedUIDs;

  // A release task is working: the sheet must not go away under it.
  bool releasing() const { return stage == FreeUpStage::release && busy && released.has_value(); }
};

class FreeUpSheetHost : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;

  virtual std::vector<MailAccount> accounts() const = 0;
  virtual FreeUpState state() const = 0;

  virtual void checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) = 0;
  virtual void runCleanup(const MailAccount& account) = 0;
  virtual void cancelCleanup() = 0;
  virtual void resetCleanup() = 0;
  // The two moves the sheet makes by hand: verify -> release and back.
  virtual void setStage(FreeUpStage stage) = 0;

signals:
  void stateChanged();
  void accountsChanged();
};

}  // namespace bx
