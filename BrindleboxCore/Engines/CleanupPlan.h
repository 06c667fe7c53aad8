#pragma once
// The free-up plan for one folder: its messages older than the cut-off, each
// with the state of its local copy. Lives in memory only.
#include <cstdint>
#include <string>
#include <vector>

#include "Engines/CleanupItem.h"
#include "Util/Date.h"

namespace bx {

struct CleanupPlan {
    CleanupPlan() = default;
    CleanupPlan(std::string mailbox, std::string displayName, Date before, std::uint32_t uidValidity,
                std::vector<CleanupItem> items)
        : mailbox(std::move(mailbox)),
          displayName(std::move(displayName)),
          before(before),
          uidValidity(uidValidity),
          items(std::move(items)) {}

    std::string mailbox;  // raw name, as sent in commands
    std::string displayName;
    Date before{};  // only messages older than this were surveyed
    std::uint32_t uidValidity = 0;
    std::vector<CleanupItem> items;  // ascending UID
    // Messages of the folder already flagged \Deleted that are not among items.
    std::int64_t otherDeletedOnServer = 0;
    bool serverSupportsUIDPlus = false;

    // Each computed afresh from items.
    std::vector<CleanupItem> verified() const;    // the only release candidates
    std::vector<CleanupItem> unverified() const;  // checked and kept on the server
    std::int64_t pending() const;
    std::int64_t verifiedBytes() const;
    // Without UIDPLUS an EXPUNGE takes every \Deleted message of the folder
    // with it, so foreign marked messages make a release unsafe.
    bool canDeleteSafely() const { return serverSupportsUIDPlus || otherDeletedOnServer == 0; }
};

}  // namespace bx
