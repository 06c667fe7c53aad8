#include "Vault/AccountSyncState.h"

#include "Vault/ArchiveLayout.h"

namespace bx {

std::string AccountSyncState::toJSON() const {
    std::string out;
    size_t estimate = 32;
    for (const auto& [name, state] : folders) estimate += 128 + state.files.size() * 120;
    out.reserve(estimate);
    out += "{\"folders\":{";
    bool first = true;
    for (const auto& [name, state] : folders) {
        if (!first) out += ',';
        first = false;
        appendJSONString(out, name);
        out += ':';
        appendJSON(out, state);
    }
    out += "}}";
    return out;
}

AccountSyncState AccountSyncState::fromJSON(std::string_view text) {
    const json doc = parseJSON(text);
    const auto decoded = requiredKey<std::map<std::string, FolderState>>(doc, "folders");
    AccountSyncState state;
    for (auto [name, folder] : decoded) {
        if (!ArchiveLayout::isSafeRelativePath(folder.directory)) continue;
        for (auto it = folder.files.begin(); it != folder.files.end();) {
            if (ArchiveLayout::isSafeRelativePath(it->second))
                ++it;
            else
                it = folder.files.erase(it);
        }
        state.folders.emplace(name, std::move(folder));
    }
    return state;
}

}  // namespace bx
