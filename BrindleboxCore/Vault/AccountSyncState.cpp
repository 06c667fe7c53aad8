#include "Vault/AccountSyncState.h"

#include <algorithm>

#include "Vault/ArchiveLayout.h"
#include "Vault/SyncStateDecoder.h"

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
    auto decoded = decodeSyncFolders(text);
    AccountSyncState state;
    for (auto& [name, folder] : decoded) {
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

void AccountSyncState::applyJournal(std::string_view lines) {
    size_t start = 0;
    while (start < lines.size()) {
        const size_t end = lines.find('\n', start);
        if (end == std::string_view::npos) break;  // cut short by a kill
        const std::string_view line = lines.substr(start, end - start);
        start = end + 1;
        FolderState entry;
        try {
            entry = JSONCodec<FolderState>::decode(parseJSON(line), "");
        } catch (const std::exception&) {
            continue;
        }
        if (!ArchiveLayout::isSafeRelativePath(entry.directory)) continue;
        auto [slot, isNew] = folders.try_emplace(entry.mailbox, entry.mailbox, entry.directory, entry.uidValidity);
        FolderState& folder = slot->second;
        if (!isNew && folder.uidValidity != entry.uidValidity) {
            folder = FolderState(entry.mailbox, entry.directory, entry.uidValidity);
            folder.sizes = std::map<std::string, std::int64_t>{};
        }
        folder.directory = entry.directory;
        folder.highestUID = std::max(folder.highestUID, entry.highestUID);
        if (entry.lastRun && (!folder.lastRun || *folder.lastRun < *entry.lastRun)) folder.lastRun = entry.lastRun;
        for (auto& [uid, path] : entry.files)
            if (ArchiveLayout::isSafeRelativePath(path)) folder.files[uid] = std::move(path);
        if (entry.sizes) {
            if (!folder.sizes) folder.sizes = std::map<std::string, std::int64_t>{};
            for (const auto& [uid, size] : *entry.sizes) (*folder.sizes)[uid] = size;
        }
    }
}

}  // namespace bx
