#pragma once
// The release's note of the messages it has flagged \Deleted and not yet
// expunged or unflagged. A release killed between the two leaves the note
// behind; the next release or backup of that folder finds the messages by it
// and takes their flag off (a release then flags and expunges those it still
// releases), so no message stays marked for deletion where another mail
// program's expunge would take it.
//
// One note per account, in the state folder: "release-<account id>.json".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Util/UUID.h"
#include "Vault/ArchiveLayout.h"

namespace bx {

class IMAPClient;

struct ReleaseJournal {
    std::string mailbox;  // raw name
    std::uint32_t uidValidity = 0;
    std::vector<std::uint32_t> uids;

    // Written whole before the flags are set. Throws std::system_error.
    static void write(const ArchiveLayout& layout, const UUID& account, const ReleaseJournal& journal);
    // Absent when there is none or it cannot be read. Never throws.
    static std::optional<ReleaseJournal> read(const ArchiveLayout& layout, const UUID& account);
    // Never throws; a note that cannot be removed is taken up again next time.
    static void clear(const ArchiveLayout& layout, const UUID& account);

    // With `mailbox` selected read-write under `uidValidity`: takes the flag
    // off the noted messages the folder still holds, removes the note, and
    // returns how many were unflagged. Nothing happens (0) when the note is
    // of another folder; a note of another numbering names no message any
    // more and is removed. Throws what the client throws, leaving the note.
    static std::int64_t unflagLeftovers(IMAPClient& client, const ArchiveLayout& layout, const UUID& account,
                                        const std::string& mailbox, std::uint32_t uidValidity);
};

}  // namespace bx
