#include "Vault/AccountSyncState.h"

#include "Vault/SyncStateCodec.h"

namespace bx {

std::string AccountSyncState::toJSON() const {
    std::string out;
    writeSyncFile(compact(), [&](std::string_view piece) { out += piece; });
    return out;
}

AccountSyncState AccountSyncState::fromJSON(std::string_view text) {
    return from(decodeSyncFile(text));
}

AccountSyncState AccountSyncState::from(const SyncFolders& folders) {
    AccountSyncState state;
    for (const auto& [name, folder] : folders) state.folders.emplace(name, folder.state());
    return state;
}

SyncFolders AccountSyncState::compact() const {
    SyncFolders out;
    for (const auto& [name, state] : folders) out.emplace(name, SyncFolder::from(state));
    return out;
}

}  // namespace bx
