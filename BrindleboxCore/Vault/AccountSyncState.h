#pragma once
// The sync state of one account: one FolderState per raw mailbox name, kept in
// the vault as .brindlebox/sync-<account id>.json.
#include <map>
#include <string>
#include <string_view>

#include "Vault/FolderState.h"
#include "Vault/SyncFolder.h"

namespace bx {

struct AccountSyncState {
    std::map<std::string, FolderState> folders;

    AccountSyncState() = default;

    // Compact JSON: {"folders":{"<mailbox>":{...},...}}.
    std::string toJSON() const;

    // Strict decoding as Vault/SyncStateCodec.h reads; throws JSONDecodeError.
    static AccountSyncState fromJSON(std::string_view text);

    static AccountSyncState from(const SyncFolders& folders);
    SyncFolders compact() const;

    friend bool operator==(const AccountSyncState&, const AccountSyncState&) = default;
};

}  // namespace bx
