#pragma once
// What the vault remembers about one mail folder between backups. Read and
// written through its compact form (SyncFolder, Vault/SyncStateCodec.h).
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "Util/Date.h"

namespace bx {

struct FolderState {
    std::string mailbox;    // raw mailbox name on the server
    std::string directory;  // vault-relative: account folder "/" mail folder
    std::uint32_t uidValidity = 0;
    std::uint32_t highestUID = 0;              // every new UID up to this one is stored
    std::map<std::string, std::string> files;  // decimal UID -> vault-relative .eml path
    std::optional<Date> lastRun;
    std::optional<std::map<std::string, std::int64_t>> sizes;  // decimal UID -> recorded size

    FolderState() = default;
    FolderState(std::string mailbox, std::string directory, std::uint32_t uidValidity)
        : mailbox(std::move(mailbox)), directory(std::move(directory)), uidValidity(uidValidity) {}

    friend bool operator==(const FolderState&, const FolderState&) = default;
};

}  // namespace bx
