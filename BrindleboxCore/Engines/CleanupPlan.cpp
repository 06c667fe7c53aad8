#include "Engines/CleanupPlan.h"

#include "Engines/CleanupError.h"
#include "Engines/CleanupItem.h"

namespace bx {

std::optional<std::string> CleanupItem::keptReason() const {
    using K = Status::Kind;
    switch (status.kind()) {
        case K::sizeMismatch:
            return "Local copy is " + std::to_string(status.local()) + " bytes, the server's is " +
                   std::to_string(status.server());
        case K::notBackedUp: return "Not in your vault yet \u2014 run a backup first";
        case K::unreadable: return "Local copy doesn't read as a complete email";
        case K::pending:
        case K::verified: break;
    }
    return std::nullopt;
}

std::vector<CleanupItem> CleanupPlan::verified() const {
    std::vector<CleanupItem> out;
    for (const auto& item : items)
        if (item.status.is(CleanupItem::Status::Kind::verified)) out.push_back(item);
    return out;
}

std::vector<CleanupItem> CleanupPlan::unverified() const {
    std::vector<CleanupItem> out;
    for (const auto& item : items) {
        auto k = item.status.kind();
        if (k != CleanupItem::Status::Kind::verified && k != CleanupItem::Status::Kind::pending) out.push_back(item);
    }
    return out;
}

std::int64_t CleanupPlan::pending() const {
    std::int64_t n = 0;
    for (const auto& item : items)
        if (item.status.is(CleanupItem::Status::Kind::pending)) ++n;
    return n;
}

std::int64_t CleanupPlan::verifiedBytes() const {
    std::int64_t sum = 0;
    for (const auto& item : items)
        if (item.status.is(CleanupItem::Status::Kind::verified)) sum += item.serverSize;
    return sum;
}

CleanupError CleanupError::otherDeletedMessages(std::int64_t n) {
    CleanupError e(Kind::otherDeletedMessages);
    e.count_ = n;
    e.describe();
    return e;
}

CleanupError CleanupError::stopped(std::int64_t released, std::int64_t total, std::optional<std::string> problem,
                                   std::int64_t unknown) {
    CleanupError e(Kind::stopped);
    e.released_ = released;
    e.total_ = total;
    e.problem_ = std::move(problem);
    e.unknown_ = unknown < 0 ? 0 : unknown;
    e.describe();
    return e;
}

CleanupError CleanupError::uidValidityChanged() {
    CleanupError e(Kind::uidValidityChanged);
    e.describe();
    return e;
}

CleanupError CleanupError::nothingVerified() {
    CleanupError e(Kind::nothingVerified);
    e.describe();
    return e;
}

void CleanupError::describe() {
    auto n = [](std::int64_t v) { return std::to_string(v); };
    switch (kind_) {
        case Kind::otherDeletedMessages:
            description_ = "This server can only remove all messages marked for deletion at once, and " + n(count_) +
                           " other message(s) in the folder are already marked. Nothing was deleted.";
            break;
        case Kind::stopped:
            if (problem_) {
                description_ = "Released " + n(released_) + " of " + n(total_) +
                               " messages, then the server reported a problem (" + *problem_ + ").";
                if (unknown_ > 0) {
                    // Never call messages untouched that may already be gone.
                    description_ += " " + n(unknown_) + " more may have been removed as well; the other " +
                                    n(total_ - released_ - unknown_) + " are still on the server, untouched.";
                } else {
                    description_ += " The other " + n(total_ - released_) + " are still on the server, untouched.";
                }
            } else if (released_ == 0) {
                description_ = "Stopped before anything was released.";
            } else {
                description_ = "Stopped after releasing " + n(released_) + " of " + n(total_) +
                               " messages. The other " + n(total_ - released_) + " stay on the server.";
            }
            break;
        case Kind::uidValidityChanged:
            description_ =
                "The folder was renumbered on the server since it was checked. Run a backup, then "
                "check again.";
            break;
        case Kind::nothingVerified:
            description_ = "No message in the selection has a verified copy in your vault. Nothing was deleted.";
            break;
    }
}

}  // namespace bx
