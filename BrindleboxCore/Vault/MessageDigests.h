#pragma once
// SHA-256 digests of the message files the backup wrote, so that the copy
// check can tell a local copy that changed in place at the same size.
//
// One append-only file per vault folder (account folder "/" mail folder: the
// first two components of a message's path) in the state folder, named "digests-<hash of the folder>.txt". Each
// complete line is "<64 hex digits> <vault-relative path>"; for a path named twice the last line counts. A line cut
// short by a kill has no line end and is not read. Files backed up before digests were kept have none; the sync files
// are untouched by all this.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Vault/ArchiveLayout.h"

namespace bx {

struct MessageDigests {
    // 64 lower-case hexadecimal digits.
    static std::string sha256(std::string_view data);

    // The state file that records the digests of files below `directory`.
    static std::filesystem::path fileFor(const ArchiveLayout& layout, std::string_view directory);

    // Appends (vault-relative path, digest) records, each to the file of the
    // path's folder, flushed unless the caller flushes the file system itself
    // (ArchiveLayout::syncFiles). Paths with fewer than three components are
    // not recorded. Throws std::system_error.
    static void append(const ArchiveLayout& layout,
                       const std::vector<std::pair<std::string, std::string>>& pathsAndDigests, bool flush = true);

    // The digest last recorded for the vault-relative `path` of a backed-up
    // message (its first two components name the folder). Never throws.
    static std::optional<std::string> lookup(const ArchiveLayout& layout, std::string_view path);

    // The digests recorded for the files below one vault folder, to look
    // many paths up: each answer is lookup()'s for that path while the file
    // stays as it is. The last table read is kept until its file changes.
    // Never throws; a missing or unreadable file gives an empty table.
    class Table {
    public:
        std::optional<std::string_view> find(std::string_view path) const;

    private:
        friend struct MessageDigests;
        std::string text_;  // what byPath_ points into; never moved
        std::unordered_map<std::string_view, std::string_view> byPath_;
    };
    static std::shared_ptr<const Table> table(const ArchiveLayout& layout, std::string_view directory);

    // Account folder "/" mail folder of a backed-up message's path: whose
    // digest file records it.
    static std::optional<std::string_view> folderOf(std::string_view path);

    // Every digest recorded for the files below the vault folder `directory`
    // (account folder "/" mail folder), by vault-relative path; empty when
    // the file is missing or unreadable. Never throws.
    static std::map<std::string, std::string, std::less<>> recorded(const ArchiveLayout& layout,
                                                                   std::string_view directory);
};

}  // namespace bx
