#pragma once
// One moment of the free-up flow, as the free-up sheet draws it. The sheet
// keeps only what the user is choosing; everything else comes from here.
#include "Engines/CleanupPlan.h"
#include "Engines/FriendlyError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bx {

// The flow's four stages, in order (their positions are the step rail's
// index).
enum class FreeUpStage { choose = 0, verify = 1, release = 2, done = 3 };

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
  // Leftover \Deleted flags of an interrupted earlier release that the last
  // release took off; those messages are still on the server.
  std::int64_t leftoversUnflagged = 0;

  // A release task is working: the sheet must not go away under it.
  bool releasing() const { return stage == FreeUpStage::release && busy && released.has_value(); }
};

}  // namespace bx
