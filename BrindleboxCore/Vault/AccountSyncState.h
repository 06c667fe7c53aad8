#pragma once
// The sync state of one account: one FolderState per raw mailbox name, kept in
// the vault as .brindlebox/sync-<account id>.json.
#include <map>
#include <string>
#include <string_view>

#include "Vault/FolderState.h"

namespace bx {

struct AccountSyncState {
    std::map<std::string, FolderState> folders;

    AccountSyncState() = default;

    // Compact JSON: {"folders":{"<mailbox>":{...},...}}.
    std::string toJSON() const;

    // Strict decoding; throws JSONDecodeError. Folder states whose directory,
    // and file entries whose path, would leave the vault (empty, "." or ".."
    // components, absolute paths) are dropped: a tampered file must never make
    // a backup write, or anything read, outside the vault.
    static AccountSyncState fromJSON(std::string_view text);

    // Applies the lines of a sync journal: each complete line is one folder
    // state in the JSON form of FolderState holding only the entries one
    // batch added. Its mailbox, directory and UIDVALIDITY replace the
    // folder's (a different UIDVALIDITY starts the folder afresh), its
    // highest UID counts when higher, and its files and sizes are added. Lines
    // that do not decode, and paths that would leave the vault, are skipped.
    void applyJournal(std::string_view lines);

    friend bool operator==(const AccountSyncState&, const AccountSyncState&) = default;
};

}  // namespace bx
